#!/usr/bin/env bash
# Batch mode against the stand-in, run directly with pipes (no terminal): a
# script types into a real shell and waits for its output, sends keys whose
# words the stand-in logs, saves screens; then each exit status: a wait not
# fooled by the old screen (1, the screen on stderr), or on a pattern that
# backtracks (1 in time), a script error (2), a closed port (3), a password
# file others may read (2), a wrong password (4), a stand-in stopped
# mid-script (5), the deadline (124); a screenshot; two servers in
# parallel, sessions that cannot start (126), and twenty, five at a time;
# the password the stand-in makes when it serves a program; a screen name
# and a description of control bytes and code page 437 letters; a script
# that prints what a shell shows and branches on it (reads.qs, which the
# Windows build runs too); parallel saves that keep every server's file.
# Usage: batch_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BUILD=$(cd "${1:?usage: batch_test.sh <build-dir>}" && pwd)
need "$BUILD/quorcli"
need "$BUILD/quorvex-sim"
cd "$WORK" || exit 1
fail() { echo "FAIL: $*"; for f in out err; do [ -f "$f" ] && { echo "--- $f ---"; cat "$f"; }; done; exit 1; }
# batch <expected status> <script text> [options]: runs a script (none when
# the text is empty), output in out and err.
batch() {
    local want=$1 text=$2
    shift 2
    printf '%s\n' "$text" >script
    [ -n "$text" ] && set -- --script=script "$@"
    timeout 60 "$BUILD/quorcli" --batch --config=quorcli.cfg --password-file=pw "$@" >out 2>err
    local got=$?
    [ "$got" = "$want" ] || fail "exit status $got, expected $want, for: $text $*"
}

echo quorvex >pw
echo mm >master
chmod 600 pw master
start_sim "$BUILD/quorvex-sim" --pty=sh --password-file=pw --log="$WORK/log"
SHELL_PORT=$SIM_PORT
start_sim "$BUILD/quorvex-sim" --password=secret
SECRET_PORT=$SIM_PORT
# Rack 1's field is the digest of "secret" under the master password "mm".
printf '%s\r\n' "server=127.0.0.1:$SHELL_PORT,Shell" "server=127.0.0.1:$SECRET_PORT,Rack 1,0e2f86ffa58be1c5b7ded6bd55e625669d9a72d52c" \
    "server=127.0.0.1:$SHELL_PORT,Rack 2" "server=127.0.0.1:1,Closed" >quorcli.cfg
chmod 600 quorcli.cfg

# --- Type a command, wait for its output, keys, saves, JSON events ---
batch 0 'wait now /[#$]$/
type "echo $((6*7))"
key Enter
wait "42" timeout 10
save "shot.txt"
send Shift+F4
key Ctrl+c F12 Ctrl+c
wait still 300
save "shot.json"
echo "done"' --server=Shell --json
grep -qx '42' shot.txt || fail "the saved text lacks the output"
grep -q '"keyword":"0xae03"' log && grep -q '"keyword":"0x5800"' log && grep -q '"keyword":"0x3e00"' log ||
    fail "Ctrl+c, F12 and a sent Shift+F4 did not arrive as their key words"
python3 -c 'import json,sys
ev=[json.loads(l) for l in open("out")]
assert ev[0]["event"]=="connected" and ev[-1]=={**ev[-1],"event":"end","code":0}, ev
assert all(e["server"]=="Shell" for e in ev) and any(e.get("text")=="done" for e in ev)
s=json.load(open("shot.json")); assert len(s["rows"])==25 and "42" in s["rows"] and s["screen_name"]=="Program"' ||
    fail "the JSON lines or the saved JSON are wrong"

# --- Print, a wait that takes its second alternative, if and else ---
batch 0 "$(cat "$HERE/reads.qs")" --server=Shell --json
python3 -c 'import json
ev = [json.loads(l) for l in open("out")]
said = [(e["event"], e["text"]) for e in ev if e["event"] in ("print", "echo")]
assert said == [("print", "42.1"), ("echo", "found R7"), ("echo", "else taken"), ("print", "row-zero")], said
assert [e.get("matched") for e in ev if e.get("command") == "wait" and e["line"] == 6] == [2], ev
assert [e["branch"] for e in ev if e.get("command") == "if"] == ["if", "else"], ev' ||
    fail "print, wait ... or, or if/else went wrong"

