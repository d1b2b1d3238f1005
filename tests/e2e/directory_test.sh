#!/usr/bin/env bash
# Drives the real quorcli in a private tmux server: proxies and servers are
# added, edited and removed through the list screens, passwords are stored
# under a master password, and the configuration file written beside the
# program is checked byte for byte; then the program is started again on
# that file.
# Usage: directory_test.sh <build-dir>
set -u

BUILD=${1:?usage: directory_test.sh <build-dir>}
BIN=$BUILD/quorcli
[ -x "$BIN" ] || { echo "FAIL: $BIN not built"; exit 1; }
command -v tmux >/dev/null || { echo "FAIL: tmux not found"; exit 1; }

# The program finds its configuration beside itself (its directory comes
# from argv[0]), so a link in a fresh folder gives it a private file.
WORK=$(mktemp -d)
ln -s "$BIN" "$WORK/quorcli"
CFG=$WORK/quorcli.cfg
# One private tmux server per run, each with a name of its own, so that a
# new server never meets the previous one while that is still going away.
TMUX_BASE=quorcli-directory-$$-$RANDOM
RUN=0
TMUX_NAME=$TMUX_BASE-0
cleanup() {
    local n
    for ((n = 1; n <= RUN; n++)); do
        tmux -L "$TMUX_BASE-$n" kill-server 2>/dev/null
        rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$TMUX_BASE-$n"
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

screen() { tmux -L "$TMUX_NAME" capture-pane -p -t dir 2>/dev/null; }
row() { screen | sed -n "$(($1 + 1))p"; }     # screen row, 0-based
keys() { tmux -L "$TMUX_NAME" send-keys -t dir "$@"; }
typed() { tmux -L "$TMUX_NAME" send-keys -t dir -l "$1"; }

fail() {
    echo "FAIL: $*"
    echo "--- screen ---"
    screen
    exit 1
}

# Waits (at most $2 seconds, default 10) until the screen shows the text.
wait_for() {
    local deadline=$((SECONDS + ${2:-10}))
    while ((SECONDS < deadline)); do
        screen | grep -qF -- "$1" && return 0
        sleep 0.1
    done
    fail "timed out waiting for '$1'"
}

# Waits (at most 10 seconds) until the text has gone from the screen.
wait_gone() {
    local deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)); do
        screen | grep -qF -- "$1" || return 0
        sleep 0.1
    done
    fail "'$1' is still shown"
}

# A list line: the description padded to 35, " - ", the address.
line() { printf '%-35s - %s' "$1" "$2"; }

# Answers one input box: waits for its prompt, types the text, Enter.
answer() {
    wait_for "$1"
    [ -n "$2" ] && typed "$2"
    keys Enter
    wait_gone "$1"
}

# Starts the program in a new private tmux server; its exit status and
# what it wrote on stderr are kept in the work folder.
start() {
    [ "$RUN" -gt 0 ] && tmux -L "$TMUX_NAME" kill-server 2>/dev/null
    RUN=$((RUN + 1))
    TMUX_NAME=$TMUX_BASE-$RUN
    rm -f "$WORK/status" "$WORK/stderr"
    tmux -L "$TMUX_NAME" new-session -d -s dir -x 80 -y 25 -e TERM=xterm \
        "sh -c '\"$WORK/quorcli\" 2>\"$WORK/stderr\"; echo \$? > \"$WORK/status\"; echo ended; sleep 300'" ||
        fail "cannot start tmux"
}

# Waits until the program has ended and checks its exit status.
ended_with() {
    wait_for ended
    [ "$(cat "$WORK/status")" = "$1" ] || fail "exit status $(cat "$WORK/status"), expected $1"
}

same_file() {
    cmp -s "$1" "$2" || { echo "--- got ---"; od -c "$1" | head -40; fail "$1 differs from $2"; }
}

