#include "share/page.h"

#include "screen/formats.h"

namespace {

constexpr char head[] = R"page(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="referrer" content="no-referrer">
<title>Shared console</title>
<style>
body{background:#1c1c1c;color:#ddd;font-family:sans-serif;margin:1em}
#bar{margin:0 0 .5em 0}
#state{margin-left:1em;padding:0 .4em;border-radius:3px;background:#555;color:#fff}
#state.live{background:#070}
#state.lost{background:#a50}
#screen{font-family:"DejaVu Sans Mono",Consolas,"Courier New",monospace;font-size:16px;line-height:1.2;
margin:0;display:inline-block;white-space:pre;background:#000}
)page";

constexpr char body[] = R"page(</style>
</head>
<body>
<div id="bar"><span id="name"></span><span id="state">connecting</span></div>
<pre id="screen"></pre>
<script>
"use strict";
(function () {
  const screen = document.getElementById("screen");
  const nameEl = document.getElementById("name");
  const stateEl = document.getElementById("state");
  const rows = [];
  for (let r = 0; r < 25; r++) {
    const d = document.createElement("div");
    d.id = "r" + r;
    d.textContent = " ".repeat(80);
    screen.appendChild(d);
    rows.push(d);
  }
  // A row as runs of one attribute: foreground attr & 15, background
  // (attr >> 4) & 7; blink is not shown.
  function paint(r, text, attrs) {
    const chars = Array.from(text);
    if (chars.length !== 80 || attrs.length !== 160) return;
    const d = rows[r];
    d.textContent = "";
    for (let i = 0; i < 80;) {
      const a = attrs.substr(2 * i, 2);
      let j = i + 1;
      while (j < 80 && attrs.substr(2 * j, 2) === a) j++;
      const v = parseInt(a, 16);
      const s = document.createElement("span");
      s.className = "f" + (v & 15) + " b" + ((v >> 4) & 7);
      s.textContent = chars.slice(i, j).join("");
      d.appendChild(s);
      i = j;
    }
  }
  const classes = {"live": "live", "link lost": "lost", "session ended": "ended"};
  let last = "";
  function state(text) {
    last = text;
    stateEl.textContent = text === "waiting" ? "waiting for a session" : text;
    stateEl.className = classes[text] || "";
  }
  const events = new EventSource(location.pathname + "events");
  events.onmessage = function (e) {
    let m;
    try { m = JSON.parse(e.data); } catch (x) { return; }
    if (typeof m.n === "string") {
      nameEl.textContent = m.n;
      document.title = (m.n || "Console") + " (shared)";
    }
    for (const row of m.r || [])
      if (Number.isInteger(row[0]) && row[0] >= 0 && row[0] < 25) paint(row[0], String(row[1]), String(row[2]));
    if (typeof m.s === "string") state(m.s);
  };
  // The share stopped, or the network between: the picture is no longer
  // live. The browser tries again by itself, and a stream that comes back
  // starts with the whole screen.
  events.onerror = function () { if (last !== "session ended") state("disconnected"); };
})();
</script>
</body>
</html>
)page";

std::string build() {
    std::string page = head;
    for (int i = 0; i < 16; ++i) page += ".f" + std::to_string(i) + "{color:" + pcPalette[i] + "}\n";
    for (int i = 0; i < 8; ++i) page += ".b" + std::to_string(i) + "{background:" + pcPalette[i] + "}\n";
    return page + body;
}

}  // namespace

const std::string& sharePage() {
    static const std::string page = build();
    return page;
}
