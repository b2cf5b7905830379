#!/usr/bin/env bash
# Builds the fuzz harnesses of tests/fuzz with clang (libFuzzer, AddressSanitizer, UBSan) in
# build-fuzz/ and runs each for SECONDS (default 60), one after the other. Prints per
# harness the executions, executions per second and coverage; exits non-zero when any
# harness found something (the input is kept in build-fuzz/findings/).
#   scripts/fuzz.sh [SECONDS] [HARNESS...]     (no HARNESS: all of them)
#   scripts/fuzz.sh --runs N [HARNESS...]       each until N executions, however long
# The corpus each harness grows is kept in build-fuzz/work/HARNESS, so a later run goes on
# from it.
set -uo pipefail
cd "$(dirname "$0")/.."
limit=(-max_total_time="${1:-60}")
what="${1:-60}s"
if [ "${1:-}" = "--runs" ]; then
    limit=(-runs="${2:?--runs needs a number}")
    what="$2 executions"
    shift 2
else
    shift || true
fi

# name            max_len  dictionary  corpora (under tests/fuzz/corpus; the first one for
#                                      the replay test too)
table=(
  "mes            511776   binary      mes"
  "cfg            148068   binary      cfg"
  "import133      263012   binary      import133"
  "import21       345048   binary      import21"
  "mic            70000    mic         mic"
  "exchange       70000    mic         exchange"
  "deep_mes       511776   binary      mes"
  "deep_cfg       148068   binary      cfg"
  "deep_import133 263012   binary      import133"
  "deep_import21  345048   binary      import21"
  "deep_mic       70000    mic         mic"
  "layout         345048   -           mes cfg import133 import21"
)

if ! command -v clang++ >/dev/null || ! compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang libclang-rt-14-dev
fi

dir=build-fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
mkdir -p "$dir"
# Two runs at once (one per core) share the build: one configures and builds at a time.
exec 9>"$dir/.build-lock"
flock 9
cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DORVO_FUZZ=ON -DORVO_BUILD_APP=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null || exit 1

selected=()
for row in "${table[@]}"; do
    read -r name _ <<<"$row"
    if [ $# -eq 0 ] || [[ " $* " == *" $name "* ]]; then
        selected+=("$row")
    fi
done
targets=()
for row in "${selected[@]}"; do
    read -r name _ <<<"$row"
    targets+=("fuzz_$name")
done
cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}" >"$dir/build.log" 2>&1 || {
    tail -40 "$dir/build.log"
    exit 1
}
flock -u 9

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
mkdir -p "$dir/findings" "$dir/logs"
failed=0
summary=()
for row in "${selected[@]}"; do
    read -r name maxlen dict corpora <<<"$row"
    work="$dir/work/$name"
    mkdir -p "$work"
    seeds=()
    for c in $corpora; do seeds+=("tests/fuzz/corpus/$c"); done
    args=("${limit[@]}" -max_len="$maxlen" -timeout=30 -rss_limit_mb=4096
          -print_final_stats=1 -artifact_prefix="$dir/findings/$name-")
    [ "$dict" != "-" ] && args+=(-dict="tests/fuzz/dict/$dict.dict")
    log="$dir/logs/$name.log"
    echo "== fuzz_$name for $what"
    "$dir/tests/fuzz/fuzz_$name" "${args[@]}" "$work" "${seeds[@]}" >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    result=ok
    if [ $rc -ne 0 ]; then
        result="FINDING (exit $rc, see $log)"
        failed=1
        grep -m3 -E 'ERROR|SUMMARY|runtime error|differs' "$log" | sed 's/^/   /'
    fi
    summary+=("$(printf '%-16s %12s %10s %8s %8s  %s' "$name" "${execs:-?}" "${rate:-?}" \
                 "${cov:-?}" "${ft:-?}" "$result")")
done

echo
printf '%-16s %12s %10s %8s %8s  %s\n' harness executions execs/s cov features result
printf '%s\n' "${summary[@]}"
exit $failed