# --- Run 1: a new configuration made through the list screens ---
start
wait_for "Select Proxy Server"
# (capture-pane drops the blanks at the end of a row)
[ "$(row 0)" = "ZEV Telvane/IP v.1.7" ] || fail "title row is '$(row 0)'"
expect_legend=" Insert=New Proxy Server Delete=Remove Proxy Server F3=Edit Proxy Server"
[ "$(row 24 | sed 's/ *$//')" = "$expect_legend" ] || fail "proxy legend is '$(row 24)'"
row 7 | grep -qF "[Direct Connection]" || fail "no direct entry"

# A proxy with credentials.
keys IC
answer "Enter description:" "Office"
answer "Enter server address (hostname:port)." "10.0.0.9:3128"
answer "Enter HTTPS proxy username (if required):" "bob"
answer "Enter HTTPS proxy password:" "pw"
wait_for "$(line Office 10.0.0.9:3128)"

# A second one, removed again; Esc at the user name keeps none.
keys IC
answer "Enter description:" "Temp"
answer "Enter server address (hostname:port)." "t.example"
wait_for "Enter HTTPS proxy username (if required):"
keys Escape
wait_for "$(line Temp t.example:8080)"
keys End DC
wait_gone "Temp"

# Edit the proxy (the active one after the delete): the texts are offered.
keys F3
wait_for "Change description:"
keys End
typed " HQ"
keys Enter
wait_for "Change proxy address (hostname:port)."
screen | grep -qF "|10.0.0.9:3128 " || fail "the proxy address is not offered"
keys Enter
wait_for "Enter HTTPS proxy username (if required):"
screen | grep -qF "|bob " || fail "the user name is not offered"
keys Enter
answer "Enter HTTPS proxy password:" ""
wait_for "$(line "Office HQ" 10.0.0.9:3128)"

# The direct entry can be neither edited nor removed.
keys Home F3
sleep 0.5
screen | grep -qF "Change description:" && fail "the direct entry was offered for editing"
keys DC
sleep 0.5
screen | grep -qF "[Direct Connection]" || fail "the direct entry was removed"

# Direct connection: the server list, without a border title.
keys Enter
wait_for "Set Master Password"
[ "$(row 23 | sed 's/ *$//')" = " Insert=New Server  Delete=Remove Server  F3=Edit Server  F4=Save Password" ] ||
    fail "server legend row 23 is '$(row 23)'"
[ "$(row 24 | sed 's/ *$//')" = " F5=Set Master Password" ] || fail "server legend row 24 is '$(row 24)'"
row 4 | grep -qF "[" && fail "a border title is shown for the direct connection"

keys IC
answer "Enter description:" "Alpha"
answer "Enter server address (hostname:port)." "127.0.0.1:1"
keys IC
answer "Enter description:" "Beta"
answer "Enter server address (hostname:port)." "b.example"
keys IC
answer "Enter description:" "Gamma"
answer "Enter server address (hostname:port)." "g.example:5000"
keys IC
answer "Enter description:" "Zeta"
answer "Enter server address (hostname:port)." "z.example"
wait_for "$(line Beta b.example)"
wait_for "$(line Gamma g.example:5000)"
wait_for "$(line Zeta z.example)"
keys End DC
wait_gone "Zeta"

# Edit Beta: new description, a port added.
keys Home Down F3
wait_for "Change description:"
keys End
typed "x"
keys Enter
wait_for "Change server address (hostname:port)."
keys End
typed ":6000"
keys Enter
wait_for "$(line Betax b.example:6000)"

# Store Gamma's password: the master password is asked for first.
keys Down F4
answer "New master password:" "mm"
answer "Retype master password:" "mm"
wait_for "Master password has been succesfully set."
keys Enter
wait_for "Enter password for Gamma:"
typed "secret"
wait_for "******"
screen | grep -qF "secret" && fail "the server password is shown"
keys Enter
wait_gone "Enter password for Gamma:"

# Two different texts change nothing.
keys F5
answer "New master password:" "m2"
answer "Retype master password:" "m3"
wait_for "Entered passwords does not match, try it again please."
keys Enter
wait_gone "Entered passwords does not match"

