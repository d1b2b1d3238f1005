#!/usr/bin/env bash
# The real quorcli.exe under wine in a private tmux server, against the Linux
# stand-in server: the v.1.73 title row and the console titles, the start word
# 20 and compressed updates, the Alt session keys, Ctrl+C as a key, a wrong
# password, a closed port, code page 437 glyphs for control bytes, Home/End as
# wine reads them, a configuration written with CR LF that the Linux build
# reads back; --help and --version, a redirected input refused, a batch
# script and a pattern that could backtrack refused, the Linux test's
# reading script over two shells in parallel, and an error at the end left
# on the console until a key.
# Usage: e2e_test.sh <windows-build-dir> <linux-build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"

WINBUILD=$(cd "${1:?usage: e2e_test.sh <windows-build-dir> <linux-build-dir>}" && pwd)
BUILD=${2:?usage: e2e_test.sh <windows-build-dir> <linux-build-dir>}
need "$WINBUILD/quorcli.exe"
need "$BUILD/quorcli"
need "$BUILD/quorvex-sim"
command -v wine >/dev/null || { echo "FAIL: wine not found"; exit 1; }
export WINEPREFIX=${WINEPREFIX:-$WINBUILD/wineprefix} WINEDEBUG=-all
# wine shows the console's cells as Unicode only in a UTF-8 locale.
PANE_LOCALE=C.UTF-8

HOLD=$WORK/tmux-hold
trap 'tmux -S "$HOLD" kill-server 2>/dev/null; e2e_cleanup' EXIT

logged() { grep -cF -- "$1" "$WORK/sim.log" 2>/dev/null || true; }
title() { tmx display-message -p -t "$PANE" '#{pane_title}'; }
title_is() { [ "$(title)" = "$1" ]; }
wait_title() { wait_until 10 "pane title '$(title)', expected '$1'" title_is "$1"; }
row_has() { row "$1" | grep -qF -- "$2"; }
fail() {
    echo "FAIL: $*"
    echo "--- screen (title '$(title 2>/dev/null)') ---"
    screen
    echo "--- stand-in log, last lines ---"
    tail -n 15 "$WORK/sim.log" 2>/dev/null
    exit 1
}

# A console program that keeps wine's desktop process alive between the
# runs of quorcli.exe; keys typed into a wine console in the first seconds of
# a prefix can arrive seconds late, so the checks start once a probe typed
# into this one has been answered.
tmux -u -S "$HOLD" new-session -d -s hold -x 80 -y 25 -e LC_ALL=C.UTF-8 -e LANG=C.UTF-8 \
    "cd \"$WORK\" && wine cmd.exe" || fail "cannot start tmux"
held() { tmux -S "$HOLD" capture-pane -p -t hold 2>/dev/null | grep -q "$1"; }
wait_until 30 "wine's cmd.exe did not start" held '>$'
tmux -S "$HOLD" send-keys -t hold -l "echo probe-answered" \; send-keys -t hold Enter
wait_until 30 "a key typed into a wine console did not arrive" held '^probe-answered'

# --- The stand-in (quick heartbeats: a wrong password shows soon), and a
# closed port, held by the script so that nothing listens on it ---
reserve_port
closed=$RESERVED_PORT
start_sim "$BUILD/quorvex-sim" --update-ms=200 --heartbeat-ms=20 --log="$WORK/sim.log"

# The program reads quorcli.cfg beside the .exe. This one has LF line ends
# only, and a proxy whose description holds control bytes.
mkdir "$WORK/win" "$WORK/linux"
cp "$WINBUILD/quorcli.exe" "$WORK/win/"
printf 'server=127.0.0.1:%s,Simulator\nserver=127.0.0.1:%s,Unreachable\nproxy=127.0.0.1:9,zeta \020\037\177\001 relay\n' \
    "$SIM_PORT" "$closed" >"$WORK/win/quorcli.cfg"
# Ctrl+C in the pane also sends SIGINT to the pane's shell, which must
# outlive it to report the exit status.
start_reporting w "trap : INT; cd \"$WORK/win\" && wine ./quorcli.exe"

