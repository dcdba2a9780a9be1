#!/bin/sh
# The desktop files as `cmake --install` puts them under a fresh prefix,
# checked by the desktop's own tools: the menu entry, the Zef type with its
# magic (as update-mime-database compiles it) and the icon, which must be
# what its generator makes.
#   desktop_install.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1 source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" --component desktop >/dev/null
share=$prefix/share
desktop-file-validate "$share/applications/zefplayer.desktop"
xmllint --noout "$share/mime/packages/zefplayer.xml" "$share/icons/hicolor/scalable/apps/zefplayer.svg"
update-mime-database "$share/mime"
grep -qx 'audio/x-zef' "$share/mime/types"
grep -q '\*\.x-zef' "$share/mime/globs2"
grep -aq 'ZEF!' "$share/mime/magic"
python3 "$source/tools/gen/icon/make_icon.py" "$prefix/icon.svg"
cmp "$prefix/icon.svg" "$source/player/desktop/zefplayer.svg"
echo "desktop files valid"
