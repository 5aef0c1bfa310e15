#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest: the whole project; the file
# parsers under libFuzzer for a bounded time; then the plain C++ core once more under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${RQM5_BUILD_DIR:-$ROOT/build}"
SANITIZED="${RQM5_SANITIZED_BUILD_DIR:-$ROOT/build-sanitize}"
"$ROOT/scripts/setup.sh" clang libclang-rt-14-dev
ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)"

# Nothing that a file holds may crash, hang or trip a sanitizer in the parsers.
"$ROOT/tools/run-fuzz.sh" 20

if [ ! -f "$SANITIZED/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$SANITIZED" -DCMAKE_BUILD_TYPE=Debug -DRQM5_WITH_QT=OFF \
        -DRQM5_SANITIZE=ON >/dev/null
fi
cmake --build "$SANITIZED" -j"$(nproc)"
ctest --test-dir "$SANITIZED" --output-on-failure -j"$(nproc)"
