#!/usr/bin/env bash
# Compares the full-screen update rate and the client's CPU per update of
# this tree's build/quorcli with those of another revision, in one run on
# the same machine: the two clients take turns, round after round, so that
# both see the same load. The other revision is built from a git worktree
# in build/compare-<rev>/ (kept for the next run).
# Usage: bench/compare.sh REV [ROUNDS]   (called by scripts/bench --compare=REV)
set -euo pipefail
cd "$(dirname "$0")/.."

rev=${1:?usage: bench/compare.sh REV [ROUNDS]}
rounds=${2:-6}
sha=$(git rev-parse --short "$rev^{commit}")
other=build/compare-$sha
results=build/bench-results
mkdir -p "$results"

if [ ! -d "$other/src" ]; then
  git worktree add -f --detach "$other/src" "$sha" >/dev/null
fi
# The other revision's own presets, without tests or benchmarks where it knows them.
(cd "$other/src" && cmake -S . -B ../build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUOR_TESTS=OFF -DQUOR_BENCH=OFF >/dev/null && nice cmake --build ../build -j2 --target quorcli >/dev/null)

# One round of one client: "<updates/s> <client CPU µs per update>".
measure() {
  local json=$results/compare-$2.json
  timeout -k 10 120 build/bench/session_bench --client="$1" --benchmark_filter=updateThroughput \
    --benchmark_out="$json" --benchmark_out_format=json >/dev/null 2>&1 || { echo "n/m n/m"; return; }
  jq -r '.benchmarks[0] | "\(.updates_per_s | floor) \(.client_cpu_us_per_update | floor)"' "$json"
}

here=()
there=()
echo "round | this tree (updates/s, µs CPU per update) | $sha (updates/s, µs CPU per update)"
for ((r = 1; r <= rounds; r++)); do
  # Each round starts with the other client, so that neither always goes first.
  if ((r % 2)); then a=$(measure "$PWD/build/quorcli" here); b=$(measure "$PWD/$other/build/quorcli" there)
  else b=$(measure "$PWD/$other/build/quorcli" there); a=$(measure "$PWD/build/quorcli" here); fi
  here+=("$a")
  there+=("$b")
  echo "$r | $a | $b"
done

# median COLUMN VALUES...: the median of one column of the rounds.
median() {
  local col=$1
  shift
  printf '%s\n' "$@" | awk -v c="$col" '$c != "n/m" { print $c }' | sort -n |
    awk '{ v[NR] = $1 } END { if (NR == 0) print "n/m"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
echo "median | $(median 1 "${here[@]}") updates/s, $(median 2 "${here[@]}") µs | $(median 1 "${there[@]}") updates/s, $(median 2 "${there[@]}") µs"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
