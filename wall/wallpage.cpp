#include "wall/wallpage.h"

#include "screen/formats.h"

namespace {

constexpr char head[] = R"page(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="referrer" content="no-referrer">
<title>Console wall</title>
<style>
body{background:#1c1c1c;color:#ddd;font-family:sans-serif;margin:.6em}
a{color:inherit;text-decoration:none}
[hidden]{display:none!important}
#bar{display:flex;gap:1em;align-items:center;flex-wrap:wrap;margin-bottom:.6em}
#stream.down{color:#f85}
input{background:#111;color:#ddd;border:1px solid #555;padding:.2em .4em}
#found .hit{display:block;margin:.4em 0}
#found .line{font-family:monospace;white-space:pre;color:#aaa;margin-left:1em}
#tiles{display:flex;flex-wrap:wrap;gap:8px}
.tile{display:block;border:2px solid #333;padding:3px;background:#111}
.tile.recent{border-color:#dd0}
.tile.hidden{display:none}
.head{display:flex;justify-content:space-between;gap:.5em;font-size:12px}
.desc{font-weight:bold}
.state{padding:0 .3em;border-radius:3px;background:#555;color:#fff}
.state.live{background:#070}
.state.lost{background:#a50}
.state.refused,.state.failed{background:#a00}
.name,.note{font-size:11px;min-height:1.2em;white-space:pre;overflow:hidden}
.note{color:#f85}
.scr{font-family:"DejaVu Sans Mono",Consolas,"Courier New",monospace;font-size:5px;line-height:1;margin:0;
white-space:pre;background:#000}
.one .tile{display:inline-block}
.one .scr{font-size:16px;line-height:1.2}
.one .head,.one .name,.one .note{font-size:15px}
)page";

constexpr char body[] = R"page(</style>
</head>
<body>
<div id="bar">
<a id="back" href="../../" hidden>All consoles</a>
<input id="filter" placeholder="Filter by description or screen text" autocomplete="off">
<form id="search"><input id="q" maxlength="256" placeholder="Search screens and histories" autocomplete="off">
<button>Search</button></form>
<span id="count"></span><span id="stream">connecting</span>
</div>
<div id="found"></div>
<div id="tiles"></div>
<script>
"use strict";
(function () {
  // console/N/ shows console N alone; the stream and the search are the wall's.
  const path = /\/console\/(\d+)\/$/.exec(location.pathname);
  const one = path ? Number(path[1]) : -1;
  const base = one >= 0 ? "../../" : "";
  const $ = (id) => document.getElementById(id);
  const tiles = $("tiles");
  const consoles = new Map();
  let filter = "";
  if (one >= 0) {
    document.body.classList.add("one");
    $("back").hidden = false;
    $("filter").hidden = $("search").hidden = $("count").hidden = true;
  }
  function el(tag, cls, parent) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (parent) parent.appendChild(e);
    return e;
  }
  function make(i) {
    const c = {i: i, d: "", s: "connecting", w: 0, e: "", n: "", text: [], rows: [], changed: -Infinity};
    c.tile = el(one >= 0 ? "div" : "a", "tile");
    if (one < 0) c.tile.href = "console/" + i + "/";
    const head = el("div", "head", c.tile);
    c.descEl = el("span", "desc", head);
    c.stateEl = el("span", "state", head);
    c.nameEl = el("div", "name", c.tile);
    c.noteEl = el("div", "note", c.tile);
    const screen = el("pre", "scr", c.tile);
    for (let r = 0; r < 25; r++) {
      el("div", "", screen).textContent = " ".repeat(80);
      c.rows.push(screen.lastChild);
      c.text.push("");
    }
    consoles.set(i, c);
    return c;
  }
  // A row: its glyphs, then runs of one attribute [attr, count, ...]:
  // foreground attr & 15, background (attr >> 4) & 7.
  function paint(c, r, text, runs) {
    const chars = Array.from(text).slice(0, 80);
    while (chars.length < 80) chars.push(" ");
    const d = c.rows[r];
    d.textContent = "";
    let at = 0;
    for (let k = 0; Array.isArray(runs) && k + 1 < runs.length && at < 80; k += 2) {
      const a = runs[k], n = runs[k + 1];
      if (!Number.isInteger(a) || !Number.isInteger(n) || n <= 0) break;
      el("span", "f" + (a & 15) + " b" + ((a >> 4) & 7), d).textContent = chars.slice(at, at + n).join("");
      at += n;
    }
    if (at < 80) el("span", "", d).textContent = chars.slice(at).join("");
    c.text[r] = text.toLowerCase();
  }
  const words = {live: "live", refused: "password refused", ended: "session ended"};
  function stateText(c, now) {
    if (c.s === "lost") return "link lost - retrying in " + Math.max(0, Math.ceil((c.w - now) / 1000)) + " s";
    if (c.s === "failed") return "connection failed" + (c.e ? ": " + c.e : "");
    return words[c.s] || "connecting";
  }
  function show(c, now) {
    c.stateEl.textContent = stateText(c, now);
    c.stateEl.className = "state " + c.s;
    c.tile.classList.toggle("recent", now - c.changed < 5000);
  }
  function filterOne(c) {
    const hit = !filter || c.d.toLowerCase().includes(filter) || c.n.toLowerCase().includes(filter) ||
      c.text.some((t) => t.includes(filter));
    c.tile.classList.toggle("hidden", !hit);
  }
  function count() {
    let live = 0, shown = 0;
    for (const c of consoles.values()) {
      if (c.s === "live") live++;
      if (!c.tile.classList.contains("hidden")) shown++;
    }
    $("count").textContent = consoles.size + " consoles, " + live + " live" +
      (shown < consoles.size ? ", " + shown + " shown" : "");
  }
  function order() {
    const list = Array.from(consoles.values()).sort((a, b) => (a.d < b.d ? -1 : a.d > b.d ? 1 : a.i - b.i));
    for (const c of list) tiles.appendChild(c.tile);
  }
  function take(m) {
    const now = Date.now();
    if (m.f) {
      consoles.clear();
      tiles.textContent = "";
    }
    let added = false;
    for (const e of Array.isArray(m.c) ? m.c : []) {
      if (!e || !Number.isInteger(e.i) || e.i < 0 || (one >= 0 && e.i !== one)) continue;
      let c = consoles.get(e.i);
      if (!c) {
        c = make(e.i);
        added = true;
      }
      if (typeof e.d === "string") c.descEl.textContent = c.d = e.d;
      if (typeof e.s === "string") {
        c.s = e.s;
        c.w = now + (Number(e.w) || 0);
        c.e = typeof e.e === "string" ? e.e : "";
      }
      if (typeof e.n === "string") c.nameEl.textContent = c.n = e.n;
      if (typeof e.l === "string") c.noteEl.textContent = e.l;
      for (const row of Array.isArray(e.r) ? e.r : [])
        if (Array.isArray(row) && Number.isInteger(row[0]) && row[0] >= 0 && row[0] < 25)
          paint(c, row[0], String(row[1]), row[2]);
      if (typeof e.a === "number") c.changed = now - e.a;
      show(c, now);
      filterOne(c);
    }
    if (added) order();
    if (one >= 0) {
      const c = consoles.get(one);
      document.title = c ? (c.d || "Console") + " - console wall" : "No console " + one;
    }
    count();
  }
  $("filter").addEventListener("input", function () {
    filter = this.value.toLowerCase();
    for (const c of consoles.values()) filterOne(c);
    count();
  });
  $("search").addEventListener("submit", function (ev) {
    ev.preventDefault();
    const q = $("q").value;
    const found = $("found");
    found.textContent = "";
    if (!q) return;
    fetch(base + "search?q=" + encodeURIComponent(q), {cache: "no-store"})
      .then((r) => r.json())
      .then(function (res) {
        found.textContent = "";
        if (typeof res.error === "string") {
          el("div", "", found).textContent = res.error;
          return;
        }
        const list = Array.isArray(res.c) ? res.c : [];
        if (!list.length) el("div", "", found).textContent = "Not found: " + q;
        for (const h of list) {
          if (!h || !Number.isInteger(h.i)) continue;
          const a = el("a", "hit", found);
          a.href = "console/" + h.i + "/";
          el("b", "", a).textContent = String(h.d);
          for (const line of Array.isArray(h.m) ? h.m : []) el("div", "line", a).textContent = String(line);
          if (h.more) el("div", "line", a).textContent = "...";
        }
        if (res.cut) el("div", "", found).textContent = "(the first 500 lines)";
      })
      .catch(function () { found.textContent = "The search failed."; });
  });
  // A stream that comes back starts with the whole wall again.
  const stream = $("stream");
  const events = new EventSource(base + "events");
  events.addEventListener("message", function (e) {
    let m;
    try { m = JSON.parse(e.data); } catch (x) { return; }
    if (m && typeof m === "object") take(m);
    stream.textContent = "";
    stream.className = "";
  });
  events.addEventListener("error", function () {
    stream.textContent = "disconnected";
    stream.className = "down";
  });
  setInterval(function () {
    const now = Date.now();
    for (const c of consoles.values()) show(c, now);
  }, 1000);
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

const std::string& wallPage() {
    static const std::string page = build();
    return page;
}

bool wallPagePath(std::string_view tail, int consoles) {
    if (tail.empty()) return true;
    if (!tail.starts_with("console/") || !tail.ends_with("/") || tail.size() < 10) return false;
    const std::string_view digits = tail.substr(8, tail.size() - 9);
    if (digits.size() > 9 || (digits.size() > 1 && digits[0] == '0')) return false;
    long long n = 0;
    for (const char ch : digits) {
        if (ch < '0' || ch > '9') return false;
        n = n * 10 + (ch - '0');
    }
    return n < consoles;
}
