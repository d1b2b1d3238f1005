# Reads what a real shell shows and branches on it; the Linux and the
# Windows build run it unchanged (tests/e2e/batch_test.sh, tests/win32).
wait now /[#$] ?$/ timeout 10
type "echo model=R7 bios=$((40+2)).1"
key Enter
wait "no such prompt" or /bios=([0-9.]+)$/ timeout 10
print /bios=([0-9.]+)$/
if /model=R7/
echo "found R7"
else
echo "no R7"
end
if "never shown"
echo "wrong branch"
else
echo "else taken"
end
type "printf '\\033[2J\\033[Hrow-zero\\n'"
key Enter
wait /^row-zero$/ row 0 timeout 10
print row 0
