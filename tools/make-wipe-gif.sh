#!/usr/bin/env bash
# Makes docs/wipes.gif: the eight wipe patterns, one picture each, as the
# headless runner paints them tick by tick (one frame per 40 ms tick) on a
# 480 x 320 screen, at half size, each named under the picture.
#
#   tools/make-wipe-gif.sh [OUTPUT.gif]
#
# Needs the native build's runner (tools/build.sh makes build/native/
# vellomire-sim; VELLOMIRE_SIM names another), ImageMagick's convert and the
# DejaVu fonts (tools/install-deps.sh).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runner=${VELLOMIRE_SIM:-$root/build/native/vellomire-sim}
output=${1:-$root/docs/wipes.gif}
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

[ -x "$runner" ] || { echo "make-wipe-gif: no runner at $runner (run tools/build.sh)" >&2; exit 1; }
command -v convert >/dev/null || { echo "make-wipe-gif: ImageMagick's convert is missing" >&2; exit 1; }
[ -f "$font" ] || { echo "make-wipe-gif: $font is missing (fonts-dejavu-core)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Pattern number, name, and the calendar second (the generator's seed)
# whose first picture on a 480 x 320 screen is painted by that pattern;
# each is another of the eleven pictures.
patterns=(
  "0 RowsDown 7"
  "1 RowsUp 5"
  "2 ColumnsRight 4"
  "3 ColumnsLeft 2"
  "4 ColumnsOpen 12"
  "5 ColumnsClose 23"
  "6 RowsOpen 10"
  "7 RowsClose 8"
)

segments=()
for entry in "${patterns[@]}"; do
  read -r number name seed <<<"$entry"
  frames="$work/$name"
  mkdir -p "$frames"
  # Long enough for the slowest wipe (150 calls) and nothing of the next
  # picture, which comes 10 seconds after the first is finished.
  "$runner" --trace --screen 480x320 --clock "$seed" --for 7100 \
    --frames "$frames" --frames-every-tick -- /s >"$work/$name.trace"
  # "TIME picture NAME X Y PATTERN", then "TIME blit ..." lines: the calls
  # are the distinct times of the first picture's copies.
  read -r picture pattern calls < <(awk '
    $2 == "picture" { pictures++; if (pictures == 1) { name = $3; pattern = $6 } next }
    $2 == "blit" && pictures == 1 && !($1 in seen) { seen[$1] = 1; calls++ }
    END { print name, pattern, calls }' "$work/$name.trace")
  if [ "$pattern" != "$number" ]; then
    echo "make-wipe-gif: seed $seed paints $picture by pattern $pattern, not $number ($name)" >&2
    exit 1
  fi
  # Frame k shows the window after tick k + 1: frames 0 to calls - 1 are the
  # wipe; the last of them, the finished picture, stays a while.
  files=()
  for ((k = 0; k < calls; k++)); do
    files+=("$(printf '%s/frame%05d.ppm' "$frames" "$k")")
  done
  last=${files[$((calls - 1))]}
  unset 'files[$((calls - 1))]'
  convert -delay 4 "${files[@]}" -delay 150 "$last" \
    -scale 50% -background black -gravity south -splice 0x18 \
    -font "$font" -pointsize 12 -fill white -annotate +0+3 "$number $name" \
    "$work/$number.miff"
  segments+=("$work/$number.miff")
  echo "make-wipe-gif: $name: $picture in $calls calls"
done

mkdir -p "$(dirname "$output")"
convert "${segments[@]}" -loop 0 -layers Optimize "$output"
echo "make-wipe-gif: wrote $output ($(wc -c <"$output") bytes)"
