#!/usr/bin/env bash
# The console wall against 12 stand-ins, each a process of its own on a
# reserved port: its page in headless chromium shows every description and
# screen name as text (a hostile name too), a stopped stand-in's tile says
# "link lost" and is live again after a restart, one with another password
# says so, a search finds what one console alone shows (in its history);
# the share's hostile requests and viewer limits; the log folder, the history text included;
# no child process; SIGTERM ends it with status 0. And the token file's
# rules, and a wall through a tunnel entry.
# Usage: wall_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=$(cd "${1:?usage: wall_test.sh <build-dir>}" && pwd)
need "$BUILD/quorcli"
need "$BUILD/quorvex-sim"
need "$BUILD/tools/relay"
for t in chromium asciinema; do command -v $t >/dev/null || fail "$t not installed"; done
HERE=$(dirname "$0")

printf 'quorvex\n' >"$WORK/pw"
printf 'another\n' >"$WORK/pw12"
chmod 600 "$WORK/pw" "$WORK/pw12"
# sim N [options]: stand-in N on its reserved port.
sim() {
    local n=$1
    shift
    "$BUILD/quorvex-sim" --port="${PORTS[$n]}" --reuse-port --password-file="$WORK/pw$([ "$n" = 12 ] && echo 12)" "$@" \
        >"$WORK/sim$n.out" 2>&1 &
    SIMS[$n]=$!
    E2E_PIDS+=("$!")
    wait_until 20 "stand-in $n did not start" grep -q "listening on" "$WORK/sim$n.out"
}
HOSTILE='<img src=x onerror=alert(1)>'
name_of() { case $1 in 5) echo "$HOSTILE" ;; *) printf 'Cons-%02d' "$1" ;; esac; }
declare -a PORTS SIMS
: >"$WORK/quorcli.cfg"
for n in $(seq 1 12); do
    reserve_port
    PORTS[$n]=$RESERVED_PORT
    # Its program scrolls on, so that lines leave the screen while the wall watches.
    if [ "$n" = 7 ]; then sim 7 "--pty=sh -c 'while :; do seq -f needle-%g 1 40; sleep 1; done'"
    else sim "$n" --console-name="$(name_of "$n")"; fi
    printf 'server=127.0.0.1:%s,Rack %02d\r\n' "${PORTS[$n]}" "$n" >>"$WORK/quorcli.cfg"
done
WALL=("$BUILD/quorcli" --wall "--server=Rack*" --config="$WORK/quorcli.cfg" --password-file="$WORK/pw"
      --log-dir="$WORK/logs" --token-file="$WORK/token")

# A token file that others may read is refused.
printf '%032d\n' 0 >"$WORK/token"
chmod 644 "$WORK/token"
"${WALL[@]}" 2>"$WORK/refused" && fail "a token file others may read was taken"
grep -q "may be read by others" "$WORK/refused" || fail "$(cat "$WORK/refused")"
rm "$WORK/token"

"${WALL[@]}" 2>"$WORK/wall.err" &
WALL_PID=$!
E2E_PIDS+=("$WALL_PID")
wait_until 20 "no wall address" grep -q "wall at" "$WORK/wall.err"
URL=$(grep -o 'http://127\.0\.0\.1:[0-9]*/[0-9a-f]\{32\}/' "$WORK/wall.err")
[ "$(stat -c %a "$WORK/token")" = 600 ] || fail "the token file is $(stat -c %a "$WORK/token")"
case "$URL" in *"$(cat "$WORK/token")"*) ;; *) fail "the address $URL is not of the token file" ;; esac
grep -q "allows [0-9]* consoles" "$WORK/wall.err" || fail "no word on the open files: $(cat "$WORK/wall.err")"

steps=()
for n in $(seq 1 12); do
    steps+=("text:$(printf 'Rack %02d' "$n")")
    case $n in 7 | 12) ;; *) steps+=("text:$(name_of "$n")") ;; esac
