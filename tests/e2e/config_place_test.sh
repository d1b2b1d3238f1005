#!/usr/bin/env bash
# Where the real quorcli keeps its configuration when it is copied into a
# folder it may not write and run as the unprivileged user nobody (runuser),
# with its home in a scratch folder: the user's configuration folder is made
# private and used, a file beside the program is still used, --config= names
# the file (a new one private, one in a folder that may not be written a
# failed save), and --help names the file each time without making anything.
# Needs root (to become nobody); skipped otherwise.
# Usage: config_place_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=${1:?usage: config_place_test.sh <build-dir>}
need "$BUILD/quorcli"
if [ "$(id -u)" != 0 ] || ! command -v runuser >/dev/null; then
    echo "SKIP: needs root and runuser to become nobody"
    exit 0
fi

chmod 711 "$WORK"
RO=$WORK/ro            # the program's folder: root's, nobody may not write it
mkdir "$RO"
cp "$BUILD/quorcli" "$RO/quorcli"
chmod 755 "$RO" "$RO/quorcli"
U=$WORK/u              # nobody's home
mkdir "$U"
chown nobody:nogroup "$U"
chmod 700 "$U"
XDG=                   # XDG_CONFIG_HOME of the runs; empty: unset
HERE=$U                # the current folder of the runs

# The command line that runs the program as nobody with the arguments.
as_nobody() {
    local xdg="-u XDG_CONFIG_HOME"
    [ -n "$XDG" ] && xdg="XDG_CONFIG_HOME=$XDG"
    echo "cd $HERE && runuser -u nobody -- env $xdg HOME=$U PATH=$RO:/usr/bin:/bin $*"
}

# help_says <file> <arguments...>: the last line of --help names the file.
help_says() {
    local want=$1 got
    shift
    got=$(sh -c "$(as_nobody "$@" --help)" | tail -1)
    [ "$got" = "Configuration file: $want" ] || fail "--help with '$*' says '$got', expected '$want'"
}

# run_and_leave <arguments...>: a run that leaves the proxy list at once.
run_and_leave() {
    start_reporting place "$(as_nobody "$@")"
    wait_for "Select Proxy Server"
    keys Escape
}

# is <path> <owner and mode>
is() { [ "$(stat -c '%U %a' "$1" 2>&1)" = "$2" ] || fail "$1 is $(stat -c '%U %a' "$1" 2>&1), expected $2"; }

# A configuration of nobody's with one proxy, written as a person would (LF
# line ends).
person_file() {
    printf 'proxy=p.example:3128,Office\n' >"$1"
    chown nobody:nogroup "$1"
    chmod 600 "$1"
}
saved_by_program() { grep -q $'^proxy=p.example:3128,Office\r$' "$1" || fail "$1 was not saved: $(od -c "$1" | head)"; }

# --- Nothing beside the program: ~/.config/quorcli, both folders made private ---
help_says "$U/.config/quorcli/quorcli.cfg" "$RO/quorcli"
[ -z "$(ls -A "$U")" ] || fail "--help made $(ls -A "$U")"
run_and_leave "$RO/quorcli"
ended_with 0
is "$U/.config" "nobody 700"
is "$U/.config/quorcli" "nobody 700"
is "$U/.config/quorcli/quorcli.cfg" "nobody 600"
grep -q "^; QUORVEX servers" "$U/.config/quorcli/quorcli.cfg" || fail "not a saved configuration"
[ -z "$(ls -A "$RO" | grep -v '^quorcli$')" ] || fail "the program's folder holds $(ls -A "$RO")"

# --- XDG_CONFIG_HOME names the folder, and the file there is read ---
XDG=$U/xdg
install -d -o nobody -g nogroup -m 700 "$XDG" "$XDG/quorcli"
person_file "$XDG/quorcli/quorcli.cfg"
help_says "$XDG/quorcli/quorcli.cfg" "$RO/quorcli"
start_reporting place "$(as_nobody "$RO/quorcli")"
wait_for "Office"
keys Escape
ended_with 0
saved_by_program "$XDG/quorcli/quorcli.cfg"

# --- A file beside the program is used even though the folder is read-only ---
person_file "$RO/quorcli.cfg"
help_says "$RO/quorcli.cfg" "$RO/quorcli"
start_reporting place "$(as_nobody "$RO/quorcli")"
wait_for "Office"
keys Escape
ended_with 0
saved_by_program "$RO/quorcli.cfg"
rm "$RO/quorcli.cfg"

# --- Started by its bare name through the search path (a folder that is not
# a system one): the current folder when it may be written, else the user's ---
help_says "quorcli.cfg" quorcli
HERE=$RO
help_says "$XDG/quorcli/quorcli.cfg" quorcli
HERE=$U
XDG=

# --- --config= with a file that is not there yet: made private ---
help_says "$U/new.cfg" "$RO/quorcli" "--config=$U/new.cfg"
run_and_leave "$RO/quorcli" "--config=$U/new.cfg"
ended_with 0
is "$U/new.cfg" "nobody 600"

# --- --config= in a folder that may not be written: a failed save ---
run_and_leave "$RO/quorcli" "--config=$RO/other.cfg"
ended_with 1
[ "$(cat "$WORK/stderr")" = "quorcli: cannot write $RO/other.cfg: Permission denied" ] ||
    fail "stderr: $(cat "$WORK/stderr")"
[ ! -e "$RO/other.cfg" ] || fail "$RO/other.cfg was made"

# --- A home that is not there and cannot be made, beside a program in a
# folder that may not be written: refused at start, not after the edits ---
start_reporting place "cd $U && runuser -u nobody -- env -u XDG_CONFIG_HOME HOME=$WORK/gone $RO/quorcli"
ended_with 1
[ "$(cat "$WORK/stderr")" = "quorcli: $WORK/gone/.config/quorcli/quorcli.cfg: cannot be saved: $WORK/gone/.config/quorcli/ cannot be made (--config=FILE names another file)" ] || fail "stderr: $(cat "$WORK/stderr")"

echo "PASS"
