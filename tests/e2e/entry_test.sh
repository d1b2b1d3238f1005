#!/usr/bin/env bash
# Program entry of the real quorcli: --help and --version answer on standard
# output and touch nothing; an unknown argument or a value left out gets one
# line and the usage on standard error and status 2, before the terminal is
# looked at; a terminal that cannot carry the program (output
# to a file, input not a terminal, TERM=dumb, an unknown TERM) gets a one-line
# refusal, status 1, the tty as it was and no configuration file; Ctrl+\
# (SIGQUIT) leaves in order: the terminal restored, the configuration saved;
# a crash (SIGABRT) still puts the terminal back.
# Usage: entry_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=${1:?usage: entry_test.sh <build-dir>}
BIN=$BUILD/quorcli
need "$BIN"
ln -s "$BIN" "$WORK/quorcli"
CFG=$WORK/quorcli.cfg

# run <TERM> <arguments and redirections>: starts the program in a shell
# that records the tty modes before and after it, its stderr and its exit
# status, then shows "ended". The shell's QUIT trap keeps it alive across
# Ctrl+\ without passing SIG_IGN on to the program.
cat >"$WORK/run.sh" <<EOF
trap 'echo shell-saw-QUIT' QUIT
cd "$WORK"
stty -g >tty.before
eval "./quorcli \$1" 2>stderr
echo \$? >status
stty -g >tty.after
echo ended
exec sleep 300
EOF
run() { rm -f "$WORK/status"; new_pane e "sh $WORK/run.sh '$2'" "$1" "${3:-25}"; }

# --- --version and --help: standard output, status 0, nothing written ---
run xterm "--version"
ended_with 0
row_begins 0 "quorcli v.1.7" || fail "version: '$(row 0)'"
run xterm "--server=x --help -m" 40
ended_with 0
row_begins 0 "Usage: quorcli" || fail "usage: '$(row 0)'"
for text in "--proxy=NAME" "--server=NAME" "--direct" "--config=FILE" " -m " " -a " " -n " " -u " "Configuration file: ./quorcli.cfg"; do
    shows "$text" || fail "the usage does not mention '$text'"
done
[ -e "$CFG" ] && fail "a configuration file was written"

# --- Command lines: the status, and the first line said (on stdout for 0,
# else on stderr, where the usage follows); no terminal needed ---
while IFS='|' read -r args status first; do
    # shellcheck disable=SC2086  # the arguments are split at blanks
    (cd "$WORK" && exec ./quorcli $args </dev/null >out.txt 2>err.txt)
    got=$?
    said=$(head -1 "$WORK/$([ "$status" = 0 ] && echo out || echo err).txt")
    [ "$got:$said" = "$status:$first" ] || fail "quorcli $args: status $got, said '$said'"
    [ "$status" = 0 ] || sed -n 2p "$WORK/err.txt" | grep -q "^Usage: quorcli" || fail "quorcli $args: no usage"
done <<'TABLE'
--bogus|2|quorcli: unknown option '--bogus'
-h --help|2|quorcli: unknown option '-h'
--sever=x|2|quorcli: unknown option '--sever=x'
--server|2|quorcli: option '--server' needs a value: --server=NAME
--config --version|2|quorcli: option '--config' needs a value: --config=FILE
stray|2|quorcli: unknown argument 'stray'
--history=abc|2|quorcli: --history takes a whole number from 0 to 1000000: 'abc'
--record-limit=0|2|quorcli: --record-limit takes a whole number from 1 to 1000000: '0'
--share=8081,0.0.0.0:8765 --version|2|quorcli: --share=8081,0.0.0.0:8765: not ADDR, ADDR:PORT or :PORT (one IPv4 address such as 127.0.0.1, one port from 0 to 65535)
--share=[::1]:8080|2|quorcli: --share=[::1]:8080: IPv6 cannot be shared: Debian's civetweb library, which serves the page, is built without IPv6
-m /a --n --dir --reconnect --config= --server= --proxy= --version|0|quorcli v.1.7
TABLE
[ -e "$CFG" ] && fail "a configuration file was written"

# --- Refusals: one line on stderr, status 1, the tty untouched ---
refused() {  # refused <TERM> <arguments> <expected message>
    run "$1" "$2"
    ended_with 1
    [ "$(wc -l <"$WORK/stderr")" = 1 ] || fail "$1 $2: stderr is not one line: $(cat "$WORK/stderr")"
    [ "$(cat "$WORK/stderr")" = "quorcli: $3" ] || fail "$1 $2: stderr: $(cat "$WORK/stderr")"
    cmp -s "$WORK/tty.before" "$WORK/tty.after" || fail "$1 $2: the tty modes changed"
    [ -e "$CFG" ] && fail "$1 $2: a configuration file was written"
}
refused xterm ">out.txt" "standard input and output must be a terminal"
[ -s "$WORK/out.txt" ] && fail "something was drawn into the file"
refused xterm "</dev/null" "standard input and output must be a terminal"
refused dumb "" "terminal type 'dumb' cannot address the cursor"
refused no-such-terminal "" "unknown terminal type 'no-such-terminal'"

# --- Ctrl+\ leaves like SIGTERM ---
printf 'server=127.0.0.1:1,Alpha\r\n' >"$CFG"
run xterm ""
wait_for "Select Proxy Server"
keys 'C-\'
ended_with 0
[ "$(tmx display -p -t "$PANE" '#{alternate_on}')" = 0 ] || fail "still on the program's screen"
cmp -s "$WORK/tty.before" "$WORK/tty.after" || fail "the tty was left in the program's modes"
grep -qF "; QUORVEX servers" "$CFG" || fail "the configuration was not saved: $(cat "$CFG")"
grep -qF "server=127.0.0.1:1,Alpha" "$CFG" || fail "the server entry was lost: $(cat "$CFG")"

# --- A crash: the terminal is put back, then the program dies of the signal ---
run xterm ""
wait_for "Select Proxy Server"
kill -ABRT "$(pgrep -P "$(tmx list-panes -t "$PANE" -F '#{pane_pid}')" | head -1)"
ended_with 134
[ "$(tmx display -p -t "$PANE" '#{alternate_on}')" = 0 ] || fail "a crash left the program's screen"
cmp -s "$WORK/tty.before" "$WORK/tty.after" || fail "a crash left the tty in the program's modes"

echo "PASS"