# --- A wait's timeout holds whatever the pattern: exit 1 in time ---
started=$SECONDS
batch 1 'wait now /[#$]$/
type "echo $(printf %030d 0 | tr 0 a)!"
key Enter
wait /^a{30}!$/ timeout 10
wait now /^(a+)+$/ timeout 2' --server=Shell
[ $((SECONDS - started)) -lt 20 ] && grep -q "script:5: wait" err || fail "the wait did not end at its timeout"

# --- The prompt already shown does not answer a wait: timeout, exit 1 ---
batch 1 'wait now /[#$]$/
wait /[#$]$/ timeout 1' --server=Shell
grep -q "script:2: wait" err && grep -qx '#\|\$' err || fail "the timeout does not name its line or show the screen"

# --- Names of control bytes and letters: clean UTF-8 everywhere; a script
# names the screen as it is shown ---
start_sim "$BUILD/quorvex-sim" --console-name=$'\e]0;PWN\a\xe9\xff'
printf 'server=127.0.0.1:%s,Evil\e]2;X\a\x82\r\n' "$SIM_PORT" >>quorcli.cfg
batch 0 $'screen 2\nscreen "←]0;PWN•Θ\xc2\xa0"\nsave "evil.json"\nsave "evil.html"' --server=Evil --json
clean_utf8 out err evil.json evil.html
python3 -c 'import json
name, server = "←]0;PWN•Θ\xa0", "Evil←]2;X•é"
ev = [json.loads(l) for l in open("out")]
assert [e["name"] for e in ev if e["event"] == "screen"][-1] == name and all(e["server"] == server for e in ev), ev
s = json.load(open("evil.json")); assert (s["screen_name"], s["server"]) == (name, server), s' ||
    fail "the names are not their glyphs"

# --- Script errors are refused before anything connects: exit 2, each with its line ---
batch 2 $'echo "a"\nwait "b" row 99\nfrob' --server=Closed
grep -q "script:2: " err && grep -q "script:3: unknown command" err || fail "the script errors do not name lines 2 and 3"
# A screen the server lacks: exit 2 at once, naming it.
started=$SECONDS
batch 2 'screen 9' --server=Shell
[ $((SECONDS - started)) -lt 20 ] && grep -qx 'quorcli: script:1: the server has no screen 9' err || fail "screen 9 was not refused"

# Failures say why in words, and JSON gets a stable reason word.
reason() { python3 -c 'import json,sys; e=[json.loads(l) for l in open("out")][-1]
assert e["event"]=="end" and e["reason"]==sys.argv[1] and sys.argv[2] in e["message"], e' "$1" "$2" || fail "no $1"; }
batch 3 'echo "x"' --server=Closed --json
reason refused "Connection refused (127.0.0.1:1)"
batch 2 '' --server=Closed --script=nofile.qs
grep -qx "quorcli: cannot read the script nofile.qs: No such file or directory" err || fail "no reason for the script"
# A password file that others may read is refused before anything connects.
chmod 640 pw
batch 2 'echo "x"' --server=Closed
chmod 600 pw
grep -qx 'quorcli: pw: group or others may read it (mode 0640); make it private (chmod 600)' err ||
    fail "the open password file is not refused"
echo wrong >pw
batch 4 'wait "never"' --server=Shell --json
reason password "invalid"
echo quorvex >pw
batch 124 'wait "never"' --server=Shell --deadline=1

# --- A stand-in stopped mid-script: exit 5 ---
start_sim "$BUILD/quorvex-sim" --update-ms=100
printf 'server=127.0.0.1:%s,Gone\r\n' "$SIM_PORT" >>quorcli.cfg
printf 'wait now "QUORVEX"\nwait "never" timeout 30\n' >gone
"$BUILD/quorcli" --batch --config=quorcli.cfg --password-file=pw --script=gone --server=Gone --json >out 2>err &
client=$!
wait_until 10 "the script did not start" grep -q '"line":1' out
kill "${E2E_PIDS[-1]}"
wait "${E2E_PIDS[-1]}" 2>/dev/null
unset 'E2E_PIDS[-1]'
alive() { kill -0 "$1" 2>/dev/null; }
wait_until 10 "the client did not end" not alive "$client"
wait "$client"
[ $? = 5 ] || fail "a lost link did not end with 5"

# --- A screenshot, recorded, and two servers at once with the highest status ---
batch 2 '' --server=Shell --screenshot=screen.html --record --save-dir=rec
grep -qx "quorcli: --record: cannot write to rec: No such file or directory" err || fail "no reason for the folder"
mkdir -m 700 rec
batch 0 '' --server=Shell --screenshot=screen.html --record --save-dir=rec
grep -q '<pre>' screen.html || fail "no screenshot page"
[ "$(ls rec/Shell-*.cast | wc -l)" = 1 ] || fail "the batch run was not recorded: $(ls rec)"
# A batch run can be watched: the page of --share shows its screen. The run
# lasts until the page has been fetched: its shell waits for a line from a
# FIFO, written once the page came.
mkfifo fetched
batch 0 'wait now /[#$]$/
type "read line <'"$WORK"'/fetched; echo page-$line"
key Enter
wait "page-fetched" timeout 60' --server=Shell --share --json &
watched=$!
wait_until 20 "no share address" grep -q "shared at http" err
python3 -c 'import sys,urllib.request; assert b"<html" in urllib.request.urlopen(sys.argv[1]).read()' \
    "$(sed -n 's/.*shared at //p' err)" || fail "the page of the batch run does not answer"
timeout 30 sh -c 'echo fetched >fetched' || fail "the watched run's shell did not wait for the page"
wait "$watched" || fail "the watched batch run failed"
python3 -c 'import json; assert [json.loads(l) for l in open("out")][0]["url"].startswith("http://127.0.0.1:")' ||
    fail "no shared event"
batch 9 $'save "out.txt"\nexpect "Server Console" else 9 "not a console"' --server='Rack ?' --parallel=2 \
    --master-password-file=master
[ -f out-Rack_1.txt ] && [ -f out-Rack_2.txt ] && [ ! -e out.txt ] || fail "the servers' saves are not each their own: $(ls)"
grep -qx 'Rack 2: quorcli: script:2: not a console' err && grep -qx 'quorcli: Rack 1: exit status 0' err &&
    grep -qx 'quorcli: Rack 2: exit status 9' err || fail "the parallel run's lines are not prefixed or summed up"
# Sessions that cannot start (no descriptors left for their pipes) fail the run.
(ulimit -n 6; exec timeout 60 "$BUILD/quorcli" --batch --config=quorcli.cfg --master-password-file=master \
    --script=script --server='Rack ?' --parallel=2) >out 2>err
[ $? = 126 ] && grep -q '^quorcli: Rack 1: could not be started: ' err || fail "a session that could not start passed"

# --- Serving a program, the stand-in makes its password and says it once ---
start_sim "$BUILD/quorvex-sim" --pty=true
printf 'server=127.0.0.1:%s,Pty\r\n' "$SIM_PORT" >>quorcli.cfg
(umask 077; sed -n 's/^quorvex-sim: password for this run: //p' "$WORK/sim.out" >made)
batch 4 'wait "never"' --server=Pty
batch 0 'wait now "[program ended"' --server=Pty --password-file=made

# --- 20 stand-ins, 5 sessions at a time ---
for n in $(seq -w 1 20); do
    start_sim "$BUILD/quorvex-sim"
    printf 'server=127.0.0.1:%s,Node %s\r\n' "$SIM_PORT" "$n" >>quorcli.cfg
done
batch 0 'expect "Server Console" else 9 "not a console"' --server='Node *' --parallel=5
[ "$(grep -c '^quorcli: Node [0-9]*: exit status 0$' err)" = 20 ] || fail "not every node ended with 0: $(cat err)"
echo "PASS"
