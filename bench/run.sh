#!/usr/bin/env bash
# Benchmark: a whole update with rqm5-flash against rqm5-devsim.
#  1. throttled at 57600 bit/s (bytes take their real time on the line): wall time against the
#     line-time bound (bytes sent + reply bytes) x 10 / 57600, and the flasher's CPU share;
#  2. unthrottled: pages per second, what the updater itself can do.
# Usage: bench/run.sh [SIMULATOR OPTIONS]   (builds first; the options go to the throttled
#        simulator, e.g. --uart-fifo 1 to hand every byte over on its own)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${RQM5_BUILD_DIR:-$ROOT/build}"
[ -f "$BUILD/CMakeCache.txt" ] || "$ROOT/scripts/setup.sh" >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target rqm5-devsim rqm5-flash >/dev/null
SIM="$BUILD/tools/devsim/rqm5-devsim"
FLASH="$BUILD/tools/flash/rqm5-flash"
WORK="$(mktemp -d)"
SIM_PID=""
trap '[ -z "$SIM_PID" ] || kill "$SIM_PID" 2>/dev/null || true; rm -rf "$WORK"' EXIT

# Starts the simulator with the given options; sets DEVICE to its terminal.
start_sim() {
    rm -f "$WORK/frames.log"
    "$SIM" --log "$WORK/frames.log" "$@" >"$WORK/sim.out" &
    SIM_PID=$!
    for _ in $(seq 1 100); do
        DEVICE="$(head -n 1 "$WORK/sim.out" 2>/dev/null || true)"
        [ -n "$DEVICE" ] && return 0
        sleep 0.05
    done
    echo "rqm5-devsim did not start" >&2
    exit 1
}

# Runs the flasher; sets WALL, CPU (user + sys seconds), SENT, RECEIVED.
run_flash() {
    local timing
    timing="$( { TIMEFORMAT='%R %U %S'; time "$FLASH" --port "$DEVICE" --quiet --stats \
                 >"$WORK/flash.out" 2>"$WORK/flash.err"; } 2>&1 )"
    read -r WALL USER SYS <<<"$timing"
    CPU="$(echo "$USER + $SYS" | bc -l)"
    read -r _ SENT _ _ RECEIVED _ < <(grep '^sent ' "$WORK/flash.err")
    if [ "$(cat "$WORK/flash.out")" != "Completed." ]; then
        echo "the update failed: $(cat "$WORK/flash.out") $(cat "$WORK/flash.err")" >&2
        exit 1
    fi
}

command -v bc >/dev/null || { apt-get install -y -qq bc >/dev/null; }

start_sim --throttle --rate 57600 "$@"
run_flash
kill "$SIM_PID"; wait "$SIM_PID" || true
REPLY_BYTES=$((RECEIVED - SENT))  # everything received beyond the echo of what was sent
BOUND="$(echo "($SENT + $REPLY_BYTES) * 10 / 57600" | bc -l)"
printf 'throttled at 57600 bit/s (simulator options: --throttle %s):\n' "$*"
printf '  bytes sent %d, reply bytes %d\n' "$SENT" "$REPLY_BYTES"
printf '  wall time        %8.3f s\n' "$WALL"
printf '  line-time bound  %8.3f s\n' "$BOUND"
printf '  ratio            %8.4f   (target <= 1.02)\n' "$(echo "$WALL / $BOUND" | bc -l)"
printf '  flasher CPU      %8.3f s = %.2f %% of wall time (target <= 5 %%)\n' "$CPU" \
    "$(echo "100 * $CPU / $WALL" | bc -l)"

start_sim
run_flash
kill "$SIM_PID"; wait "$SIM_PID" || true
PAGES="$(grep -c '^PG .* ok' "$WORK/frames.log")"
printf 'unthrottled:\n'
printf '  %d pages in %.3f s = %.0f pages/s\n' "$PAGES" "$WALL" "$(echo "$PAGES / $WALL" | bc -l)"
