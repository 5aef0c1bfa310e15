#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: the device simulator on a pseudo-terminal,
# mapped to COM1, and the updater window; press Start and watch a whole update. Without a display
# the same update runs with the command-line flasher instead.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${RQM5_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/setup.sh"

LINK="$BUILD/demo-com1"
# Bytes take their real time on the line (57600 bit/s), so the progress can be watched.
"$BUILD/tools/devsim/rqm5-devsim" --throttle --link "$LINK" --log "$BUILD/demo-frames.log" \
    --dump "$BUILD/demo-flash.bin" >/dev/null &
SIM_PID=$!
trap 'kill "$SIM_PID" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do [ -e "$LINK" ] && break; sleep 0.05; done
[ -e "$LINK" ] || { echo "run.sh: the device simulator did not start" >&2; exit 1; }
export RQM5_COM1="$LINK"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
    echo "Simulated RQ-M5 on COM1 ($LINK). Press Start in the window."
    "$BUILD/app/rqm5-updater"
else
    echo "No display: running the same update with rqm5-flash on COM1 ($LINK) instead."
    "$BUILD/tools/flash/rqm5-flash" --port COM1
fi
