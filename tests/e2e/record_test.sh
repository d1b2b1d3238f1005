#!/usr/bin/env bash
# Screenshots and recordings of the real quorcli in tmux against the
# stand-in, checked with readers we did not write: the recording must play
# in asciinema and replay in a terminal emulator (pyte) to the client's last
# screen, across a screen switch and a reconnection; the page of a
# screenshot must show in a headless browser the text of its .txt file. Then
# the bad cases: no folder to write in, a file-size limit hit while
# recording, --record-limit, a server description that holds a path, a
# screen name of control bytes and code page 437 letters.
# Usage: record_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=$(cd "${1:?usage: record_test.sh <build-dir>}" && pwd)
need "$BUILD/quorcli"
need "$BUILD/quorvex-sim"
PY=/usr/bin/python3
for t in asciinema chromium; do command -v $t >/dev/null || fail "$t not installed"; done
$PY -c 'import pyte' 2>/dev/null || fail "python3-pyte not installed"

ln -s "$BUILD/quorcli" "$WORK/quorcli"
mkdir -m 700 "$WORK/out"
PANE_LOCALE=C.UTF-8
shift_f() { case $1 in 1) typed $'\e[25~' ;; 2) typed $'\e[26~' ;; 4) typed $'\e[29~' ;; esac; }
stop_sim() { kill "${E2E_PIDS[-1]}"; wait "${E2E_PIDS[-1]}" 2>/dev/null; unset 'E2E_PIDS[-1]'; }
rows_of() { head -n "${2:-25}" "$1" | sed 's/[[:space:]]*$//'; }

# The port stays held while the stand-in is away (see reserve_port).
reserve_port
PORT=$RESERVED_PORT
start_sim "$BUILD/quorvex-sim" --port="$PORT" --reuse-port --update-ms=300 --console-name=$'\e]0;PWN\a\xe9\xff'
printf 'server=127.0.0.1:%s,Rack 4/../b:c\r\n' "$PORT" >"$WORK/quorcli.cfg"

start_reporting s "cd \"$WORK\" && ./quorcli --record --reconnect --direct --server=Rack --save-dir=\"$WORK/out\""
wait_for "Password for Rack"
typed quorvex
keys Enter
wait_row 0 " QUORVEX Server Console"
typed "hello record"
keys Enter
wait_for "hello record"

