#!/usr/bin/env bash
# Drives the toolkit demo (list menu, input boxes, message box) on a real
# terminal in a private tmux server, the way an operator would use it.
# Usage: toolkit_test.sh <build-dir>
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=${1:?usage: toolkit_test.sh <build-dir>}
DEMO=$BUILD/tools/uidemo
need "$DEMO"

expect_row() {
    local got
    got=$(row "$1")
    [ "$got" = "$2" ] || fail "row $1 is '$got', expected '$2'"
}

# Starts the demo under a shell that reports its exit status and the
# terminal modes it left behind.
start() {
    rm -f "$WORK/stty"
    new_pane demo "sh -c '\"$DEMO\"; echo exit=\$?; stty -a > \"$WORK/stty\"; echo restored; sleep 300'"
    wait_for "[Fruits]"
}

dashes() { printf -- '-%.0s' $(seq "$1"); }
spaces() { printf '%*s' "$1" ''; }

# The terminal is back in its ordinary modes and the demo's screen is gone.
check_restored() {
    wait_for restored
    [ -s "$WORK/stty" ] || fail "no terminal modes recorded"
    grep -qE '(^| )icanon( |$)' "$WORK/stty" || fail "canonical input not restored"
    grep -qE '(^| )echo( |$)' "$WORK/stty" || fail "echo not restored"
    screen | grep -qF "Toolkit demo" && fail "the demo's screen is still shown"
    return 0
}

# --- Run 1: choose, type, cancel and accept ---
start
# Sorted items, four rows, ">" where more follow below, frame in plain ASCII.
expect_row 3 "$(spaces 25)+[Fruits]$(dashes 20)+"
expect_row 4 "$(spaces 25)| |apple                     |"
expect_row 5 "$(spaces 25)| |Banana                    |"
expect_row 7 "$(spaces 25)|>|date                      |"
expect_row 8 "$(spaces 25)+$(dashes 28)+"

keys Down Down
wait_for "active: Cherry"
colours | sed -n 7p | grep -qF $'\e[47mCherry' || fail "Cherry is not highlighted"
colours | sed -n 5p | grep -qF $'\e[47m' && fail "apple is still highlighted"
keys End
wait_for "active: honeydew"
expect_row 4 "$(spaces 25)|<|Elderberry                |"
expect_row 7 "$(spaces 25)| |honeydew                  |"
keys Up
wait_for "active: Grape"
keys Home
wait_for "active: apple"
typed "g"
wait_for "active: Grape"
keys BSpace
wait_for "active: apple"
typed "F"
wait_for "active: fig"
keys Enter
wait_for "menu: 2 fig"

wait_for "Your name:"
expect_row 10 "$(spaces 20)+$(dashes 38)+"
typed "Hello world"
wait_for "|Hello world"
keys Escape
wait_for "input: 1 [Hello world]"

wait_for "Password:"
typed "secret"
wait_for "|******"
screen | grep -qF "secret" && fail "the masked box shows the password"
keys Enter
wait_for "password: 2 [secret]"

wait_for "All done"
# Width 4 + 26 at x 25: title, separator, two lines.
expect_row 10 "$(spaces 25)+$(dashes 28)+"
expect_row 11 "$(spaces 25)| All done                   |"
expect_row 12 "$(spaces 25)+$(dashes 28)+"
expect_row 13 "$(spaces 25)| |Press Enter to continue...|"
expect_row 14 "$(spaces 25)| |Cancel                    |"
keys Enter
wait_for "exit=0"
wait_for "uidemo: menu=2:fig input=1:[Hello world] password=2:[secret] message=2"
check_restored

# --- Run 2: Esc cancels, a termination request unwinds every dialog ---
start
keys Escape
wait_for "menu: 1 apple"
wait_for "Your name:"
typed "abc"
wait_for "|abc"
pid=$(screen | sed -n 's/.*Toolkit demo pid=\([0-9]*\).*/\1/p' | head -1)
[ -n "$pid" ] || fail "no pid shown"
[ "$(ps -o comm= -p "$pid")" = "uidemo" ] || fail "pid $pid is not the demo"
kill -TERM "$pid"
wait_for "exit=0"
wait_for "uidemo: menu=1:apple input=1:[abc] password=1:[] message=1"
check_restored

echo "PASS"
exit 0
