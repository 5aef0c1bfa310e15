#!/usr/bin/env bash
# Pictures of the window for docs/: the face (window.png) and the service layout
# (service-layout.png), each taken on its own virtual X display at 96 dpi.
#
# Needs: xvfb (xvfb-run), xdotool, x11-utils (xwininfo), imagemagick (import, compare),
# fonts-ipafont-gothic for the Japanese captions.
# Usage: scripts/screenshot.sh            (build folder: $BUILD_DIR, default ./build)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
docs=$root/docs
title='RQ-M5 ver T5.000'

# Inside the virtual display: start the program, wait for its window, optionally switch to the
# service layout, and save the window once its picture has settled.
capture() {
    local exe=$1 layout=$2 out=$3
    QT_QPA_PLATFORM=xcb "$exe" &
    app_pid=$!
    trap 'kill "$app_pid" 2>/dev/null || true' EXIT

    local id=""
    for _ in $(seq 1 150); do
        id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1 || true)
        [[ -n $id ]] && break
        kill -0 "$app_pid" 2>/dev/null || { echo "screenshot: rqm5-updater ended early" >&2; exit 1; }
        sleep 0.2
    done
    [[ -n $id ]] || { echo "screenshot: the window never appeared" >&2; exit 1; }

    if [[ $layout == service ]]; then
        local faceWidth
        faceWidth=$(xwininfo -id "$id" | awk '/Width:/ {print $2}')
        xdotool windowfocus --sync "$id"
        xdotool key --clearmodifiers ctrl+shift+s
        for _ in $(seq 1 100); do
            (( $(xwininfo -id "$id" | awk '/Width:/ {print $2}') > faceWidth )) && break
            sleep 0.1
        done
    fi

    # Painting follows mapping and resizing; take pictures until two in a row are the same.
    local tmp
    tmp=$(mktemp -d)
    import -window "$id" "$tmp/a.png"
    for _ in $(seq 1 50); do
        sleep 0.2
        import -window "$id" "$tmp/b.png"
        if compare -metric AE "$tmp/a.png" "$tmp/b.png" null: 2>/dev/null; then break; fi
        mv "$tmp/b.png" "$tmp/a.png"
    done
    mv "$tmp/a.png" "$out"
    rm -rf "$tmp"
    echo "screenshot: wrote $out ($(identify -format '%wx%h' "$out"))"
}

if [[ ${1:-} == --capture ]]; then
    shift
    capture "$@"
    exit 0
fi

for tool in xvfb-run xdotool xwininfo import compare identify; do
    command -v "$tool" >/dev/null || { echo "screenshot: $tool is not installed" >&2; exit 1; }
done

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build"
fi
cmake --build "$build" -j2 --target rqm5-updater
exe=$(find "$build" -name rqm5-updater -type f -perm -u+x | head -n 1)
[[ -n $exe ]] || { echo "screenshot: rqm5-updater not found under $build" >&2; exit 1; }

mkdir -p "$docs"
xvfb-run -a -s "-screen 0 640x480x24 -dpi 96" "$0" --capture "$exe" face "$docs/window.png"
# The service layout is taller than 480 pixels.
xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" "$0" --capture "$exe" service \
    "$docs/service-layout.png"
