#!/usr/bin/env bash
# Builds the libFuzzer targets of the image parsers with clang in build-fuzz/ and runs each for a
# bounded time. Exits non-zero when a target finds a crash or a broken promise; the input that did
# it is kept in build-fuzz/findings/.
#
# Usage: tools/run-fuzz.sh [seconds per target, default 30]
# RQM5_FUZZ_BUILD_DIR and RQM5_FUZZ_SOURCE_DIR override the build folder and the source tree.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_PER_TARGET="${1:-30}"
BUILD="${RQM5_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
SOURCE="${RQM5_FUZZ_SOURCE_DIR:-$ROOT}"
FUZZ="$ROOT/tests/fuzz"
TARGETS=(srecord_line hex_line image_file)

if ! [[ "$SECONDS_PER_TARGET" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds per target]" >&2
    exit 2
fi
command -v clang++ >/dev/null || { echo "clang++ is missing (Debian package clang)" >&2; exit 2; }

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$SOURCE" -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DRQM5_FUZZ=ON -DRQM5_WITH_QT=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target "${TARGETS[@]/#/fuzz_}"

failed=()
for target in "${TARGETS[@]}"; do
    program="$(find "$BUILD" -type f -name "fuzz_$target" -perm -u+x | head -n 1)"
    corpus="$BUILD/corpus/$target"
    findings="$BUILD/findings"
    log="$BUILD/fuzz_$target.log"
    mkdir -p "$corpus" "$findings"
    echo "== fuzz_$target for ${SECONDS_PER_TARGET} s"
    # The first folder collects new inputs; the seeds are only read.
    if "$program" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 \
        -dict="$FUZZ/records.dict" -artifact_prefix="$findings/$target-" \
        "$corpus" "$FUZZ/seeds/$target" >"$log" 2>&1; then
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" || true
    else
        echo "fuzz_$target FAILED, see $log and $findings" >&2
        grep -E 'ERROR|broken promise|Test unit written' "$log" >&2 || true
        failed+=("$target")
    fi
done

if ((${#failed[@]})); then
    echo "findings in: ${failed[*]}" >&2
    exit 1
fi
echo "no findings"