# --- Save screen to file: both files, private, the text as shown ---
session_menu_item "Save screen to file"
wait_for "Screen saved: $WORK/out/Rack_4_.._b_c-1-"
txt=$(ls "$WORK"/out/*.txt)
[ "$(stat -c %a "$txt")" = 600 ] || fail "screenshot mode $(stat -c %a "$txt")"
[ "$(wc -l <"$txt")" = 25 ] || fail "the text has $(wc -l <"$txt") lines"
diff <(rows_of "$txt" 24) <(screen | rows_of /dev/stdin 24) >/dev/null || fail "the text differs from the screen"
grep -q '<script' "${txt%.txt}.html" && fail "the page holds a script"
chromium --headless --no-sandbox --disable-gpu --user-data-dir="$WORK/chromium" \
    --dump-dom "file://${txt%.txt}.html" 2>/dev/null >"$WORK/dom.html"
$PY -c 'import html,re,sys; print(html.unescape(re.sub("<[^>]*>","",re.search("<pre>(.*)</pre>",sys.stdin.read(),re.S).group(1))))' \
    <"$WORK/dom.html" | rows_of /dev/stdin >"$WORK/dom.txt"
diff "$WORK/dom.txt" <(rows_of "$txt") >/dev/null || fail "the browser shows other text than the .txt"

# --- A screen switch and a reconnection go into the same recording ---
shift_f 4
wait_row 0 " QUORVEX System Monitor"
# Saved from a menu open for two seconds of the Monitor's clock: the picture when chosen.
opened=$(date +%s)
past() { [ "$(date +%s)" -ge "$1" ]; }
session_menu_item "Save screen to file" "wait_until 10 'the clock stood still' past $((opened + 3))"
wait_for "Screen saved: $WORK/out/Rack_4_.._b_c-2-"
clock=$(head -1 "$WORK"/out/*-2-*.txt | grep -o '[0-9][0-9]:[0-9][0-9]:[0-9][0-9]' | tail -1)
ahead=$(( ($(date -d "$clock" +%s) - opened + 86400) % 86400 ))
[ "$ahead" -ge 2 ] && [ "$ahead" -le 60 ] || fail "the saved clock $clock is from when the menu opened"
stop_sim
wait_for "Link lost - reconnecting in"
# Back with a still picture, so that the screen seen last is the one recorded last.
start_sim "$BUILD/quorvex-sim" --port="$PORT" --reuse-port --update-ms=3600000
wait_gone "Link lost" 20
wait_row 0 " QUORVEX System Monitor"
last=$(screen)
shift_f 2
wait_for "Rack 4/../b:c"
[ "$(ls "$WORK"/out/*.cast | wc -l)" = 1 ] || fail "the reconnection did not continue the recording"
cast=$(ls "$WORK"/out/*.cast)
[ "$(stat -c %a "$cast")" = 600 ] || fail "recording mode $(stat -c %a "$cast")"
grep -qF '"m", "screen 2: Monitor"' "$cast" || fail "no marker for the screen switch"
grep -qF '"m", "screen 1: ←]0;PWN•Θ'$'\xc2\xa0''"' "$cast" || fail "the screen name is not in its glyphs"
clean_utf8 "$cast" "$txt" "${txt%.txt}.html"

# asciinema must play it, and must refuse a broken one (or it checks nothing).
head -c 300 "$cast" >"$WORK/broken.cast"
timeout 30 asciinema play -s 1000 -i 0.01 "$WORK/broken.cast" </dev/null >/dev/null 2>&1 && fail "asciinema played a broken file"
timeout 60 asciinema play -s 1000 -i 0.01 "$cast" </dev/null >/dev/null 2>&1 || fail "asciinema cannot play the recording"
# The emulator ends with the client's last screen, in its colours.
$PY "$(dirname "$0")/cast_replay.py" "$cast" >"$WORK/replay" || fail "pyte rejects the recording"
diff <(rows_of "$WORK/replay") <(echo "$last" | rows_of /dev/stdin) >/dev/null ||
    fail "the replay ends on another screen: $(diff <(rows_of "$WORK/replay") <(echo "$last" | rows_of /dev/stdin))"
grep -q "blue,0,black\|cyan,1,blue\|white,1,blue" <(tail -n 25 "$WORK/replay") || fail "the replay has lost the colours"

# --- Bad cases: no folder; a file-size limit while recording ---
keys Escape
wait_for "Select Proxy Server"
keys Escape
ended_with 0
start_reporting s "cd \"$WORK\" && ./quorcli --direct --server=Rack --save-dir=\"$WORK/quorcli.cfg\""
wait_for "Password for Rack"
typed quorvex
keys Enter
wait_row 0 " QUORVEX Server Console"
session_menu_item "Save screen to file"
wait_for "Screen not saved: cannot write to ..."
shows "/quorcli.cfg: Not a directory" || fail "no reason, or not the end of the path"
shift_f 2
wait_for "F5=Set Master Password"
keys Escape Escape
ended_with 0
rm -f "$WORK"/out/*
start_reporting s "cd \"$WORK\" && ulimit -f 8 && ./quorcli --direct --server=Rack --save-dir=\"$WORK/out\""
wait_for "Password for Rack"
typed quorvex
keys Enter
wait_row 0 " QUORVEX Server Console"
session_menu_item "Record session: off"
wait_for "Record session: on"
keys Escape
shift_f 4
wait_for "Recording stopped: cannot write" 20
# The session goes on.
shift_f 4
wait_row 0 " QUORVEX "
shift_f 2
wait_for "F5=Set Master Password"
keys Escape
wait_for "Select Proxy Server"
keys Escape
ended_with 0

# --- --record-limit under a program that writes fast: the recording stops at it, whole ---
rm -f "$WORK"/out/*
(umask 077; echo quorvex >"$WORK/pw") && start_sim "$BUILD/quorvex-sim" --pty="od -An -tx1 -v /dev/urandom" --password-file="$WORK/pw"
printf 'server=127.0.0.1:%s,Flood\r\n' "$SIM_PORT" >"$WORK/quorcli.cfg"
start_reporting s "cd \"$WORK\" && ./quorcli --direct --server=Flood --record --record-limit=1 --save-dir=\"$WORK/out\""
wait_for "Password for Flood"
typed quorvex
keys Enter
wait_for "Recording stopped at 1 MB (--record-limit): ..." 60
shows "/out/Flood-" || fail "the file is not named"
cast=$(ls "$WORK"/out/*.cast)
[ "$(stat -c %s "$cast")" -le 1000000 ] || fail "the recording passed its limit: $(stat -c %s "$cast") bytes"
timeout 60 asciinema play -s 1000 -i 0.01 "$cast" </dev/null >/dev/null 2>&1 || fail "asciinema cannot play the cut recording"
shift_f 2
wait_for "F5=Set Master Password"
keys Escape Escape
ended_with 0
echo "PASS"
