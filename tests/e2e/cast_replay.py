"""Replays an asciicast file in a terminal emulator and prints its screen.

Usage: cast_replay.py FILE   prints the 25 rows (blanks trimmed), then one
line per row of "fg,bold,bg" runs, for comparison with the client's screen.
Exits 1 when the file is not a version 2 recording of an 80 x 25 screen.
"""
import json
import sys

import pyte

with open(sys.argv[1], encoding="utf-8") as f:
    header = json.loads(f.readline())
    if header.get("version") != 2 or header.get("width") != 80 or header.get("height") != 25:
        sys.exit(1)
    screen = pyte.Screen(80, 25)
    stream = pyte.Stream(screen)
    last = 0.0
    for line in f:
        at, kind, data = json.loads(line)
        if at < last:
            sys.exit(1)   # time goes forward only
        last = at
        if kind == "o":
            stream.feed(data)
for row in screen.display:
    print(row.rstrip())
for y in range(25):
    print(" ".join("%s,%d,%s" % (c.fg, c.bold, c.bg) for c in (screen.buffer[y][x] for x in range(80))))
