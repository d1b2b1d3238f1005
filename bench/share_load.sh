#!/usr/bin/env bash
# Figures of a share (--share) in a batch run against the stand-in:
# - page loads with the token while 100 connections without it send
#   nothing, each opened again as soon as the share closes it (target:
#   within 2 s); median and slowest of 20;
# - the resident memory the share adds to the client (its worker threads);
# - how long the share keeps a viewer that never reads, on the stand-in's
#   System Monitor (its figures change at every tick, once a second by
#   default).
# Usage: share_load.sh <build-dir>
set -u
BUILD=$(cd "${1:?usage: share_load.sh <build-dir>}" && pwd)
for p in quorcli quorvex-sim; do [ -x "$BUILD/$p" ] || { echo "no $BUILD/$p"; exit 1; }; done
WORK=$(mktemp -d)
PIDS=()
cleanup() {
    local p
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
cd "$WORK" || exit 1

"$BUILD/quorvex-sim" --port=0 >sim.out 2>&1 &
PIDS+=("$!")
for _ in $(seq 100); do grep -q "listening on" sim.out && break; sleep 0.05; done
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' sim.out | head -1)
[ -n "$port" ] || { echo "the stand-in did not start"; exit 1; }
printf 'server=127.0.0.1:%s,Sim\r\n' "$port" >quorcli.cfg
printf 'quorvex\n' >password
chmod 600 password
printf 'screen "Monitor"\nwait "never shown" timeout 900\n' >script

# client NAME [--share]: a batch run on the System Monitor until it is
# ended; its pid in CLIENT, once its session shows the monitor.
client() {
    local name=$1 _
    shift
    "$BUILD/quorcli" --batch --config=quorcli.cfg --direct --server=Sim --password-file=password \
        --script=script --json "$@" >"$name.out" 2>"$name.err" &
    CLIENT=$!
    PIDS+=("$CLIENT")
    for _ in $(seq 200); do grep -q '"line":1' "$name.out" && return 0; sleep 0.05; done
    echo "the batch run did not reach the System Monitor: $(cat "$name.err")"
    exit 1
}
rss() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$1/status"; }

client plain
plain_kb=$(rss "$CLIENT")
kill "$CLIENT"
client shared --share
URL=$(sed -n 's/.*shared at //p' shared.err)
[ -n "$URL" ] || { echo "no share address: $(cat shared.err)"; exit 1; }
shared_kb=$(rss "$CLIENT")
echo "the share adds $((shared_kb - plain_kb)) kB of resident memory to the client ($plain_kb kB without it;" \
    "$(ls "/proc/$CLIENT/task" | wc -l) threads, $(sed -n 's/^VmSize:[[:space:]]*//p' "/proc/$CLIENT/status") of address space)"

/usr/bin/python3 - "$URL" <<'EOF'
import socket, statistics, struct, sys, threading, time, urllib.parse

u = urllib.parse.urlsplit(sys.argv[1])
stop = False


def pester():
    # 100 connections that send nothing, each opened again when closed.
    socks = [socket.create_connection((u.hostname, u.port), timeout=10) for _ in range(100)]
    while not stop:
        for i, s in enumerate(socks):
            s.setblocking(False)
            try: closed = s.recv(1) == b""
            except BlockingIOError: closed = False
            except OSError: closed = True
            if closed:
                s.close()
                socks[i] = socket.create_connection((u.hostname, u.port), timeout=10)
        time.sleep(0.01)
    for s in socks: s.close()


def page_load():
    t0 = time.time()
    s = socket.create_connection((u.hostname, u.port), timeout=30)
    s.sendall(b"GET %s HTTP/1.1\r\nHost: %s\r\n\r\n" % (u.path.encode(), u.netloc.encode()))
    ok = s.recv(12) == b"HTTP/1.1 200"
    s.close()
    return (time.time() - t0) * 1000 if ok else float("inf")


t = threading.Thread(target=pester)
t.start()
time.sleep(1.5)   # past the share's first closing of the 100
loads = []
for _ in range(20):
    loads.append(page_load())
    time.sleep(0.25)
stop = True
t.join()
print("page load behind 100 idle connections without the token: median %.1f ms, slowest %.1f ms"
      % (statistics.median(loads), max(loads)))

# A viewer that never reads: held until the share closes its side of the
# connection (no longer ESTABLISHED in /proc/net/tcp; the viewer cannot see
# that, the share's FIN waits behind the data it did not read), at most 5
# minutes.
def share_side_open(share_port, viewer_port):
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            local, remote, state = line.split()[1:4]
            if int(local.split(":")[1], 16) == share_port and int(remote.split(":")[1], 16) == viewer_port:
                return state == "01"
    return False


s = socket.create_connection((u.hostname, u.port), timeout=10)
s.sendall(b"GET %sevents HTTP/1.1\r\nHost: %s\r\n\r\n" % (u.path.encode(), u.netloc.encode()))
t0 = time.time()
while time.time() < t0 + 300 and share_side_open(u.port, s.getsockname()[1]):
    time.sleep(0.1)
held = time.time() - t0
print("a viewer that never reads is held %s" % ("%.1f s" % held if held < 300 else "over 300 s"))
EOF
