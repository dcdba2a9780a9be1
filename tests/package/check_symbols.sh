#!/bin/sh
# check_symbols.sh LIBRARY HEADER: the shared library exports exactly what the
# header declares with MIRLANE_API, and the header declares nothing without it.
set -eu
lib=$1 header=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Names declared with MIRLANE_API: the identifier before "(" or "[".
sed -n 's/^MIRLANE_API .*[ *]\([A-Za-z_][A-Za-z0-9_]*\) *[[(].*/\1/p' "$header" | sort > "$tmp/declared"
nm -D --defined-only "$lib" | awk '{ print $3 }' | sort > "$tmp/exported"

status=0
# A prototype or object at file level without the export macro.
if grep -nE '^(const |extern |unsigned )?[A-Za-z_][A-Za-z0-9_]*[ *]+[A-Za-z_][A-Za-z0-9_]* *[[(]' "$header" \
     | grep -vE ':(typedef|#|MIRLANE_API )' > "$tmp/bare"; then
  echo "declared without MIRLANE_API:"; cat "$tmp/bare"; status=1
fi
if [ "$(wc -l < "$tmp/declared")" -lt 50 ]; then
  echo "only $(wc -l < "$tmp/declared") declarations found in $header"; status=1
fi
comm -23 "$tmp/declared" "$tmp/exported" > "$tmp/missing"
comm -13 "$tmp/declared" "$tmp/exported" > "$tmp/extra"
if [ -s "$tmp/missing" ]; then echo "declared but not exported:"; cat "$tmp/missing"; status=1; fi
if [ -s "$tmp/extra" ]; then echo "exported but not declared:"; cat "$tmp/extra"; status=1; fi
[ $status -eq 0 ] && echo "$(wc -l < "$tmp/exported") symbols, all declared in $(basename "$header")"
exit $status
