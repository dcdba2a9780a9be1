#!/bin/sh
# check_install.sh BUILD_DIR CC FILE...: installs the build into a fresh
# prefix, checks that everything is there, builds examples/zefdecode.c from
# the installed files three ways (pkg-config, pkg-config --static, CMake's
# find_package), and compares what each decodes from FILE with zefdec's.
set -eu
build=$1 cc=$2; shift 2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" > "$tmp/install.log"

status=0
for f in lib/libmirlane.so.1 lib/libmirlane.so lib/libmirlane.a include/mirlane.h \
         lib/pkgconfig/mirlane.pc lib/cmake/mirlane/mirlaneConfig.cmake \
         lib/cmake/mirlane/mirlaneConfigVersion.cmake lib/cmake/mirlane/mirlaneTargets.cmake \
         bin/zefinfo bin/zefdec bin/zefenc bin/zefplay bin/zefplayer share/zefplayer/intro.zef \
         share/man/man1/zefplayer.1.gz share/man/man1/zefinfo.1.gz share/man/man1/zefdec.1.gz \
         share/man/man1/zefenc.1.gz share/man/man1/zefplay.1.gz share/man/man3/mirlane.3.gz \
         share/doc/libmirlane-dev/examples/zefdecode.c; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; status=1; }
done
real=$(readlink -f "$prefix/lib/libmirlane.so.1")
case $real in */libmirlane.so.1.*) ;; *) echo "libmirlane.so.1 points at $real"; status=1 ;; esac
soname=$(readelf -d "$prefix/lib/libmirlane.so.1" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libmirlane.so.1 ] || { echo "soname is '$soname'"; status=1; }
[ $status -eq 0 ] || exit 1

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
src=$prefix/share/doc/libmirlane-dev/examples
strict="-std=c89 -pedantic -Wall -Wextra -Werror"
# shared: the .so through pkg-config
$cc $strict "$src/zefdecode.c" $(pkg-config --cflags --libs mirlane) -Wl,-rpath,"$prefix/lib" \
    -o "$tmp/zefdecode-shared"
# static: the archive alone with pkg-config's private libraries
$cc $strict "$src/zefdecode.c" $(pkg-config --static --cflags --libs mirlane | sed 's/-lmirlane\b/-l:libmirlane.a/') \
    -o "$tmp/zefdecode-static"
# CMake: find_package(mirlane) and mirlane::mirlane
cmake -S "$src" -B "$tmp/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" \
      -DCMAKE_C_FLAGS="$strict" > "$tmp/cmake.log" || { cat "$tmp/cmake.log"; exit 1; }
cmake --build "$tmp/cmake-build" > "$tmp/cmake-build.log" || { cat "$tmp/cmake-build.log"; exit 1; }
cp "$tmp/cmake-build/zefdecode" "$tmp/zefdecode-cmake"

needs() { readelf -d "$1" | grep -q "NEEDED.*\[$2\]"; }
needs "$tmp/zefdecode-shared" libmirlane.so.1 || { echo "pkg-config build does not use libmirlane.so.1"; status=1; }
needs "$tmp/zefdecode-cmake" libmirlane.so.1 || { echo "find_package build does not use libmirlane.so.1"; status=1; }
! needs "$tmp/zefdecode-static" 'libmirlane[^]]*' || { echo "static build needs libmirlane.so"; status=1; }

for file in "$@"; do
  name=$(basename "$file")
  "$prefix/bin/zefdec" -q "$file" "$tmp/$name.zefdec.wav"
  for way in shared static cmake; do
    if ! "$tmp/zefdecode-$way" "$file" "$tmp/$name.$way.wav"; then
      echo "$way: zefdecode failed on $name"; status=1
    elif ! cmp -s "$tmp/$name.zefdec.wav" "$tmp/$name.$way.wav"; then
      echo "$way: $name decodes differently from zefdec"; status=1
    fi
  done
done
# A file it cannot decode: the library's message, no output left behind.
if "$tmp/zefdecode-shared" "$prefix/include/mirlane.h" "$tmp/bad.wav" 2> "$tmp/bad.err"; then
  echo "a header file decoded without error"; status=1
fi
grep -q '^ZEFERR_' "$tmp/bad.err" || { echo "no library message:"; cat "$tmp/bad.err"; status=1; }
[ ! -e "$tmp/bad.wav" ] || { echo "output of a failed decode left behind"; status=1; }
[ $status -eq 0 ] && echo "installed; example built three ways decodes $# files as zefdec does"
exit $status
