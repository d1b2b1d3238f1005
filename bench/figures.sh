# Reads figures out of the results of scripts/bench: the JSON files of the
# Google Benchmark programs and the logs of idle_cpu.sh and reaction.sh in
# the folder $results, and formats the cells of its table. Sourced by
# scripts/bench.

# field NAME RUN FIELD: FIELD of run RUN (or RUN/...) of benchmark NAME: its
# median over repetitions where there are some; empty when not measured.
# Times come in microseconds whatever unit the program chose.
field() {
  [ -f "$results/$1.json" ] || return 0
  jq -r --arg run "$2" --arg f "$3" '
    [.benchmarks[] | select((.run_name == $run or (.run_name | startswith($run + "/"))) and (.error_occurred | not))]
    | ((map(select(.aggregate_name == "median")) + map(select(.run_type == "iteration")))[0]) as $r
    | if $r == null then empty
      elif $f == "cpu_time" or $f == "real_time" then $r[$f] * {"ns": 0.001, "us": 1, "ms": 1000, "s": 1e6}[$r.time_unit]
      else $r[$f] // empty end' "$results/$1.json" 2>/dev/null || true
}

# fmt FORMAT VALUE [SCALE]: VALUE times SCALE, printed with FORMAT; "n/m"
# (not measured) for no value.
fmt() {
  if [ -z "${2:-}" ]; then printf 'n/m'; return; fi
  awk -v f="$1" -v v="$2" -v s="${3:-1}" 'BEGIN { printf f, v * s }'
}

# The last "idle CPU: X%" figure of an idle_cpu.sh log, and under wine the
# program's own share.
idle_total() { sed -n 's/^idle CPU: \([0-9.]*\)%.*/\1/p' "$results/$1.log" 2>/dev/null | tail -n1; }
idle_own() { sed -n 's/^the program alone: \([0-9.]*\)%.*/\1/p' "$results/$1.log" 2>/dev/null | tail -n1; }

ratio_cell() {
  local ours theirs
  ours=$(field crypto "$1/ours" bytes_per_second)
  theirs=$(field crypto "$1/OpenSSL" bytes_per_second)
  if [ -z "$ours" ] || [ -z "$theirs" ]; then printf 'n/m'; return; fi
  awk -v o="$ours" -v t="$theirs" 'BEGIN { printf "%.2f (%.0f vs %.0f MB/s)", o / t, o / 1e6, t / 1e6 }'
}

updates_cell() {
  local n rate
  n=$(field "$1" updateThroughput updates)
  rate=$(field "$1" updateThroughput updates_per_s)
  if [ -z "$rate" ]; then printf 'n/m'; return; fi
  awk -v r="$rate" -v n="$n" 'BEGIN { printf "%.0f (over %d updates)", r, n }'
}

micros() { fmt '%.3g µs' "$(field decode "$1" cpu_time)"; }

latency_cell() {
  local m p
  m=$(field "$1" keyLatency median_us)
  p=$(field "$1" keyLatency p99_us)
  if [ -z "$m" ] || [ -z "$p" ]; then printf 'n/m'; return; fi
  awk -v m="$m" -v p="$p" 'BEGIN { printf "%.2f ms / %.2f ms", m / 1000, p / 1000 }'
}

# Idle CPU in a session: the program; under wine every process of the prefix,
# the program's own share in brackets.
session_idle_cell() {
  local own all
  own=$(field "$1" "$2" cpu_percent)
  all=$(field "$1" "$2" wine_cpu_percent)
  if [ -z "$own" ]; then printf 'n/m'; return; fi
  if [ -n "$all" ]; then
    awk -v a="$all" -v o="$own" 'BEGIN { printf "%.2f%% (the program %.2f%%)", a, o }'
  else
    fmt '%.2f%%' "$own"
  fi
}

menu_idle_cell() {
  local all own
  all=$(idle_total "$1")
  own=$(idle_own "$1")
  if [ -z "$all" ]; then printf 'n/m'; return; fi
  if [ -n "$own" ]; then printf '%s%% (the program %s%%)' "$all" "$own"; else printf '%s%%' "$all"; fi
}

# A case of reaction.sh: "median N ms, slowest N ms".
reaction_cell() {
  local found
  found=$(sed -n "s/^$1: median \([0-9]*\) ms, slowest \([0-9]*\) ms\$/\1 ms (slowest \2 ms)/p" "$results/reaction-linux.log" 2>/dev/null | tail -n1)
  printf '%s' "${found:-n/m}"
}

# A figure that bench/share_load.sh printed: the sed expression picks it out
# of the log ($1); "n/m" when it is not there.
share_cell() {
  local v
  v=$(sed -n "$2" "$results/$1.log" 2>/dev/null | tail -n1)
  printf '%s' "${v:-n/m}"
}
