# Run once in the machine while its image is built: makes the Wine prefix that
# every test run starts from (on a copy-on-write view of the disk).
set -eux
for tool in wine wineboot wineserver winecfg; do
  if ! command -v "$tool" >/dev/null && command -v "$tool-stable" >/dev/null; then
    ln -s "$(command -v "$tool-stable")" "/usr/local/bin/$tool"
  fi
done
command -v wine wineserver
Xvfb :1 -screen 0 1024x768x24 -noreset -nolisten tcp > /tmp/xvfb.log 2>&1 &
xvfb=$!
for _ in $(seq 1 600); do
  [ -e /tmp/.X11-unix/X1 ] && break
  sleep 0.1
done
[ -e /tmp/.X11-unix/X1 ]
mkdir -p /opt/vellomire
time wine wineboot -i > /tmp/wineboot.log 2>&1 < /dev/null || { cat /tmp/wineboot.log; exit 1; }
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f > /dev/null 2>&1 < /dev/null
# No debugger: a crash must end the program with its exception code.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
  /v Debugger /d 'C:\no-such-debugger.exe' /f > /dev/null 2>&1 < /dev/null
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
  /v Auto /d 1 /f > /dev/null 2>&1 < /dev/null
wineserver -w
test -f "$WINEPREFIX/system.reg"
grep -q no-such-debugger "$WINEPREFIX/system.reg"
kill "$xvfb"; wait "$xvfb" || true
sync
echo setup-done
