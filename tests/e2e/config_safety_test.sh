#!/usr/bin/env bash
# Runs the real quorcli as the unprivileged user nobody (runuser) on
# configuration files it may not read or write, or whose folder it may not
# write, and checks what is on disk afterwards: bytes, owner, group, mode,
# inode and the folder's other names, and the exit status and message.
# Files and folders that another user controls belong to daemon, an account
# every Debian system has, which never runs anything here.
# Needs root (to become nobody and to hand files to other users).
# Usage: config_safety_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=${1:?usage: config_safety_test.sh <build-dir>}
need "$BUILD/quorcli"
[ "$(id -u)" = 0 ] || { echo "FAIL: must run as root (to become nobody)"; exit 1; }
command -v runuser >/dev/null || { echo "FAIL: runuser not found"; exit 1; }

# nobody may pass through the work folder, but not list it.
chmod 711 "$WORK"
mkdir "$WORK/bin"
cp "$BUILD/quorcli" "$WORK/bin/quorcli"
chmod 755 "$WORK/bin" "$WORK/bin/quorcli"

# What a file is on disk: owner, group, mode, inode, checksum.
state() { stat -c '%U:%G %a %i' "$1" && md5sum <"$1"; }

# case_folder <name> <owner:group> <mode>: a folder with the program (a link:
# the program keeps its configuration beside the name it was started by).
case_folder() {
    D=$WORK/$1
    CFG=$D/quorcli.cfg
    mkdir "$D"
    ln -s "$WORK/bin/quorcli" "$D/quorcli"
    chown -h "$2" "$D" "$D/quorcli"
    chmod "$3" "$D"
}

# config_file <owner:group> <mode>: the configuration, written as a person
# would (LF line ends, no comments), so that any save would change its bytes.
config_file() {
    printf 'server=a.example,Alpha\nproxy=p.example:3128,Office\n' >"$CFG"
    chown "$1" "$CFG"
    chmod "$2" "$CFG"
    BEFORE=$(state "$CFG")
    NAMES=$(ls -A "$D")
}

run_as_nobody() { start_reporting cfg "runuser -u nobody -- \"$D/quorcli\""; }

# Leaves the proxy list once it shows the file's proxy.
leave_lists() {
    wait_for "Select Proxy Server"
    wait_for "Office"
    keys Escape
}

untouched() {
    [ "$(state "$CFG")" = "$BEFORE" ] || fail "the file changed: $(state "$CFG") (was $BEFORE)"
    [ "$(ls -A "$D")" = "$NAMES" ] || fail "the folder holds $(ls -A "$D" | tr '\n' ' ')"
}

# The file as a save writes it, with the same owner, group, mode and inode.
rewritten_in_place() {
    printf '%s\r\n' \
        "; QUORVEX servers (hostname:port,description,password)" \
        "server=a.example:4242,Alpha" \
        "" \
        "; Proxy servers (user:pass@proxyhostname:port,description)" \
        "proxy=p.example:3128,Office" >"$WORK/expected.cfg"
    cmp -s "$CFG" "$WORK/expected.cfg" || { od -c "$CFG" | head -20; fail "the file was not saved"; }
    [ "$(state "$CFG" | head -1)" = "$(echo "$BEFORE" | head -1)" ] ||
        fail "owner, group, mode or inode changed: $(state "$CFG" | head -1) (was $(echo "$BEFORE" | head -1))"
    [ "$(ls -A "$D")" = "$NAMES" ] || fail "the folder holds $(ls -A "$D" | tr '\n' ' ')"
    [ ! -s "$WORK/stderr" ] || fail "stderr: $(cat "$WORK/stderr")"
}

# --- A file that cannot be read: nothing is shown, nothing is written ---
case_folder unreadable nobody:nogroup 755
config_file root:root 600
run_as_nobody
ended_with 1
[ "$(cat "$WORK/stderr")" = "quorcli: cannot read $CFG: Permission denied" ] || fail "stderr: $(cat "$WORK/stderr")"
untouched

# --- A file that may be read but not written, in a folder that may be
# written: no rename replaces it ---
case_folder readonly-file nobody:nogroup 755
config_file root:root 644
run_as_nobody
leave_lists
ended_with 1
[ "$(cat "$WORK/stderr")" = "quorcli: cannot write $CFG: Permission denied" ] || fail "stderr: $(cat "$WORK/stderr")"
untouched

# --- A file that may be written, in a folder that may not: written in place ---
case_folder readonly-folder root:root 755
config_file nobody:nogroup 640
run_as_nobody
leave_lists
ended_with 0
rewritten_in_place

# --- Another user's file that nobody may write through its group, in a
# folder nobody may write: written in place, so its owner stays ---
case_folder group-writable nobody:nogroup 755
config_file root:nogroup 664
run_as_nobody
leave_lists
ended_with 0
rewritten_in_place

# --- Another user's shared folder as XDG_CONFIG_HOME, its quorcli.cfg a link
# to a file of nobody's: refused at start, the file left alone ---
install -d -o nobody -g nogroup -m 700 "$WORK/home"
printf 'alias ll=ls\n' >"$WORK/home/.bashrc"
chown nobody:nogroup "$WORK/home/.bashrc"
install -d -o daemon -g daemon -m 777 "$WORK/team" "$WORK/team/quorcli"
ln -s "$WORK/home/.bashrc" "$WORK/team/quorcli/quorcli.cfg"
start_reporting cfg "runuser -u nobody -- env XDG_CONFIG_HOME=$WORK/team $WORK/bin/quorcli"
ended_with 1
[ "$(cat "$WORK/stderr")" = "quorcli: $WORK/team: configuration folder owned by daemon" ] || fail "stderr: $(cat "$WORK/stderr")"
[ "$(cat "$WORK/home/.bashrc")" = "alias ll=ls" ] || fail "the link's file changed: $(cat "$WORK/home/.bashrc")"

# --- A file that everyone may write, with a tunnel entry: refused at start,
# the command never run ---
case_folder planted nobody:nogroup 755
printf 'server=127.0.0.1:1,Target\ntunnel=touch %s,Team\n' "$D/ran" >"$CFG"
chown daemon:daemon "$CFG"
chmod 666 "$CFG"
start_reporting cfg "runuser -u nobody -- \"$D/quorcli\" --proxy=Team --server=Target"
ended_with 1
[ "$(cat "$WORK/stderr")" = "quorcli: $CFG: writable by others (mode 0666)" ] || fail "stderr: $(cat "$WORK/stderr")"
[ ! -e "$D/ran" ] || fail "the tunnel command ran"

echo "PASS"
