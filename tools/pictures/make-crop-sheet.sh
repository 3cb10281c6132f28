#!/usr/bin/env bash
# Makes docs/picture-crops.png: parts of three pictures at twice their size,
# as a pixel of a 14-inch 640x480 screen shows them, each as the scaled
# photograph, as our reduction to the 3-3-2 table and as ImageMagick's
# Floyd-Steinberg reduction to it. Reads what make-pictures.sh leaves in its
# work folder.
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
work=${PICTURES_WORK:-$top/build/pictures}
convert=${IMAGEMAGICK_CONVERT:-/usr/bin/convert}
montage=${IMAGEMAGICK_MONTAGE:-/usr/bin/montage}
[ -x "$montage" ] || { echo "make-crop-sheet: ImageMagick is missing; run tools/install-deps.sh" >&2; exit 1; }

# Picture and part (width x height + x + y): skin and a light backdrop,
# shaded hills, a night sky.
crops=("7 120x80+175+45" "9 120x80+20+150" "5 120x80+270+30")
tiles=()
for entry in "${crops[@]}"; do
  read -r n box <<<"$entry"
  for kind in source ours ImageMagick; do
    case $kind in
      source) from=$work/scaled/map$n.ppm ;;
      ours) from=$top/resources/map$n.bmp ;;
      ImageMagick) from=$work/scaled/map$n-imagemagick.ppm ;;
    esac
    [ -r "$from" ] || { echo "make-crop-sheet: $from is missing; run make-pictures.sh" >&2; exit 1; }
    "$convert" "$from" -crop "$box" +repage -scale 200% -depth 8 "$work/crop-$n-$kind.png"
    tiles+=(-label "MAP$n $kind" "$work/crop-$n-$kind.png")
  done
done
"$montage" "${tiles[@]}" -tile 3x -geometry +6+6 -background '#202020' -fill '#e0e0e0' \
  -pointsize 14 -depth 8 +set date:create +set date:modify -define png:exclude-chunks=date,time \
  "$top/docs/picture-crops.png"
echo "wrote docs/picture-crops.png"
