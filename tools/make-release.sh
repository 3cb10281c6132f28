#!/usr/bin/env bash
# Makes the release a Windows user downloads: vellomire-VERSION.zip and its
# SHA-256 file, in build/release or in the folder given as the argument (or in
# VELLOMIRE_RELEASE_DIR). Builds the two Windows trees first unless --no-build.
#
#   tools/make-release.sh [--no-build] [OUTPUT-FOLDER]
#
# The savers come from $VELLOMIRE_WIN32_DIR/vellomire.scr and
# $VELLOMIRE_WIN64_DIR/vellomire.scr (build/win32 and build/win64 when unset),
# the build folders the end-to-end suites are given, so that the install suite
# installs the very saver it tests. The build step builds only build/win32 and
# build/win64, so without --no-build a folder set to any other is refused:
# the zip holds what this run built. With --no-build they are taken as they are.
#
# The zip is reproducible: the same commit gives the same bytes. Entries are
# stored in a fixed order, with the commit's date (or SOURCE_DATE_EPOCH) as
# every timestamp, fixed permissions and no extra fields.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

build=1
if [ "${1:-}" = --no-build ]; then
  build=0
  shift
fi
out=${1:-${VELLOMIRE_RELEASE_DIR:-$root/build/release}}
mkdir -p "$out"
out=$(cd "$out" && pwd)
saver32=$(realpath -m "${VELLOMIRE_WIN32_DIR:-$root/build/win32}/vellomire.scr")
saver64=$(realpath -m "${VELLOMIRE_WIN64_DIR:-$root/build/win64}/vellomire.scr")
cd "$root"

if [ "$build" -eq 1 ]; then
  if [ "$saver32" != "$(realpath -m build/win32/vellomire.scr)" ] ||
     [ "$saver64" != "$(realpath -m build/win64/vellomire.scr)" ]; then
    echo "make-release: refusing to pack $saver32 and $saver64 after building" \
         "build/win32 and build/win64 only: unset VELLOMIRE_WIN32_DIR and" \
         "VELLOMIRE_WIN64_DIR, or pack those savers as they are with --no-build" >&2
    exit 1
  fi
  tools/build.sh win32 win64
fi
for saver in "$saver32" "$saver64"; do
  if [ ! -f "$saver" ]; then
    echo "make-release: $saver is missing" >&2
    exit 1
  fi
done

version=$(tr -d '[:space:]' < VERSION)
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
name=vellomire-$version.zip

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# The texts in DOS form: CRLF line ends, which Notepad needs.
crlf() { sed 's/\r$//; s/$/\r/' > "$stage/$1"; }
# Every file the installer copies lies beside it: Wine's setup engine ignores
# the source folders that Windows' would honour.
cp "$saver32" "$stage/Vellomire.scr"
cp "$saver64" "$stage/Vellomire64.scr"
sed "s/@VERSION@/$version/g" tools/VELLOMIR.INF.in | crlf VELLOMIR.INF
sed "s/@VERSION@/$version/g" docs/README.TXT.in | crlf README.TXT
crlf CREDITS.TXT < resources/CREDITS
crlf LICENSE.TXT < LICENSE

# Same entries in the same order with the same metadata, whoever runs this.
entries=(Vellomire.scr Vellomire64.scr VELLOMIR.INF README.TXT CREDITS.TXT LICENSE.TXT)
(
  cd "$stage"
  chmod 0644 "${entries[@]}"
  TZ=UTC touch -d "@$epoch" "${entries[@]}"
  TZ=UTC zip -X -D -9 -q "$stage/$name" "${entries[@]}"
)

mv "$stage/$name" "$out/$name"
(cd "$out" && sha256sum "$name" > "$name.sha256")
echo "make-release: $out/$name"
