#!/usr/bin/env bash
# Saves the configuration dialog as it looks under Wine to docs/dialog.png
# (or to the file given), from the 64-bit build in build/win64.
set -euo pipefail
cd "$(dirname "$0")/.."
exec /usr/bin/python3 tools/make_dialog_screenshot.py "${1:-docs/dialog.png}"
