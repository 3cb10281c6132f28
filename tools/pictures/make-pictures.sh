#!/usr/bin/env bash
# Makes resources/map1.bmp .. map11.bmp and resources/CREDITS from the
# photographs listed in pictures.txt, which come from Debian packages
# (downloaded, not installed). For each picture it prints the blurred colour
# difference of our reduction and of ImageMagick's Floyd-Steinberg reduction
# to the same table, and fails when ours is not the lower. The blur is done
# in linear light, as the light of neighbouring pixels mixes on a screen; a
# blur of the gamma-encoded values instead would favour a reduction that keeps
# the encoded average (as ImageMagick's does) over one that keeps the light.
# Needs g++ and ImageMagick (tools/install-deps.sh) and Debian's archive.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
work=${PICTURES_WORK:-$top/build/pictures}
resources=$top/resources
convert=${IMAGEMAGICK_CONVERT:-/usr/bin/convert}
export IMAGEMAGICK_CONVERT=$convert

[ -x "$convert" ] || { echo "make-pictures: ImageMagick is missing; run tools/install-deps.sh" >&2; exit 1; }
mkdir -p "$work/packages" "$work/scaled"

tool=$work/vellomire-picture
g++ -std=c++17 -O2 -Wall -Wextra -Werror -o "$tool" "$here"/colour.cpp "$here"/dither.cpp \
  "$here"/formats.cpp "$here"/main.cpp

manifest=$(grep -v '^#' "$here/pictures.txt" | grep -v '^$')

# Each package once, unpacked into its own folder.
for package in $(cut -d'|' -f3 <<<"$manifest" | sort -u); do
  if [ ! -d "$work/packages/$package" ]; then
    rm -rf "$work/packages/$package.tmp" && mkdir -p "$work/packages/$package.tmp"
    (cd "$work/packages/$package.tmp" && apt-get download -q "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
    deb=$(ls "$work/packages/$package.tmp"/*.deb)
    dpkg-deb -x "$deb" "$work/packages/$package.tmp/root"
    basename "$deb" >"$work/packages/$package.tmp/deb-name"
    mv "$work/packages/$package.tmp" "$work/packages/$package"
  fi
done

"$tool" palette "$work/palette.ppm"

credits=$work/CREDITS.new
{
  echo "The eleven pictures of Vellomire, made by tools/pictures/make-pictures.sh from"
  echo "photographs in Debian packages (Debian 12). Each picture was cropped, scaled"
  echo "to 450 pixels wide and reduced to the 3-3-2 colour table. Licences as given"
  echo "in each package's copyright file or, for scikit-image, in its data module."
  echo "CC-BY-4.0 is the Creative Commons Attribution 4.0 International licence;"
  echo "CC0-1.0 the Creative Commons Zero 1.0 Universal public domain dedication."
  echo
} >"$credits"

printf '%-6s %-42s %10s %12s\n' picture source "ours dE" "ImageMagick"
status=0
while IFS='|' read -r name height package file crop title author licence; do
  number=${name#MAP}
  lower=map$number
  source=$work/packages/$package/root$file
  crop_args=()
  [ "$crop" = centre ] || crop_args=(--crop "$crop")
  clr_used=$(( number % 2 ? 256 : 0 ))
  "$tool" convert --height "$height" "${crop_args[@]}" --clr-used "$clr_used" \
    --scaled "$work/scaled/$lower.ppm" "$source" "$resources/$lower.bmp"

  "$convert" "$work/scaled/$lower.ppm" -dither FloydSteinberg -remap "$work/palette.ppm" \
    -depth 16 "$work/scaled/$lower-imagemagick.ppm"
  ours=$("$tool" measure "$work/scaled/$lower.ppm" "$resources/$lower.bmp")
  theirs=$("$tool" measure "$work/scaled/$lower.ppm" "$work/scaled/$lower-imagemagick.ppm")
  printf '%-6s %-42s %10s %12s\n' "$name" "$(basename "$file")" "$ours" "$theirs"
  awk -v a="$ours" -v b="$theirs" 'BEGIN { exit !(a < b) }' || {
    echo "make-pictures: $name: our reduction is not closer than ImageMagick's" >&2
    status=1
  }

  {
    echo "$name ($lower.bmp): \"$title\""
    echo "  file:    $file"
    echo "  package: $(cat "$work/packages/$package/deb-name")"
    echo "  author:  $author"
    echo "  licence: $licence"
    [ "$crop" = centre ] || echo "  crop:    $crop (x, y, width in source pixels)"
    echo
  } >>"$credits"
done <<<"$manifest"

mv "$credits" "$resources/CREDITS"
echo "quality: mean CIE76 colour difference after a Gaussian blur (sigma 1 pixel, linear light)"
exit $status
