#!/bin/bash
# Checks the panel's desktop files in the build's install tree: the desktop
# entry passes desktop-file-validate, the AppStream metainfo passes appstreamcli
# validate (with the entry it launches beside it), and the icon the entry names
# is installed at 48 px, 256 px and scalable.
#
#   check_desktop.sh ROOT    (the build installed into ROOT/usr)
set -u
root=$1
# shellcheck source=tests/check_lib.sh
source "$(dirname "$0")/check_lib.sh"
need desktop-file-validate desktop-file-utils
need appstreamcli appstream

share=$root/usr/share
entries=("$share"/applications/*.desktop)
metainfo=("$share"/metainfo/*.metainfo.xml)
((${#entries[@]} == 1)) || fail "expected one desktop entry: ${entries[*]}"
((${#metainfo[@]} == 1)) || fail "expected one metainfo file: ${metainfo[*]}"
entry=${entries[0]}

desktop-file-validate "$entry" || fail "desktop-file-validate rejects $entry"
# validate-tree also finds the desktop entry that the metainfo launches.
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli rejects $root"
id=$(basename "${metainfo[0]}" .metainfo.xml)
[[ $(basename "$entry") == "$id.desktop" ]] || fail "the desktop entry is not named $id.desktop"

# PNG width and height, from the IHDR chunk
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }'; }
icon=$(sed -n 's/^Icon=//p' "$entry")
apps=$share/icons/hicolor
for size in 48x48 256x256; do
    file=$apps/$size/apps/$icon.png
    if [[ ! -f $file ]]; then
        fail "no $size icon $icon.png"
    elif [[ $(png_size "$file") != "$size" ]]; then
        fail "$file is $(png_size "$file"), not $size"
    fi
done
grep -q '<svg' "$apps/scalable/apps/$icon.svg" 2>/dev/null || fail "no scalable icon $icon.svg"
verdict
