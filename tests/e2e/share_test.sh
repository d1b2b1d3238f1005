#!/usr/bin/env bash
# A session shared in a browser: the real quorcli in tmux against the
# stand-in, its page in headless chromium. The page shows the client's rows,
# follows a change within a second and says "session ended" after Shift+F2;
# a wrong token gets 404; 16 viewers and no 17th; hostile requests, and a
# viewer that never reads, leave the client working. Then the menu's share,
# which ends with its session.
# Usage: share_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=$(cd "${1:?usage: share_test.sh <build-dir>}" && pwd)
need "$BUILD/quorcli"
need "$BUILD/quorvex-sim"
for t in chromium curl; do command -v $t >/dev/null || fail "$t not installed"; done
CHECK="/usr/bin/python3 $(dirname "$0")/share_check.py"

ln -s "$BUILD/quorcli" "$WORK/quorcli"
PANE_LOCALE=C.UTF-8
start_sim "$BUILD/quorvex-sim"
printf 'server=127.0.0.1:%s,Rack\r\n' "$SIM_PORT" >"$WORK/quorcli.cfg"
session() {
    start_reporting s "cd \"$WORK\" && ./quorcli --direct --server=Rack $1"
    wait_for "Password for Rack"
    typed quorvex
    keys Enter
    wait_row 0 " QUORVEX Server Console"
}
url_shown() { URL=$(screen | grep -o 'http://127\.0\.0\.1:[0-9]*/[0-9a-f]\{32\}/' | head -1); [ -n "$URL" ]; }

session --share
wait_until 10 "no address on the status row" url_shown
T="tmux -u -S $SOCK"
SF2=$'\e[26~'   # Shift+F2
$CHECK page "$URL" "same:$T capture-pane -p -t $PANE" "shows:$T send-keys -t $PANE -l 'seen in the browser':seen in the browser" \
    "same:$T capture-pane -p -t $PANE" "state:$T send-keys -t $PANE -l '$SF2':session ended" || fail "the page"
wait_for "F5=Set Master Password"

# A wrong token, and no token at all.
for u in "${URL%?????/}00000/" "${URL%/*/}/"; do
    code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 5 "$u")
    [ "$code" = 404 ] || fail "$u answered $code"
done
curl -s -D - -o /dev/null --max-time 5 "$URL" | tr -d '\r' >"$WORK/headers"
for h in "Cache-Control: no-store" "X-Frame-Options: DENY" "frame-ancestors 'none'"; do
    grep -qF "$h" "$WORK/headers" || fail "no '$h' in: $(cat "$WORK/headers")"
done

# The same server serves the next session of the run.
keys Enter
wait_for "Password for Rack"
typed quorvex
keys Enter
wait_row 0 " QUORVEX Server Console"
CLIENT=$(ps -o pid= --ppid "$(tmx display -p -t "$PANE" '#{pane_pid}')" | tr -d ' ' | head -1)
$CHECK hostile "$URL" "$CLIENT" || fail "hostile requests"

# 16 viewers and no 17th; then one of them never reads while the screen
# scrolls 40 times: the keys still show at once.
$CHECK viewers "$URL" >"$WORK/viewers" &
E2E_PIDS+=("$!")
wait_until 25 "16 viewers" grep -q -e "reads no more" -e FAIL "$WORK/viewers"
grep -q "reads no more" "$WORK/viewers" || fail "$(cat "$WORK/viewers")"
keys Enter
for i in $(seq 40); do
    typed "line $i"
    keys Enter
done
t0=$(now_ms)
typed "stalled-ok"
wait_for "stalled-ok" 2
echo "a key after 40 scrolls with a stalled viewer showed in $(($(now_ms) - t0)) ms"
typed "$SF2"
wait_for "F5=Set Master Password"
keys Escape
wait_for "Select Proxy Server"
keys Escape
ended_with 0

# From the menu: "Stop sharing" while it runs; the server ends with the session.
session ""
typed $'\e[25~'
wait_for "Select Screen To View"
keys End Enter
wait_until 10 "no address on the status row" url_shown
curl -s -o /dev/null --max-time 5 "$URL" || fail "the menu's share does not answer"
# "Show share address" (last while sharing): a box, and the OSC 52 clipboard (tmux's buffer).
tmx set -g set-clipboard on
typed $'\e[25~'
wait_for "Show share address"
keys End Enter
wait_for "Share address"
screen | grep -qF "$URL" || fail "the box does not show $URL"
[ "$(tmx show-buffer 2>/dev/null)" = "$URL" ] || fail "the address is not on the clipboard"
keys Escape
wait_gone "Share address"
typed "$SF2"
wait_for "F5=Set Master Password"
wait_until 5 "the share outlived its session" not curl -s -o /dev/null --max-time 2 "$URL"
keys Escape
wait_for "Select Proxy Server"
keys Escape
ended_with 0