# --- The lists: title row, console title, control bytes as glyphs ---
wait_for "Select Proxy Server" 20
wait_row 0 "ZEV Telvane/IP v.1.73"
wait_title "Quorvex Client v.1.73 - disconnected"
shows "zeta ►▼⌂☺ relay" || fail "the control bytes of the proxy's description are not shown as glyphs"
keys Enter                                        # [Direct Connection]
wait_for "Insert=New Server"
keys Enter                                        # Simulator, the first entry
wait_for "Password for Simulator:"
wait_title "Simulator (127.0.0.1:$SIM_PORT) - Quorvex Client v.1.73"
typed quorvex
keys Enter
wait_row 0 " QUORVEX Server Console"

# --- The second start word right after the first ---
after=$(sed -n '/^{"type":1,"value":0}$/{n;p;q}' "$WORK/sim.log")
[ "$after" = '{"type":20,"value":0}' ] || fail "after start word 1 the log has '$after'"

# --- Alt+F4 and Alt+F3 switch screens; the changing one arrives compressed ---
keys M-F4
wait_row 0 " QUORVEX System Monitor"
monitor_updates() { [ "$(logged '{"sent":6,"screen":2,')" -ge "$1" ]; }
wait_until 10 "no compressed updates of the Monitor screen" monitor_updates 2
# What arrived compressed was painted: the tick counter moves on screen.
ticks=$(row 3)
wait_until 5 "the Monitor screen does not change: '$ticks'" not row_has 3 "$ticks"
shows "░▒▓█ é ╔═╗║" || fail "the Monitor's code page 437 sample is not shown"
keys M-F3
wait_row 0 " QUORVEX Server Console"

# --- Ctrl+C is a key for the server; the program goes on ---
keys C-c
ctrl_c_sent() { [ "$(logged '"keyword":"0x2e03"')" -ge 1 ]; }
wait_until 5 "Ctrl+C did not reach the server as 0x2e03" ctrl_c_sent
typed "ok"
wait_for "quorvex> ok"

# --- Alt+F1: the session menu; Esc resumes ---
keys M-F1
wait_for "Select Screen To View"
row_has 15 "Restart Server" || fail "no Restart Server item"
keys Escape
wait_gone "Select Screen To View"

# --- Alt+F2 ends the session: the server list and the title are back ---
keys M-F2
wait_for "Insert=New Server"
wait_title "Quorvex Client v.1.73 - disconnected"

# --- A wrong password is reported and asked for again ---
keys Enter
wait_for "Password for Simulator:"
typed "not the password"
keys Enter
wait_for "Invalid password !" 15
wait_for "Password for Simulator:" 15
keys Escape
wait_for "Insert=New Server"
wait_title "Quorvex Client v.1.73 - disconnected"

# --- A closed port; End as wine reads it (ESC [ F) picks the last entry ---
typed $'\e[F'
keys Enter
wait_for "Connection to 127.0.0.1:$closed has failed!"
wait_title "Unreachable (127.0.0.1:$closed) - Quorvex Client v.1.73"
keys Enter
wait_for "Insert=New Server"

# --- Leaving: Esc at the server list, then at the proxy list ---
keys Escape
wait_for "Select Proxy Server"
keys Escape
ended_with 0

# --- The configuration as written: CR LF throughout, entries kept ---
cfg=$WORK/win/quorcli.cfg
[ "$(grep -vc $'\r$' "$cfg")" = 0 ] || fail "lines without CR in the written configuration: $(od -c "$cfg" | head -20)"
grep -qF $'server=127.0.0.1:'"$SIM_PORT"$',Simulator\r' "$cfg" || fail "the Simulator entry is missing: $(cat -A "$cfg")"
grep -qF $'zeta \020\037\177\001 relay\r' "$cfg" || fail "the proxy's description was changed: $(cat -A "$cfg")"

# --- ... and the Linux build reads it back ---
cp "$cfg" "$WORK/linux/"
ln -s "$(cd "$BUILD" && pwd)/quorcli" "$WORK/linux/quorcli"
start_reporting l "cd \"$WORK/linux\" && ./quorcli --direct"
wait_for "Unreachable"
wait_for "Simulator"
keys Escape
wait_for "zeta ►▼⌂☺ relay"
keys Escape
ended_with 0

