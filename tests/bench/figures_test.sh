#!/usr/bin/env bash
# The figures scripts/bench reads out of real benchmark output: the median of
# repetitions, times in microseconds whatever unit a program chose, no run
# taken for another whose name it begins, runs that skipped with an error left
# out, and "n/m" for what was not measured.
# Usage: figures_test.sh <build-dir>
set -u
BUILD=$(cd "${1:?usage: figures_test.sh <build-dir>}" && pwd)
cd "$(dirname "$0")/../.."
command -v jq >/dev/null || { echo "FAIL: jq not found"; exit 1; }
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
. bench/figures.sh

fails=0
# check WHAT EXPECTED ACTUAL: numbers equal to 1e-9 relative, or texts equal.
check() {
    local number='^-?[0-9.]+(e[-+]?[0-9]+)?$'
    if [ "$2" = "$3" ] || { [[ $2 =~ $number && $3 =~ $number ]] &&
        awk -v e="$2" -v a="$3" 'BEGIN { d = e - a; m = e < 0 ? -e : e; exit !(d * d <= 1e-18 * m * m) }'; }; then
        echo "ok: $1"
    else
        echo "FAIL: $1: expected '$2', got '$3'"
        fails=$((fails + 1))
    fi
}
bench() { # NAME PROGRAM FILTER [ARGS...]
    local name=$1 program=$2 filter=$3
    shift 3
    timeout 120 "$BUILD/bench/$program" --benchmark_filter="$filter" --benchmark_min_time=0.01 "$@" \
        --benchmark_out="$results/$name.json" --benchmark_out_format=json >"$results/$name.log" 2>&1 \
        || { echo "FAIL: $program did not run"; cat "$results/$name.log"; exit 1; }
}

# Three repetitions of a benchmark timed in nanoseconds.
bench decode decode_bench '^BM_DecodeOneLine$' --benchmark_repetitions=3
middle=$(jq '[.benchmarks[] | select(.run_type == "iteration") | .cpu_time] | sort | .[1] / 1000' "$results/decode.json")
check "median of three repetitions, in microseconds" "$middle" "$(field decode BM_DecodeOneLine cpu_time)"

# Runs with arguments, timed in milliseconds.
bench config config_bench '^BM_LoadDistinctServers/'
for n in 10000 40000; do
    want=$(jq --arg n "BM_LoadDistinctServers/$n" '.benchmarks[] | select(.name == $n) | .cpu_time * 1000' "$results/config.json")
    check "the run with argument $n, in microseconds" "$want" "$(field config "BM_LoadDistinctServers/$n" cpu_time)"
done
check "a name that only begins another run's name" "n/m" "$(fmt '%.1f' "$(field config BM_LoadDistinctServers/1000 cpu_time)")"

jq '.benchmarks |= map(.error_occurred = true | .error_message = "skipped")' "$results/decode.json" >"$results/skipped.json"
check "a run that skipped with an error" "n/m" "$(fmt '%.1f' "$(field skipped BM_DecodeOneLine cpu_time)")"
check "a benchmark that did not run at all" "n/m" "$(fmt '%.1f' "$(field missing BM_DecodeOneLine cpu_time)")"

[ "$fails" -eq 0 ] || exit 1
echo "figures: all passed"
