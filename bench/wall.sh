#!/usr/bin/env bash
# The console wall with N consoles (N = 1 and 200) against one stand-in
# serving N ports, as bench/sessions.sh does: each console shows the
# stand-in's Monitor screen, whose clock row changes once a second; logging
# on (--log-dir) and one page in headless chromium. Measured:
#  - the page's load: from navigating to all N tiles live (a second load,
#    once every session is live);
#  - the page following a change: how long until the first tile's clock
#    row, which changes once a second, changes on the page (an upper
#    bound: it includes the wait for the next tick);
#  - the wall's resident memory and its CPU over 10 s with the page open.
# Prints for each N:
#   N consoles: resident K kB, cpu X ms/s, page load L ms, follows F ms
# and then the memory a console costs beyond the first. Then the same 200
# consoles with their histories full: each shows a program on the stand-in's
# pseudo-terminal that scrolls more lines than the console's share of the
# history holds (the wall splits one program's history total among them);
# once every console's history file has them all, the wall's resident memory
# (no page open) is printed, and the memory a console costs beyond the first.
# Targets (README): 1 MiB a console beyond the first, 10% of one core, a
# page load within 2 s and a change followed within 1 s.
# Usage: wall.sh <build-dir>
set -u

BUILD=$(cd "${1:?usage: wall.sh <build-dir>}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
PIDS=()
cleanup() {
    local p
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
cd "$WORK" || exit 1
ulimit -n 4096 2>/dev/null || ulimit -n "$(ulimit -Hn)"
printf 'quorvex\n' >pw
chmod 600 pw

# start_wall N [STAND-IN OPTIONS...]: one stand-in serving N ports and a
# wall over them all, logging into logs/; sets sim and wall to their pids.
start_wall() {
    local n=$1 ports="" i=0
    shift
    stdbuf -oL "$BUILD/quorvex-sim" --ports="$n" --port=0 --heartbeat-ms=0 "$@" >sim.out 2>&1 &
    sim=$!
    PIDS+=("$sim")
    for _ in $(seq 1200); do
        ports=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' sim.out)
        [ "$(printf '%s' "$ports" | grep -c .)" = "$n" ] && break
        sleep 0.05
    done
    : >wall.cfg
    for p in $ports; do
        i=$((i + 1))
        printf 'server=127.0.0.1:%s,Rack %03d\r\n' "$p" "$i" >>wall.cfg
    done
    rm -rf logs
    "$BUILD/quorcli" --wall "--server=Rack*" --config="$WORK/wall.cfg" --password-file=pw --log-dir=logs 2>wall.err &
    wall=$!
    PIDS+=("$wall")
}

# measure N: the line for N consoles.
measure() {
    local n=$1 url="" sim wall
    start_wall "$n" --first-screen=2
    for _ in $(seq 200); do
        url=$(grep -o 'http://[^ ]*/' wall.err) && break
        sleep 0.05
    done
    [ -n "$url" ] || { echo "the wall did not start: $(cat wall.err)" >&2; return 1; }
    timeout 120 /usr/bin/python3 - "$url" "$wall" "$n" <<'PY'
import json, os, sys, time, urllib.request
sys.path.insert(0, os.environ["E2E_DIR"])
from share_check import Browser, until
url, pid, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
ticks = os.sysconf("SC_CLK_TCK")
cpu = lambda: sum(int(x) for x in open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()[11:13])
rss = lambda: int(open("/proc/%s/status" % pid).read().split("VmRSS:")[1].split()[0])
b = Browser()
try:
    # Once every session is live (the browser warmed up), a second load is timed.
    live = "document.querySelectorAll('.state.live').length === %d" % n
    b.call("Page.navigate", b.session, url=url)
    if not until(60, lambda: b.eval(live)): sys.exit("the page never showed %d live tiles" % n)
    b.call("Page.navigate", b.session, url="about:blank")
    t0 = time.time()
    b.call("Page.navigate", b.session, url=url)
    if not until(20, lambda: b.eval(live)): sys.exit("the page did not load again")
    load = (time.time() - t0) * 1000
    # A change in the stream, then on the page: console 0's clock row.
    rows = "document.querySelector('.tile .scr').textContent"
    before = b.eval(rows)
    t1 = time.time()
    until(5, lambda: b.eval(rows) != before)
    follows = (time.time() - t1) * 1000
    c0, w0 = cpu(), time.time()
    time.sleep(10)
    ms = (cpu() - c0) * 1000.0 / ticks / (time.time() - w0)
    print("%d consoles: resident %d kB, cpu %.1f ms/s, page load %.0f ms, follows %.0f ms" % (n, rss(), ms, load, follows))
finally:
    b.close()
PY
    local status=$?
    kill "$wall" "$sim" 2>/dev/null
    wait "$wall" "$sim" 2>/dev/null
    return "$status"
}

# full N LINES: N consoles whose histories hold LINES lines each (or more).
full() {
    local n=$1 lines=$2 least=0 sim wall
    # Ten lines every 0.1 s, so that an update of the stand-in mostly scrolls
    # by fewer rows than the screen has (a busy machine still loses some,
    # hence twice the lines); it starts once the wall has every console.
    local program="perl -e '\$|=1; select(undef,undef,undef,0.1) until -e q($WORK/go); for \$i (1..$((2 * lines))) { print qq(history line \$i of this console\\n); select(undef,undef,undef,0.1) unless \$i % 10 } sleep 3600'"
    rm -f go
    start_wall "$n" --password-file=pw --first-screen=4 "--pty=$program"
    # Every console has its recording once it has shown the program.
    for _ in $(seq 600); do
        [ "$(find logs -name '*.cast' 2>/dev/null | wc -l)" = "$n" ] && break
        sleep 0.1
    done
    touch go
    # The fewest lines any console's history file has: what scrolled into its history.
    for _ in $(seq 1200); do
        least=$(find logs -name '*-screen-4.txt' -exec wc -l {} + 2>/dev/null | grep -v ' total$' |
            awk -v n="$n" '{ c++; if (m == "" || $1 < m) m = $1 } END { print (c == n ? m : 0) }')
        [ "$least" -ge "$lines" ] && break
        sleep 0.5
    done
    if [ "$least" -lt "$lines" ]; then
        echo "the histories did not fill: the emptiest has $least of $lines lines" >&2
        return 1
    fi
    echo "$n consoles, histories full: resident $(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' /proc/$wall/status) kB"
    kill "$wall" "$sim" 2>/dev/null
    wait "$wall" "$sim" 2>/dev/null
}

export E2E_DIR="$HERE/../tests/e2e"
one=$(measure 1) || exit 1
echo "$one"
many=$(measure 200) || exit 1
echo "$many"
kb() { printf '%s' "$1" | sed -n 's/.*resident \([0-9]*\) kB.*/\1/p'; }
echo "a console beyond the first: $((($(kb "$many") - $(kb "$one")) / 199)) kB"
# A console's history keeps the program's 64 MiB of 160-byte lines split 200
# ways, 2,097 lines; 2,100 fill it.
filled=$(full 200 2100) || exit 1
echo "$filled"
echo "a console beyond the first, histories full: $((($(kb "$filled") - $(kb "$one")) / 199)) kB"
