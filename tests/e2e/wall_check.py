#!/usr/bin/python3
# The wall's page in headless chromium, against the real wall.
# Usage: wall_check.py URL STEP...; each step waits a bounded time:
#   text:TEXT        TEXT is on the page as text (and no tile holds markup)
#   state:DESC:STATE the tile of DESC is in STATE (live, lost, ...), in 60 s
#   run:CMD          runs CMD
#   found:QUERY:DESC the page's search for QUERY lists DESC alone
import json, os, subprocess, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from share_check import Browser, fail, until

TILE = ("Array.from(document.querySelectorAll('.tile')).find(t => t.querySelector('.desc').textContent === %s)"
        "?.querySelector('.state').className")
FOUND = "Array.from(document.querySelectorAll('#found a b'), b => b.textContent)"

url, steps = sys.argv[1], sys.argv[2:]
b = Browser()
try:
    b.call("Page.navigate", b.session, url=url)
    for step in steps:
        kind, rest = step.split(":", 1)
        if kind == "text":
            if not until(10, lambda: rest in (b.eval("document.body.innerText") or "")):
                fail("%r is not on the page" % rest)
            if b.eval("document.querySelectorAll('#tiles img, #tiles script').length"): fail("a name became markup")
        elif kind == "state":
            desc, state = rest.rsplit(":", 1)
            if not until(60, lambda: (b.eval(TILE % json.dumps(desc)) or "").split()[-1:] == [state]):
                fail("%s is %r, not %s" % (desc, b.eval(TILE % json.dumps(desc)), state))
        elif kind == "run":
            subprocess.run(rest, shell=True, check=True)
        elif kind == "found":
            query, desc = rest.rsplit(":", 1)
            b.eval("document.getElementById('q').value = %s; document.getElementById('search').requestSubmit()"
                   % json.dumps(query))
            if not until(10, lambda: b.eval(FOUND) == [desc]): fail("the search found %r" % b.eval(FOUND))
    print("the wall's page: %d steps" % len(steps))
finally:
    b.close()
