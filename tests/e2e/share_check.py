#!/usr/bin/python3
# The share's page in headless chromium, and its server from plain sockets.
#
# page URL STEP...: opens the page in chromium (DevTools over a pipe) and runs
#   the steps; each waits a bounded time and fails the run when it times out.
#     same:CMD       the page's 25 rows equal CMD's output (the client's screen),
#                    rows 0-23, trailing blanks aside (within 3 s)
#     shows:CMD:TEXT runs CMD, then a row must show TEXT within 1 s; prints ms
#     state:CMD:TEXT runs CMD, then the state must read TEXT (within 5 s)
# viewers URL: 16 event streams open at once are taken (as the slots of closed
#   ones come free), a 17th is refused (503); then one of them reads no more
#   until it is ended.
# hostile URL PID: what a peer without the token, or a page of another origin,
#   may try against the client PID: a table of requests and the status each
#   gets, the server answering the next good request after each; a WebSocket
#   upgrade with a 1 GiB frame behind it, refused, the client's memory
#   unchanged; a page load behind 100 connections that send nothing.
import json, os, signal, socket, subprocess, sys, tempfile, time, urllib.parse


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


class Browser:
    def __init__(self):
        self.dir = tempfile.mkdtemp()
        r1, w1 = os.pipe()   # commands to chromium (its fd 3)
        r2, w2 = os.pipe()   # its answers (its fd 4)
        self.proc = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--remote-debugging-pipe",
             "--user-data-dir=" + self.dir, "about:blank"],
            pass_fds=(3, 4), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=lambda: (os.dup2(r1, 3), os.dup2(w2, 4)))
        os.close(r1), os.close(w2)
        self.out, self.inp, self.buf, self.id = w1, r2, b"", 0
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"], flatten=True)["sessionId"]

    def call(self, method, session=None, **params):
        self.id += 1
        msg = {"id": self.id, "method": method, "params": params}
        if session: msg["sessionId"] = session
        os.write(self.out, json.dumps(msg).encode() + b"\0")
        deadline = time.time() + 10
        while time.time() < deadline:
            while b"\0" in self.buf:
                line, self.buf = self.buf.split(b"\0", 1)
                m = json.loads(line)
                if m.get("id") == self.id:
                    if "error" in m: fail("%s: %s" % (method, m["error"]))
                    return m["result"]
            chunk = os.read(self.inp, 65536)
            if not chunk: fail("chromium went away")
            self.buf += chunk
        fail("no answer to " + method)

    def eval(self, expr):
        r = self.call("Runtime.evaluate", self.session, expression=expr, returnByValue=True)
        return r["result"].get("value")

    def close(self):
        self.proc.terminate()
        try: self.proc.wait(5)
        except subprocess.TimeoutExpired: self.proc.kill(); self.proc.wait()
        subprocess.run(["rm", "-rf", self.dir])


ROWS = "Array.from({length:25},(_,i)=>{const d=document.getElementById('r'+i);return d?d.textContent:''})"
STATE = "(document.getElementById('state')||{}).textContent"


def until(seconds, probe):
    deadline = time.time() + seconds
    while True:
        v = probe()
        if v or time.time() > deadline: return v
        time.sleep(0.02)


def page(url, steps):
    try: b = Browser()
    except SystemExit: b = Browser()   # a chromium that died starting, once, on a loaded machine
    try:
        b.call("Page.navigate", b.session, url=url)
        if not until(10, lambda: b.eval(STATE) == "live"): fail("the page never went live: %r" % b.eval(STATE))
        for step in steps:
            kind, rest = step.split(":", 1)
            if kind == "same":
                def same():
                    want = subprocess.run(rest, shell=True, capture_output=True, text=True).stdout.split("\n")
                    got = b.eval(ROWS)
                    return [r.rstrip() for r in got[:24]] == [r.rstrip() for r in (want + [""] * 25)[:24]]
                if not until(3, same): fail("the page's rows differ from the screen:\n" + "\n".join(b.eval(ROWS)))
            else:
                cmd, text = rest.rsplit(":", 1)
                t0 = time.time()
                subprocess.run(cmd, shell=True)
                if kind == "shows":
                    if not until(1, lambda: any(text in r for r in b.eval(ROWS))): fail("'%s' not on the page in 1 s" % text)
                    print("page followed in %.0f ms" % ((time.time() - t0) * 1000))
                elif not until(5, lambda: b.eval(STATE) == text):
                    fail("the page's state is %r, not %r" % (b.eval(STATE), text))
    finally:
        b.close()


def connect(url):
    u = urllib.parse.urlsplit(url)
    return socket.create_connection((u.hostname, u.port), timeout=5), u


def request(url, path="", headers=b""):
    s, u = connect(url)
    s.sendall(b"GET %s%s HTTP/1.1\r\nHost: %s\r\n%s\r\n" % (u.path.encode(), path.encode(), u.netloc.encode(), headers))
    return s


def head(s):
    data = b""
    while b"\r\n\r\n" not in data:
        try: chunk = s.recv(4096)
        except OSError: break
        if not chunk: break
        data += chunk
    return data


