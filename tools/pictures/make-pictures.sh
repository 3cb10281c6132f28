#!/usr/bin/env bash
# Makes resources/map1.bmp .. map11.bmp and resources/CREDITS from the
# photographs listed in pictures.txt, which come from Debian packages
# (downloaded, not installed), then docs/picture-crops.png. For each picture
# it prints how close our reduction and ImageMagick's Floyd-Steinberg
# reduction to the same table come to the scaled photograph: the S-CIELAB
# difference at 20 pixels per degree (a pixel of a 14-inch 640x480 screen at
# arm's length) and at 40 (a modern monitor), and the error of the mean light.
# It fails unless ours is the lower on both S-CIELAB figures and keeps the
# light within 1 %. Needs g++ and ImageMagick (tools/install-deps.sh) and
# Debian's archive; the search takes about a minute of CPU.
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
g++ -std=c++17 -O3 -Wall -Wextra -Werror -o "$tool" "$here"/colour.cpp "$here"/dither.cpp \
  "$here"/formats.cpp "$here"/main.cpp "$here"/scielab.cpp "$here"/search.cpp

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
  echo "The eleven pictures of Vellomire, made by tools/pictures/make-pictures.sh"
  echo "from photographs in Debian packages (Debian 12). Each picture is a changed"
  echo "version of its photograph: cropped, scaled to 450 pixels wide and reduced"
  echo "to 256 colours (the 3-3-2 colour table). Licences as given in each"
  echo "package's copyright file or, for scikit-image, in its data module."
  echo
} >"$credits"

# The licence of a picture, in lines of the credits.
licence_lines() {
  case $1 in
    CC-BY-4.0)
      echo "  licence: Creative Commons Attribution 4.0 International (CC BY 4.0),"
      echo "           https://creativecommons.org/licenses/by/4.0/" ;;
    CC0-1.0)
      echo "  licence: Creative Commons Zero 1.0 Universal (CC0 1.0),"
      echo "           https://creativecommons.org/publicdomain/zero/1.0/" ;;
    *) echo "  licence: $1" ;;
  esac
}

row() { printf '%-7s %7s %11s   %7s %11s   %7s %11s\n' "$@"; }
echo "        ---- S-CIELAB 20 ---   ---- S-CIELAB 40 ---   --- light error % --"
row picture ours ImageMagick ours ImageMagick ours ImageMagick
status=0
while IFS='|' read -r name height package file crop title author licence; do
  number=${name#MAP}
  lower=map$number
  source=$work/packages/$package/root$file
  crop_args=()
  [ "$crop" = centre ] || crop_args=(--crop "$crop")
  clr_used=$(( number % 2 ? 256 : 0 ))
  nice "$tool" convert --height "$height" "${crop_args[@]}" --clr-used "$clr_used" \
    --scaled "$work/scaled/$lower.ppm" "$source" "$resources/$lower.bmp"

  "$convert" "$work/scaled/$lower.ppm" -dither FloydSteinberg -remap "$work/palette.ppm" \
    -depth 16 "$work/scaled/$lower-imagemagick.ppm"
  read -r ours20 ours40 ours_light < <("$tool" measure "$work/scaled/$lower.ppm" "$resources/$lower.bmp")
  read -r theirs20 theirs40 theirs_light < <("$tool" measure "$work/scaled/$lower.ppm" "$work/scaled/$lower-imagemagick.ppm")
  row "$name" "$ours20" "$theirs20" "$ours40" "$theirs40" "$ours_light" "$theirs_light"
  awk -v a="$ours20" -v b="$theirs20" -v c="$ours40" -v d="$theirs40" -v l="$ours_light" \
    'BEGIN { exit !(a < b && c < d && l <= 1 && l >= -1) }' || {
    echo "make-pictures: $name: ours is not closer than ImageMagick's on both figures with the light within 1 %" >&2
    status=1
  }

  {
    echo "$name ($lower.bmp): \"$title\""
    echo "  file:    $file"
    echo "  package: $(cat "$work/packages/$package/deb-name")"
    echo "  author:  $author"
    licence_lines "$licence"
    echo "  changed: cropped, scaled to 450x$height pixels, reduced to 256 colours"
    [ "$crop" = centre ] || echo "  crop:    $crop (x, y, width in source pixels)"
    echo
  } >>"$credits"
done <<<"$manifest"

# Shipped as a Windows text file: plain ASCII, short lines.
if LC_ALL=C grep -n '[^ -~]' "$credits" >&2 || awk 'length > 76 { print FILENAME ":" FNR ": longer than 76"; bad = 1 } END { exit !bad }' "$credits" >&2; then
  echo "make-pictures: the credits must be plain ASCII in lines of at most 76 characters" >&2
  exit 1
fi
mv "$credits" "$resources/CREDITS"
"$here/make-contact-sheet.sh"
PICTURES_WORK=$work "$here/make-crop-sheet.sh"
echo "S-CIELAB: mean CIE76 difference after the eye's blur (Zhang and Wandell, 1996);"
echo "light: mean luminance against the scaled photograph's. Took $SECONDS s."
exit $status
