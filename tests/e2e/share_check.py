#!/usr/bin/python3
# The share's page in headless chromium, and its server from plain sockets.
#
# page URL STEP...: opens the page in chromium (DevTools over a pipe) and runs
#   the steps; each waits a bounded time and fails the run when it times out.
#     same:CMD       the page's 25 rows equal CMD's output (the client's screen),
#                    rows 0-23, trailing blanks aside (within 3 s)
#     shows:CMD:TEXT runs CMD, then a row must show TEXT within 1 s; prints ms
#     state:CMD:TEXT runs CMD, then the state must read TEXT (within 5 s)
# viewers URL: 16 WebSockets open at once are taken, a 17th is refused (503).
# bad URL: a table of malformed requests and frames; the server must answer
#   the next good request after each.
import base64, json, os, socket, subprocess, sys, tempfile, time, urllib.parse


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


def upgrade(url, path="ws"):
    s, u = connect(url)
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall(("GET %s%s HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n" % (u.path, path, u.netloc, key)).encode())
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
    socks = [upgrade(url) for _ in range(16)]
    for i, s in enumerate(socks):
        h = head(s)
        if not h.startswith(b"HTTP/1.1 101"): fail("viewer %d: %r" % (i + 1, h[:80]))
    extra = upgrade(url)
    if not (h := head(extra)).startswith(b"HTTP/1.1 503"): fail("the 17th viewer got %r" % h[:80])
    for s in socks + [extra]: s.close()


def status_of(url, raw):
    s, u = connect(url)
    s.sendall(raw)
    h = head(s)
    s.close()
    return h.split(b"\r\n", 1)[0]


def bad(url):
    u = urllib.parse.urlsplit(url)
    p, host = u.path.encode(), u.netloc.encode()
    frame = lambda op, payload, mask=True: bytes([0x80 | op, (0x80 if mask else 0) | len(payload)]) + \
        (b"\0\0\0\0" if mask else b"") + payload
    cases = [  # what is sent | the status line that must come back (None: any, or none)
        (b"GET " + p + b" HTTP/1.1\r\nHost: " + host + b"\r\n\r\n", b"HTTP/1.1 200 OK"),
        (b"POST " + p + b" HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc", b"HTTP/1.1 404 Not Found"),
        (b"OPTIONS " + p + b" HTTP/1.1\r\nHost: x\r\n\r\n", b"HTTP/1.1 404 Not Found"),
        # the token with its last digit changed
        (b"GET " + p[:-2] + (b"1" if p[-2:-1] == b"0" else b"0") + b"/ HTTP/1.1\r\nHost: x\r\n\r\n",
         b"HTTP/1.1 404 Not Found"),
        (b"GET " + p + b"../ HTTP/1.1\r\nHost: x\r\n\r\n", b"HTTP/1.1 404 Not Found"),
        (b"GET " + p + b"%00 HTTP/1.1\r\nHost: x\r\n\r\n", None),
        (b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n\r\n", None),
        (b"GET " + p + b" HTTP/1.1\r\n" + b"X: y\r\n" * 200 + b"\r\n", None),
        (b"\x00\xff\r\n\r\n", None),
        (b"GET " + p + b" HTTP/9.9\r\n\r\n", None),
        (b"GET " + p + b" HTTP/1.1\r\nContent-Length: -5\r\n\r\n", None),
        (b"GET " + p + b" HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", None),
        (b"GET " + p + b"ws HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", None),
    ]
    for raw, want in cases:
        got = status_of(url, raw)
        if want is not None and got != want: fail("%r... answered %r, not %r" % (raw[:40], got, want))
    # Each frame on a new WebSocket; data from a viewer ends its connection.
    frames = [(frame(1, b"typed keys"), True), (frame(2, b"\x01\x02"), True), (frame(1, b"x", mask=False), False),
              (frame(0, b"cont"), False), (bytes([0x81, 0xFF]) + b"\xff" * 8 + b"\0" * 4, False),
              (frame(9, b"p" * 125), False), (frame(0xB, b""), False), (b"\x88", False),
              (frame(8, b"\x03\xe8"), True), (os.urandom(300), False)]
    for f, closes in frames:
        s = upgrade(url)
        if not head(s).startswith(b"HTTP/1.1 101"): fail("no WebSocket for a bad frame")
        s.sendall(f)
        s.settimeout(3)
        closed = False
        try:
            while s.recv(65536): pass
            closed = True
        except ConnectionResetError: closed = True
        except OSError: pass
        if closes and not closed: fail("a viewer that sent %r was not closed" % f[:8])
    if status_of(url, cases[0][0]) != b"HTTP/1.1 200 OK": fail("the server no longer answers")
    print("%d bad requests and %d bad frames survived" % (len(cases) - 1, len(frames)))


if __name__ == "__main__":
    mode, url = sys.argv[1], sys.argv[2]
    {"page": lambda: page(url, sys.argv[3:]), "viewers": lambda: viewers(url), "bad": lambda: bad(url)}[mode]()
