#!/usr/bin/env bash
# Wake-ups of a batch run that waits for text that never comes, against a
# stand-in whose screens stand still and that sends nothing unasked (no
# clock ticks, no idle headers): every wake-up counted is the client's own.
# Counted as the voluntary context switches of all its threads (/proc).
# Target: at most 2 a second.
# Usage: batch_wait.sh <build-dir>
set -u

BUILD=$(cd "${1:?usage: batch_wait.sh <build-dir>}" && pwd)
MEASURE_SECONDS=5
WORK=$(mktemp -d)
SIM=""
CLIENT=""
cleanup() {
    [ -n "$CLIENT" ] && kill "$CLIENT" 2>/dev/null
    [ -n "$SIM" ] && kill "$SIM" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
cd "$WORK" || exit 1

stdbuf -oL "$BUILD/quorvex-sim" --port=0 --update-ms=3600000 --heartbeat-ms=0 >sim.out 2>&1 &
SIM=$!
port=""
for _ in $(seq 100); do
    port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' sim.out 2>/dev/null)
    [ -n "$port" ] && break
    sleep 0.05
done
[ -n "$port" ] || { echo "the stand-in did not start"; exit 1; }

printf 'server=127.0.0.1:%s,Still\n' "$port" >quorcli.cfg
printf 'quorvex\n' >pw
chmod 600 quorcli.cfg pw
printf 'wait "QUORVEX"\necho "waiting"\nwait "never shown" timeout %d\n' $((MEASURE_SECONDS + 30)) >script
"$BUILD/quorcli" --batch --config=quorcli.cfg --password-file=pw --server=Still --script=script >out 2>err &
CLIENT=$!

switches() { cat /proc/"$CLIENT"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'; }
# The first wait is over once the run's output says so (bounded).
for _ in $(seq 200); do
    grep -q '^waiting$' out 2>/dev/null && break
    sleep 0.05
done
grep -q '^waiting$' out 2>/dev/null || { echo "the run did not reach its waiting command"; cat err; exit 1; }
before=$(switches)
sleep "$MEASURE_SECONDS"
after=$(switches)
kill -0 "$CLIENT" 2>/dev/null || { echo "the run ended early"; cat err; exit 1; }
awk -v a="$after" -v b="$before" -v s="$MEASURE_SECONDS" 'BEGIN { printf "batch wait wake-ups: %.1f/s\n", (a - b) / s }'