def viewers(url):
    socks, deadline = [], time.time() + 20
    while len(socks) < 16:
        s = request(url, "events")
        if (h := head(s)).startswith(b"HTTP/1.1 200"): socks.append(s)
        elif not h.startswith(b"HTTP/1.1 503") or time.time() > deadline: fail("viewer %d: %r" % (len(socks) + 1, h[:80]))
        else: s.close(), time.sleep(0.2)   # slots of closed viewers come free at their next writes
    if not (h := head(request(url, "events"))).startswith(b"HTTP/1.1 503"): fail("the 17th viewer got %r" % h[:80])
    for s in socks[1:]: s.close()
    signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGTERM])
    socks[0].setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    print("took 16 viewers, refused a 17th; one holds its slot and reads no more", flush=True)
    signal.sigtimedwait([signal.SIGTERM], 120)


def status_of(url, raw):
    s, u = connect(url)
    s.sendall(raw)
    h = head(s)
    s.close()
    return h.split(b"\r\n", 1)[0]


def hostile(url, pid):
    u = urllib.parse.urlsplit(url)
    p, host = u.path.encode(), u.netloc.encode()
    get = lambda path=b"", headers=b"": b"GET " + p + path + b" HTTP/1.1\r\nHost: " + host + b"\r\n" + headers + b"\r\n"
    ws = b"Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" \
         b"Sec-WebSocket-Version: 13\r\n"
    cases = [  # what is sent | the status line that must come back (None: any, or none)
        (get(), b"HTTP/1.1 200 OK"),
        (get(b"events", b"Origin: http://" + host + b"\r\n"), b"HTTP/1.1 200 OK"),
        (b"POST " + p + b" HTTP/1.1\r\nHost: " + host + b"\r\nContent-Length: 3\r\n\r\nabc", b"HTTP/1.1 404 Not Found"),
        (b"OPTIONS " + p + b" HTTP/1.1\r\nHost: " + host + b"\r\n\r\n", b"HTTP/1.1 404 Not Found"),
        # the token with its last digit changed
        (get().replace(p, p[:-2] + (b"1" if p[-2:-1] == b"0" else b"0") + b"/"), b"HTTP/1.1 404 Not Found"),
        (get(b"../"), b"HTTP/1.1 404 Not Found"),
        (get().replace(host, b"127.0.0.1:8080"), b"HTTP/1.1 200 OK"),   # through ssh -L 8080:...
        # another origin's page, a name that DNS points here, no Host at all
        (get(b"events", b"Origin: http://evil.example\r\n"), b"HTTP/1.1 403 Forbidden"),
        (get().replace(host, b"evil.example:" + host.split(b":")[1]), b"HTTP/1.1 403 Forbidden"),
        (get().replace(b"Host: " + host + b"\r\n", b""), b"HTTP/1.1 403 Forbidden"),
        (get(b"events", ws), b"HTTP/1.1 400 Bad Request"),
        (get(b"%00"), None),
        (b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n\r\n", None),
        (b"GET " + p + b" HTTP/1.1\r\n" + b"X: y\r\n" * 200 + b"\r\n", None),
        (b"\x00\xff\r\n\r\n", None),
        (b"GET " + p + b" HTTP/9.9\r\n\r\n", None),
        (get(b"", b"Content-Length: -5\r\n"), None),
        (get(b"", b"Transfer-Encoding: chunked\r\n") + b"zz\r\n", None),
    ]
    for raw, want in cases:
        got = status_of(url, raw)
        if want is not None and got != want: fail("%r... answered %r, not %r" % (raw[:60], got, want))
    if status_of(url, cases[0][0]) != b"HTTP/1.1 200 OK": fail("the server no longer answers")
    print("%d bad requests survived" % (len(cases) - 3))

    # A WebSocket frame announced as 1 GiB, and 64 MiB of it, after an upgrade with the token.
    rss = lambda: int(open("/proc/%s/status" % pid).read().split("VmRSS:")[1].split()[0])
    before = rss()
    s, _ = connect(url)
    s.sendall(get(b"events", ws))
    if not (h := head(s)).startswith(b"HTTP/1.1 4"): fail("the upgrade was answered %r" % h[:80])
    try:
        s.sendall(bytes([0x82, 0xFF]) + (1 << 30).to_bytes(8, "big") + b"\0" * 4)
        for _ in range(1024): s.sendall(b"\0" * 65536)
    except OSError: pass
    s.close()
    if (after := rss()) > before + 4096: fail("the client grew from %d to %d kB" % (before, after))
    print("after the upgrade and its frame the client holds %d kB (%d before)" % (after, before))

    # 100 connections that send nothing, then a page load.
    idle = [connect(url)[0] for _ in range(100)]
    t0 = time.time()
    got = status_of(url, cases[0][0])
    took = time.time() - t0
    print("page load behind 100 idle connections: %.0f ms" % (took * 1000))
    if got != b"HTTP/1.1 200 OK" or took > 10: fail("the page load got %r in %.1f s" % (got, took))
    for s in idle:
        s.settimeout(max(0.1, t0 + 10 - time.time()))
        try: s.recv(1) == b"" or fail("an idle connection was answered")
        except socket.timeout: fail("an idle connection was still open after 10 s")
        except ConnectionResetError: pass
    print("the server closed all 100 in %.0f ms" % ((time.time() - t0) * 1000))


if __name__ == "__main__":
    mode, url = sys.argv[1], sys.argv[2]
    {"page": lambda: page(url, sys.argv[3:]), "viewers": lambda: viewers(url),
     "hostile": lambda: hostile(url, sys.argv[3])}[mode]()