done
/usr/bin/python3 "$HERE/wall_check.py" "$URL" "${steps[@]}" "found:needle-2:Rack 07" "state:Rack 12:refused" \
    "state:Rack 03:live" "run:kill ${SIMS[3]}" "state:Rack 03:lost" \
    "run:$BUILD/quorvex-sim --port=${PORTS[3]} --reuse-port --password-file=$WORK/pw >$WORK/sim3b.out 2>&1 & echo \$! >$WORK/sim3b.pid" \
    "state:Rack 03:live" || fail "the page"
E2E_PIDS+=("$(cat "$WORK/sim3b.pid")")

/usr/bin/python3 "$HERE/share_check.py" hostile "$URL" "$WALL_PID" || fail "hostile requests"
[ -z "$(ps -o pid= --ppid "$WALL_PID")" ] || fail "the wall started processes: $(ps -f --ppid "$WALL_PID")"
# 16 viewers and no 17th; one of them reads no more, and a search, which
# the sessions' thread answers, still comes at once.
/usr/bin/python3 "$HERE/share_check.py" viewers "$URL" >"$WORK/viewers" &
E2E_PIDS+=("$!")
wait_until 25 "16 viewers" grep -q -e "reads no more" -e FAIL "$WORK/viewers"
grep -q "reads no more" "$WORK/viewers" || fail "$(cat "$WORK/viewers")"
curl -s --max-time 5 "${URL}search?q=needle" | grep -q '"d":"Rack 07"' || fail "no search beside a stalled viewer"

# Every console that was live has its folder (0700) with its files (0600),
# and a recording plays.
for n in $(seq -w 1 11); do
    [ "$(stat -c %a "$WORK/logs/Rack_$n")" = 700 ] || fail "Rack_$n is not 0700"
    ls "$WORK/logs/Rack_$n/"*.cast >/dev/null 2>&1 || fail "no recording of Rack $n"
done
grep -q "^needle-[0-9]* *$" "$WORK"/logs/Rack_07/*-screen-*.txt || fail "no history text: $(ls "$WORK/logs/Rack_07")"
[ -z "$(find "$WORK/logs" -type f ! -perm 600)" ] || fail "files not 0600: $(find "$WORK/logs" -type f ! -perm 600)"
timeout 60 asciinema play -s 1000 -i 0.01 "$(ls "$WORK"/logs/Rack_01/*.cast | head -1)" </dev/null >/dev/null 2>&1 \
    || fail "asciinema cannot play the recording"

t0=$(now_ms)
kill -TERM "$WALL_PID"
gone() { ! kill -0 "$1" 2>/dev/null; }
wait_until 30 "the wall did not end after SIGTERM" gone "$WALL_PID"
wait "$WALL_PID"
status=$?
[ "$status" = 0 ] || fail "the wall ended with status $status"
echo "the wall ended $(($(now_ms) - t0)) ms after SIGTERM"

# Through a tunnel entry the console is live over the relay, the only
# process that wall starts.
{ cat "$WORK/quorcli.cfg"; printf 'tunnel=%s %%h %%p,Relay\r\n' "$BUILD/tools/relay"; } >"$WORK/tunnel.cfg"
"$BUILD/quorcli" --wall "--server=Rack 01" --config="$WORK/tunnel.cfg" --password-file="$WORK/pw" --proxy=Relay \
    2>"$WORK/tunnel.err" &
WALL_PID=$!
E2E_PIDS+=("$WALL_PID")
wait_until 20 "no wall address" grep -q "wall at" "$WORK/tunnel.err"
/usr/bin/python3 "$HERE/wall_check.py" "$(grep -o 'http://[^ ]*/' "$WORK/tunnel.err")" "state:Rack 01:live" \
    || fail "the wall through a tunnel: $(cat "$WORK/tunnel.err")"
[ "$(ps -o comm= --ppid "$WALL_PID")" = relay ] || fail "the wall started processes: $(ps -f --ppid "$WALL_PID")"
kill -TERM "$WALL_PID"
wait_until 30 "the wall did not end after SIGTERM" gone "$WALL_PID"
echo "PASS"
