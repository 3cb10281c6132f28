#!/usr/bin/env bash
# Builds measure.cpp with MinGW x86_64 and runs it under wine64 on a private
# Xvfb display and prefix, then prints what it measured. The simulation's
# comments quote these figures; run this again to check them on a new Wine.
# Needs: g++-mingw-w64-x86-64 wine64 xvfb (see tools/install-deps.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
work=$(mktemp -d)
x86_64-w64-mingw32-windres -I "$root/resources" "$here/measure.rc" -O coff -o "$work/measure.res"
x86_64-w64-mingw32-g++ -O1 -static -mwindows -o "$work/measure.exe" "$here/measure.cpp" "$work/measure.res" \
  -lgdi32 -luser32 -ladvapi32
display=$((200 + RANDOM % 100))
Xvfb ":$display" -screen 0 1024x768x24 -noreset >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  WINEPREFIX="$work/pfx" "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=":$display" WINEPREFIX="$work/pfx" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" wineboot -i >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
(cd "$work" && "$wine" ./measure.exe)
cat "$work/measure.txt"
