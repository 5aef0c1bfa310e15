#!/usr/bin/env bash
# Installs the Debian packages that the build, the program and the tests need (only those that are
# missing), then configures and builds the project in build/. Sourced by run.sh and test.sh.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${RQM5_BUILD_DIR:-$ROOT/build}"

PACKAGES=(g++ cmake make pkg-config qt6-base-dev qt6-serialport-dev libgtest-dev libgmock-dev srecord binutils
          fonts-ipafont-gothic "$@")

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j"$(nproc)"
