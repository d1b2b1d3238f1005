#!/usr/bin/env bash
# The Debian package of a built tree and what it installs: the package's
# name, files and library dependencies, its programs run from a scratch
# root, both man pages rendered without warnings and in step with --help,
# the bash completion run through bash's own completion machinery, and
# lintian's verdict (no error, no warning).
# Usage: package_test.sh <build-dir>
set -euo pipefail
BUILD=$(cd "${1:?usage: package_test.sh <build-dir>}" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

fail() { echo "FAIL: $*"; exit 1; }
ok() { echo "ok: $*"; }

# --- The package ---
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
deb=$WORK/quorcli_${version}_$(dpkg --print-architecture).deb
(cd "$BUILD" && cpack -G DEB -B "$WORK" >"$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; fail "cpack"; }
[ -f "$deb" ] || fail "no $(basename "$deb"); made: $(ls "$WORK")"
ok "cpack made $(basename "$deb")"

[ "$(dpkg-deb -f "$deb" Package)" = quorcli ] || fail "package name $(dpkg-deb -f "$deb" Package)"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libncursesw6 libvterm0 libcivetweb1 libre2-9; do
    [[ $depends == *"$lib ("* ]] || fail "Depends lacks $lib: $depends"
done
ok "Depends from the binaries: $depends"

export ROOT=$WORK/root
dpkg-deb -x "$deb" "$ROOT"
expected="usr/bin/quorcli
usr/bin/quorvex-sim
usr/share/bash-completion/completions/quorcli
usr/share/doc/quorcli/README.md
usr/share/doc/quorcli/changelog.gz
usr/share/doc/quorcli/copyright
usr/share/doc/quorcli/examples/quorcli-wall.service
usr/share/man/man1/quorcli.1.gz
usr/share/man/man1/quorvex-sim.1.gz
usr/share/man/man5/quorcli-script.5.gz"
files=$(cd "$ROOT" && find . -type f | sed 's|^\./||' | sort)
[ "$files" = "$expected" ] || fail "the package holds:
$files"
ok "the package holds the two programs, man pages, README, completion, copyright, changelog and the wall's service, nothing else"
verdict=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -E '^[EW]: ' || true)
[ -z "$verdict" ] || fail "lintian: $verdict"
ok "lintian finds no error and no warning"

out=$("$ROOT/usr/bin/quorcli" --version) || fail "installed quorcli --version: status $?"
[ "$out" = "quorcli v.1.7" ] || fail "installed quorcli --version says '$out'"
"$ROOT/usr/bin/quorvex-sim" --help >"$WORK/sim-help" || fail "installed quorvex-sim --help: status $?"
grep -q '^Usage: quorvex-sim' "$WORK/sim-help" || fail "installed quorvex-sim --help: $(cat "$WORK/sim-help")"
ok "the installed quorcli --version and quorvex-sim --help run"

# --- Man pages: no warnings from groff or man, whatis entries, every option of --help ---
for prog in quorcli quorvex-sim; do
    page=$WORK/$prog.1
    zcat "$ROOT/usr/share/man/man1/$prog.1.gz" >"$page"
    warnings=$(groff -ww -man -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "groff -ww on $prog.1: $warnings"
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man --warnings -l $prog.1: $warnings"
    lexgrog "$page" | grep -q "\"$prog - " || fail "$prog.1 has no NAME line that whatis reads"
    text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
    "$ROOT/usr/bin/$prog" --help >"$WORK/help"
    count=0
    # Options are the first word of the help's indented lines: "  -m", "  --proxy=NAME".
    while read -r opt; do
        if [[ $opt == *=* ]]; then
            grep -qF -- "${opt%%=*}=" <<<"$text" || fail "$prog.1 does not mention ${opt%%=*}="
        else
            grep -qwF -- "$opt" <<<"$text" || fail "$prog.1 does not mention $opt"
        fi
        count=$((count + 1))
    done < <(sed -n 's/^  \(-[^ ]*\).*/\1/p' "$WORK/help")
    [ "$count" -ge 8 ] || fail "only $count options found in $prog --help"
    ok "$prog.1 renders without warnings and names all $count options of --help"
done
page=$WORK/quorcli-script.5
zcat "$ROOT/usr/share/man/man5/quorcli-script.5.gz" >"$page"
warnings=$(groff -ww -man -z "$page" 2>&1; MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] && lexgrog "$page" | grep -q '"quorcli-script - ' || fail "quorcli-script.5: $warnings"
"$ROOT/usr/bin/quorcli" --batch --help | grep -q 'quorcli-script(5)' || fail "quorcli --batch --help does not name quorcli-script(5)"
ok "quorcli-script.5 renders without warnings, and quorcli --batch --help names it"

# --- Completion, as bash runs it ---
# complete_line LINE: runs the completion of the line with the cursor at its
# end, COMP_WORDS split as bash splits them (blanks, and runs of the word
# breaks "=" and ":" as words of their own, quotes and escapes kept); prints
# COMPREPLY joined by "|".
cat >"$WORK/complete.sh" <<'EOF'
source /usr/share/bash-completion/bash_completion
source "$ROOT/usr/share/bash-completion/completions/quorcli"
complete_line() {
    local line=$1 word="" q="" c i
    COMP_WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
        c=${line:i:1}
        if [[ -n $q ]]; then
            word+=$c; [[ $c == "$q" ]] && q=""
        elif [[ $c == ' ' ]]; then
            [[ -n $word ]] && COMP_WORDS+=("$word"); word=""
        elif [[ $c == [=:] ]]; then
            [[ -n $word && $word != *[=:] ]] && { COMP_WORDS+=("$word"); word=""; }
            word+=$c
        else
            [[ $word == *[=:] ]] && { COMP_WORDS+=("$word"); word=""; }
            if [[ $c == '\' ]]; then
                word+=$c${line:i+1:1}; ((i++))
            else
                word+=$c; [[ $c == [\'\"] ]] && q=$c
            fi
        fi
    done
    COMP_WORDS+=("$word")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
    COMPREPLY=()
    # compopt works only under readline; what it would set is not checked here.
    _quorcli quorcli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}" 2>/dev/null
    local IFS='|'
    printf '%s\n' "${COMPREPLY[*]}"
}
EOF
[ -r /usr/share/bash-completion/bash_completion ] || fail "bash-completion is not installed"
registered=$(bash -c 'source "$0"; complete -p quorcli' "$WORK/complete.sh")
[ "$registered" = "complete -F _quorcli quorcli" ] || fail "complete -p quorcli: $registered"

# The file beside the program, as the program reads it: blanks around the key
# and "=", CR LF ends, a stored password after the second comma, an entry
# without a description (dropped), a description past 40 characters (the
# lists match only that much), commas kept in a proxy's description.
printf '%s\r\n' '; QUORVEX servers (hostname:port,description,password)' \
    'server=10.0.0.1:4242,Lab box one' \
    '  server = 10.0.0.2 ,  Lab box two  ,000102030405060708090a0b0c0d0e0f1011121314' \
    'server=10.0.0.3:4242,Lab:7 panel=x' 'server=10.0.0.4:4242,' \
    "server=10.0.0.5:4242,It's a very long description, cut, twice" \
    "server=10.0.0.6:4242,Rack 12 in the west hall of the big old tower" \
    'proxy=user:pw@10.0.0.9:8080,Office, west wing' 'proxy=10.0.0.8:3128,Home' \
    'tunnel=ssh -W %h:%p jump,Jump host' >"$ROOT/usr/bin/quorcli.cfg"
printf 'server=10.1.0.1:4242,Other place\n' >"$WORK/other cfg"
# Started by its bare name, the program uses the file of the current folder.
printf 'server=10.2.0.1:4242,Here\nproxy=10.2.0.2:3128,Home\n' >"$WORK/quorcli.cfg"
bin=$ROOT/usr/bin/quorcli
cases=(
    # line | COMPREPLY
    "quorcli --se|--server="
    "quorcli --sh|--share|--share="
    "quorcli --ver|--version"
    "quorcli --sa|--save-dir="
    "quorcli --hi|--history="
    "quorcli --ba|--batch"
    "quorcli --batch --sc|--script=|--screenshot="
    "quorcli --batch --j|--json"
    "$bin --server=|Lab\ box\ one|Lab\ box\ two|Lab:7\ panel=x|It\'s\ a\ very\ long\ description|Rack\ 12\ in\ the\ west\ hall\ of\ the\ big\ old"
    "$bin --server=Lab\ box\ t|Lab\ box\ two"
    "$bin --server='Lab b|Lab box one|Lab box two"
    "$bin --server='It|It'\''s a very long description"
    "$bin --server=\"It|It's a very long description"
    "$bin --server=Lab:|7\ panel=x"
    "$bin --server=Lab:7\ panel=|x"
    "$bin --server=rack|Rack\ 12\ in\ the\ west\ hall\ of\ the\ big\ old"
    "$bin --proxy=|Office\,\ west\ wing|Home|Jump\ host|\[Direct\ Connection\]"
    "quorcli --server=|Here"
    "quorcli --proxy=|Home|\[Direct\ Connection\]"
    "$bin --config=$WORK/other\ cfg --server=|Other\ place"
    "$bin --config='$WORK/other cfg' --server=O|Other\ place"
    "$bin --config=$WORK/oth|$WORK/other cfg"
)
for c in "${cases[@]}"; do
    line=${c%%|*}
    want=${c#*|}
    got=$(cd "$WORK" && PATH=$ROOT/usr/bin:$PATH bash -c 'source "$0"; complete_line "$1"' \
        "$WORK/complete.sh" "$line")
    [ "$got" = "$want" ] || fail "completing '$line':
  got:      $got
  expected: $want"
done
ok "completion: ${#cases[@]} command lines complete as expected"
