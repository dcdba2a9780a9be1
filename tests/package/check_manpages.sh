#!/bin/sh
# check_manpages.sh PAGE...: each page renders with man and with groff
# without a single warning.
set -eu
status=0
for page in "$@"; do
  warnings=$( { LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" > /dev/null; } 2>&1 )
  warnings="$warnings$(groff -ww -t -man -Tutf8 -z "$page" 2>&1)"
  if [ -n "$warnings" ]; then
    echo "$(basename "$page"):"; echo "$warnings"; status=1
  elif ! LC_ALL=C.UTF-8 man -l "$page" 2>/dev/null | grep -q '^NAME'; then
    echo "$(basename "$page"): renders without a NAME section"; status=1
  fi
done
[ $status -eq 0 ] && echo "$# pages without warnings"
exit $status
