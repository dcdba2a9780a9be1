#!/bin/sh
# check_deb.sh BUILD_DIR: cpack makes the three Debian packages; each holds
# what it should, has its dependencies computed, and lintian finds no error
# in it (warnings are printed).
set -eu
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp" > "$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; exit 1; }

status=0
deb() { ls "$tmp"/"$1"_*.deb 2>/dev/null | head -n 1; }
for p in zefplayer libmirlane1 libmirlane-dev; do
  [ -n "$(deb $p)" ] || { echo "no package $p:"; ls "$tmp"; cat "$tmp/cpack.log"; exit 1; }
done
contains() {  # PACKAGE PATH...
  p=$1; shift
  dpkg-deb -c "$(deb "$p")" | awk '{ print $6 }' > "$tmp/list"
  for f in "$@"; do grep -qx "./$f" "$tmp/list" || { echo "$p lacks $f"; status=1; }; done
}
contains zefplayer usr/bin/zefplayer usr/bin/zefdec usr/bin/zefenc usr/bin/zefinfo usr/bin/zefplay \
         usr/share/zefplayer/intro.zef usr/share/man/man1/zefenc.1.gz usr/share/doc/zefplayer/copyright
contains libmirlane1 usr/lib/libmirlane.so.1 usr/share/doc/libmirlane1/copyright
contains libmirlane-dev usr/include/mirlane.h usr/lib/libmirlane.a usr/lib/pkgconfig/mirlane.pc \
         usr/lib/cmake/mirlane/mirlaneConfig.cmake usr/share/man/man3/mirlane.3.gz
depends=$(dpkg-deb -f "$(deb zefplayer)" Depends)
case $depends in *libasound2*libc6*|*libc6*libasound2*) ;; *) echo "zefplayer depends on: $depends"; status=1 ;; esac
depends=$(dpkg-deb -f "$(deb libmirlane1)" Depends)
case $depends in *libasound2*) ;; *) echo "libmirlane1 depends on: $depends"; status=1 ;; esac

lintian --tag-display-limit 0 --fail-on error "$tmp"/*.deb > "$tmp/lintian.log" 2>&1 || status=1
cat "$tmp/lintian.log"
[ $status -eq 0 ] && echo "three packages, lintian without errors"
exit $status