# Choosing a server where nothing listens.
keys Home Enter
wait_for "Connection to IP address 127.0.0.1 has failed!"
keys Enter
wait_for "Connection failed."
wait_for "Set Master Password"

keys Escape
wait_for "Select Proxy Server"
keys Escape
ended_with 0
[ -s "$WORK/stderr" ] && fail "stderr: $(cat "$WORK/stderr")"

# Gamma's field: MD5("secret" + "Nivarol") + "40981" under RC4 keyed "mm",
# worked out independently of the program.
printf '%s\r\n' \
    "; QUORVEX servers (hostname:port,description,password)" \
    "server=127.0.0.1:1,Alpha" \
    "server=b.example:6000,Betax" \
    "server=g.example:5000,Gamma,0e2f86ffa58be1c5b7ded6bd55e625669d9a72d52c" \
    "" \
    "; Proxy servers (user:pass@proxyhostname:port,description)" \
    "proxy=bob:pw@10.0.0.9:3128,Office HQ" > "$WORK/expected.cfg"
same_file "$CFG" "$WORK/expected.cfg"
[ "$(stat -c %a "$CFG")" = 600 ] || fail "a new configuration file has mode $(stat -c %a "$CFG")"
cp "$CFG" "$WORK/before.cfg"

# --- Run 2: the stored password asks for the master password; a wrong one
# is asked again, and Esc leaves with the file written back unchanged ---
start
wait_for "Master password:"
[ "$(row 24 | sed 's/ *$//')" = "Enter QUORVEX master password." ] || fail "prompt row is '$(row 24)'"
typed "wrong"
wait_for "*****"
keys Enter
wait_gone "*****"
wait_for "Master password:"
sleep 1.5
screen | grep -qF "Select Proxy Server" && fail "a wrong master password was accepted"
keys Escape
ended_with 0
same_file "$CFG" "$WORK/before.cfg"

# --- Run 3: the right master password opens the lists; the file is the same ---
start
wait_for "Master password:"
typed "mm"
keys Enter
wait_for "Select Proxy Server"
keys Escape
ended_with 0
same_file "$CFG" "$WORK/before.cfg"

# --- Run 4: a termination request leaves in order and still saves ---
start
wait_for "Master password:"
typed "mm"
keys Enter
wait_for "Select Proxy Server"
keys IC
answer "Enter description:" "Lab"
answer "Enter server address (hostname:port)." "lab.example:8000"
wait_for "Enter HTTPS proxy username (if required):"
keys Escape
wait_for "$(line Lab lab.example:8000)"
shell_pid=$(tmux -L "$TMUX_NAME" list-panes -t dir -F '#{pane_pid}')
prog_pid=$(pgrep -P "$shell_pid" | head -1)
[ -n "$prog_pid" ] || fail "cannot find the program's process"
kill -TERM "$prog_pid"
ended_with 0
printf '%s\r\n' \
    "; QUORVEX servers (hostname:port,description,password)" \
    "server=127.0.0.1:1,Alpha" \
    "server=b.example:6000,Betax" \
    "server=g.example:5000,Gamma,0e2f86ffa58be1c5b7ded6bd55e625669d9a72d52c" \
    "" \
    "; Proxy servers (user:pass@proxyhostname:port,description)" \
    "proxy=lab.example:8000,Lab" \
    "proxy=bob:pw@10.0.0.9:3128,Office HQ" > "$WORK/expected.cfg"
same_file "$CFG" "$WORK/expected.cfg"

# --- Run 5: a configuration that cannot be written is reported ---
rm "$CFG"
mkdir "$CFG"
start
wait_for "Select Proxy Server"
keys Escape
ended_with 1
grep -qF "$CFG: Is a directory" "$WORK/stderr" || fail "stderr: $(cat "$WORK/stderr")"
[ -d "$CFG" ] || fail "the directory in the file's place is gone"
[ -z "$(ls -A "$CFG")" ] || fail "something was written into the directory"

echo "PASS"
