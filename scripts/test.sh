#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${RQM5_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/setup.sh" srecord binutils
cd "$BUILD"
ctest --output-on-failure -j"$(nproc)"
