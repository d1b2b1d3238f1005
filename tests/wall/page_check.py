#!/usr/bin/python3
# The wall's page in headless chromium, served with a scripted stream.
# Usage: page_check.py DIR, with page.html, events.txt (the stream, one
# message a line), search.json and the query it answers (search.q). /t/ must
# show every description and screen name as text, follow the changes, filter
# its tiles and list the search's consoles; /t/console/N/ shows console N.
import http.server, json, os, re, shutil, subprocess, sys, tempfile, threading, time, urllib.parse

read = lambda name: open(os.path.join(sys.argv[1], name), "rb").read()
PAGE, SEARCH, QUERY = read("page.html"), read("search.json"), read("search.q").decode()
EVENTS = read("events.txt").decode().splitlines()
CSP = ("default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
       "frame-ancestors 'none'; base-uri 'none'; form-action 'none'")


def fail(msg): sys.exit("FAIL: " + msg)


class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self, kind, body):
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Security-Policy", CSP)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        u = urllib.parse.urlsplit(self.path)
        if re.fullmatch(r"/t/(console/\d+/)?", u.path): self.answer("text/html; charset=utf-8", PAGE)
        elif u.path == "/t/search" and urllib.parse.parse_qs(u.query).get("q") == [QUERY]: self.answer("application/json", SEARCH)
        elif u.path == "/t/events":
            self.answer("text/event-stream", "".join("data: %s\n\n" % m for m in EVENTS).encode())
            self.wfile.flush()
            self.rfile.read(1)   # open until the page goes
        else: self.send_error(404)

    def log_message(self, *args): pass


class Browser:
    def __init__(self):
        self.dir = tempfile.mkdtemp()
        r1, w1 = os.pipe()   # commands to chromium (its fd 3)
        r2, w2 = os.pipe()   # its answers (its fd 4)
        self.proc = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--remote-debugging-pipe", "--user-data-dir=" + self.dir, "about:blank"],
            pass_fds=(3, 4), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=lambda: (os.dup2(r1, 3), os.dup2(w2, 4)))
        os.close(r1), os.close(w2)
        self.out, self.inp, self.buf, self.id = w1, r2, b"", 0
        page = next(t for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"], flatten=True)["sessionId"]

    def call(self, method, session=None, **params):
        self.id += 1
        os.write(self.out, json.dumps({"id": self.id, "method": method, "params": params,
                                       **({"sessionId": session} if session else {})}).encode() + b"\0")
        deadline = time.time() + 10
        while time.time() < deadline:
            while b"\0" in self.buf:
                line, self.buf = self.buf.split(b"\0", 1)
                m = json.loads(line)
                if m.get("id") == self.id: return m["result"] if "result" in m else fail("%s: %s" % (method, m))
            chunk = os.read(self.inp, 65536) or fail("chromium went away")
            self.buf += chunk
        fail("no answer to " + method)

    def eval(self, expr):
        return self.call("Runtime.evaluate", self.session, expression=expr, returnByValue=True)["result"].get("value")

    def until(self, what, expr, seconds=10):
        deadline = time.time() + seconds
        while (v := self.eval(expr)) in (None, False, [], "") and time.time() < deadline: time.sleep(0.05)
        return v or fail(what + ": " + json.dumps(self.eval("document.body.innerText"))[:2000])

    def close(self):
        self.proc.kill(), self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


TILES = "Array.from(document.querySelectorAll('.tile:not(.hidden)'), t => t.querySelector('.desc').textContent)"
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
threading.Thread(target=server.serve_forever, daemon=True).start()
base = "http://127.0.0.1:%d/t/" % server.server_address[1]
first, changed = json.loads(EVENTS[0]), json.loads(EVENTS[-1])["c"][0]
b = Browser()
try:
    b.call("Page.navigate", b.session, url=base)
    descriptions = sorted(c["d"] for c in first["c"])
    b.until("the tiles, ordered by description", TILES + ".join('\\n') === %s" % json.dumps("\n".join(descriptions)))
    text = b.until("the later change", "document.body.innerText.includes(%s) && document.body.innerText"
                   % json.dumps(changed["r"][0][1]))
    missing = [t for c in first["c"] for t in (c["d"], c["n"]) if t not in text]
    if missing: fail("not on the page as text: %r" % missing)
    if b.eval("document.querySelectorAll('#tiles img, #tiles b').length"): fail("a name became markup")
    b.until("the lost link's countdown", "/link lost - retrying in \\d+ s/.test(document.body.innerText)")
    b.eval("const f = document.getElementById('filter'); f.value = %s; f.dispatchEvent(new Event('input'))"
           % json.dumps(changed["r"][0][1].upper()))
    shown = b.until("the filter", "(t => t.length === 1 && t)(%s)" % TILES)
    if shown != [first["c"][changed["i"]]["d"]]: fail("the filter shows %r" % shown)
    b.eval("document.getElementById('q').value = %s; document.getElementById('search').requestSubmit()" % json.dumps(QUERY))
    for c in json.loads(SEARCH)["c"]:
        b.until("the search's console %d" % c["i"], "!!document.querySelector('#found a[href=\"console/%d/\"]')" % c["i"])
    b.call("Page.navigate", b.session, url=base + "console/%d/" % changed["i"])
    b.until("the console's page", "document.querySelectorAll('.tile').length === 1 && "
            "document.querySelector('.scr').textContent.includes(%s)" % json.dumps(changed["r"][0][1]))
    print("the wall's page and a console's page showed the stream as text")
finally:
    b.close()