# --- --help and --version answer at once; an input that is no console is
# refused before anything is read or written ---
mkdir "$WORK/other"
cp "$WINBUILD/quorcli.exe" "$WORK/other/"
win() { (cd "$WORK/other" && wine ./quorcli.exe "$@" | tr -d '\r'); }
[ "$(win --version)" = "quorcli v.1.73" ] || fail "--version: $(win --version)"
win --help | grep -qx 'Configuration file: .*quorcli.cfg' || fail "--help: $(win --help)"
(cd "$WORK/other" && wine ./quorcli.exe) </dev/null >/dev/null 2>"$WORK/redirected" && fail "a redirected input was taken"
grep -qx "quorcli: standard input is not a console" <(tr -d '\r' <"$WORK/redirected") ||
    fail "stderr: $(cat "$WORK/redirected")"
[ ! -e "$WORK/other/quorcli.cfg" ] || fail "a configuration was written"

# --- A batch script without a console, against the stand-in ---
mkdir "$WORK/batch"
cp "$WINBUILD/quorcli.exe" "$WORK/batch/"
start_sim "$BUILD/quorvex-sim"
printf 'server=127.0.0.1:%s,Batch\r\n' "$SIM_PORT" >"$WORK/batch/quorcli.cfg"
echo quorvex >"$WORK/batch/pw"
printf '%s\n' 'wait now "Server Console"' 'type "hello batch"' 'key Enter' 'wait "> hello batch"' 'save "shot.txt"' >"$WORK/batch/script"
(cd "$WORK/batch" && timeout 60 wine ./quorcli.exe --batch --server=Batch --password-file=pw --script=script) \
    </dev/null >"$WORK/batch/out" 2>&1 || fail "the batch run failed: $(cat "$WORK/batch/out")"
grep -q "hello batch" "$WORK/batch/shot.txt" || fail "the batch screenshot lacks the typed line"
# A pattern that std::regex could backtrack on without bound is refused at load.
echo 'wait now /^(a+)+$/ timeout 2' >"$WORK/batch/slow"
(cd "$WORK/batch" && timeout 60 wine ./quorcli.exe --batch --server=Batch --password-file=pw --script=slow) \
    </dev/null >"$WORK/batch/out" 2>&1
status=$?
[ $status = 2 ] && grep -q "slow:1: bad regular expression /^(a+)+\$/: a repeated group" "$WORK/batch/out" ||
    fail "the backtracking pattern was not refused ($status): $(cat "$WORK/batch/out")"
# The script the Linux test runs, unchanged, over two servers at once: the
# password reaches each session through its pipe, and every line comes
# prefixed with its server.
chmod 600 "$WORK/batch/pw"
for n in 1 2; do
    start_sim "$BUILD/quorvex-sim" --pty=sh --password-file="$WORK/batch/pw"
    printf 'server=127.0.0.1:%s,Read %s\r\n' "$SIM_PORT" "$n" >>"$WORK/batch/quorcli.cfg"
done
cp "$(dirname "${BASH_SOURCE[0]}")/../e2e/reads.qs" "$WORK/batch/"
(cd "$WORK/batch" && timeout 120 wine ./quorcli.exe --batch --server='Read ?' --parallel=2 --password-file=pw \
    --script=reads.qs) </dev/null >"$WORK/batch/out" 2>"$WORK/batch/err" || fail "the reading run failed: $(cat "$WORK/batch/err")"
for n in 1 2; do
    [ "$(tr -d '\r' <"$WORK/batch/out" | sed -n "s/^Read $n: //p" | tr '\n' ,)" = "42.1,found R7,else taken,row-zero," ] ||
        fail "Read $n printed: $(cat "$WORK/batch/out")"
done

# --- An error at the end is said on the console, which waits for a key ---
mkdir "$WORK/other/quorcli.cfg"
new_pane e "sh -c 'cd \"$WORK/other\" && wine ./quorcli.exe; echo status=\$?; sleep 300'"
wait_for "quorcli: cannot read" 20
wait_for "Press any key to close this window."
keys x
wait_for "status=1"

echo "PASS"
