#!/usr/bin/env bash
# Command one: installs what is missing, builds, and shows the saver full
# screen under Wine: on $DISPLAY when it is set, otherwise on a private Xvfb
# for SECONDS (default 20) while saving a screenshot every second into a
# folder under build/screenshots/ that it names.
#   ./run-saver.sh [SECONDS]
set -uo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh || exit 1
tools/build.sh || echo "run-saver: some of the build failed; trying the saver anyway" >&2
exec /usr/bin/python3 tools/run_saver.py "$@"
