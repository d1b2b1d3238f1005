#!/usr/bin/env bash
# The zip of the Windows build: quorcli.exe and the README side by side in
# one folder, an .exe that needs no DLL of the compiler beside it, and, where
# wine is there, the end-to-end test of the Windows program run on the .exe
# unpacked from the zip.
# Usage: zip_test.sh <windows-build-dir> [<linux-build-dir>]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
WINBUILD=$(cd "${1:?usage: zip_test.sh <windows-build-dir> [<linux-build-dir>]}" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

fail() { echo "FAIL: $*"; exit 1; }
ok() { echo "ok: $*"; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$WINBUILD/CMakeCache.txt")
folder=quorcli-$version-win64
(cd "$WINBUILD" && cpack -G ZIP -B "$WORK" >"$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; fail "cpack"; }
zip=$WORK/$folder.zip
[ -f "$zip" ] || fail "no $folder.zip; made: $(ls "$WORK")"
unzip -l "$zip"
files=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
[ "$files" = "$folder/README.md
$folder/quorcli.exe" ] || fail "the zip holds:
$files"
ok "$folder.zip holds quorcli.exe and README.md in $folder/"

unzip -q "$zip" -d "$WORK/unpacked"
exe=$WORK/unpacked/$folder/quorcli.exe
# The compiler's own DLLs (libstdc++-6.dll, libgcc_s_seh-1.dll,
# libwinpthread-1.dll) would have to travel with the program; system DLLs
# are on every Windows.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | sort -u)
[ -n "$dlls" ] || fail "no imported DLLs found in quorcli.exe"
if grep -i '^lib' <<<"$dlls"; then fail "quorcli.exe needs the DLLs above beside it"; fi
ok "quorcli.exe imports only system DLLs: ${dlls//$'\n'/ }"

if ! command -v wine >/dev/null; then
    echo "skipped: wine is not installed, so the unpacked quorcli.exe was not run"
elif [ -z "${2:-}" ]; then
    echo "skipped: no Linux build given, so the unpacked quorcli.exe was not run"
else
    echo "the unpacked quorcli.exe under wine, end to end"
    export WINEPREFIX=${WINEPREFIX:-$WINBUILD/wineprefix} WINEDEBUG=-all
    bash "$here/../win32/e2e_test.sh" "$WORK/unpacked/$folder" "$2"
fi
