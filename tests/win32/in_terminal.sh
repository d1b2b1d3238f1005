#!/bin/sh
# Runs a command on a terminal of its own: wine gives a program a console
# only there. The command's output goes through a file, so that what the
# console draws on the terminal stays out of it; its exit status comes through.
set -eu
dir=$(mktemp -d)
trap 'exec 3>&-; rm -rf "$dir"' EXIT
cmd=""
for arg in "$@"; do
  cmd="$cmd '$(printf '%s' "$arg" | sed "s/'/'\\\\''/g")'"
done
# The terminal's input stays open and silent: script(1) would pass the end
# of its input on as a byte, which the console delivers as a key (Ctrl+@).
mkfifo "$dir/in"
exec 3<>"$dir/in"
status=0
script -qec "$cmd >$dir/out 2>&1" /dev/null <"$dir/in" >/dev/null || status=$?
cat "$dir/out"
exit "$status"
