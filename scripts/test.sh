#!/usr/bin/env bash
# Sets up the machine, builds everything and runs all tests.
#   scripts/test.sh            plain build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=build
flags=(-DORVO_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
    dir=build-asan
    flags+=(-DORVO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1"
fi
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
