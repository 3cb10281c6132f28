#!/usr/bin/env bash
# Makes docs/contact-sheet.png: the eleven pictures of resources/ at full
# size, as the saver stores them, each under its resource name.
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
montage=${IMAGEMAGICK_MONTAGE:-/usr/bin/montage}
[ -x "$montage" ] || { echo "make-contact-sheet: ImageMagick is missing; run tools/install-deps.sh" >&2; exit 1; }

pictures=()
for n in 1 2 3 4 5 6 7 8 9 10 11; do
  pictures+=(-label "MAP$n" "$top/resources/map$n.bmp")
done
"$montage" "${pictures[@]}" -tile 4x -geometry +8+8 -background '#202020' -fill '#e0e0e0' \
  -pointsize 14 -depth 8 +set date:create +set date:modify -define png:exclude-chunks=date,time \
  "$top/docs/contact-sheet.png"
echo "wrote docs/contact-sheet.png"
