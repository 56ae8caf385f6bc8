#include "tools/record/CLivePage.h"

namespace kestrel::record {

const char* CLivePage::Html() {
    return R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>halyard-record</title>
<link rel="icon" href="data:,">
<style>
body{margin:0;font:15px system-ui,sans-serif;background:#111;color:#ddd}
header{display:flex;flex-wrap:wrap;gap:.3em 1em;align-items:baseline;padding:.6em 1em;background:#1b1b1b}
header h1{font-size:1.1em;margin:0}
#note{color:#f88}
main{display:grid;grid-template-columns:repeat(auto-fill,minmax(300px,1fr));gap:.8em;padding:.8em}
.tile{background:#1b1b1b;border-radius:6px;overflow:hidden;border:2px solid #333}
.tile.streaming{border-color:#2a6}
.tile.lost{border-color:#c44}
.pic{position:relative;aspect-ratio:4/3;background:#000}
.pic img{width:100%;height:100%;object-fit:contain;display:block}
.info{padding:.5em .7em}
.head{display:flex;justify-content:space-between;gap:.5em}
.name{font-weight:600}
.state{font-weight:600}
.streaming .state{color:#5d9}
.lost .state{color:#f77}
.figs{color:#aaa;font-size:.9em;margin:.3em 0}
.io{display:flex;flex-wrap:wrap;gap:.3em;align-items:center;font-size:.9em}
.in{padding:.1em .4em;border-radius:3px;background:#333}
.in.on{background:#a52}
button{font:inherit;font-size:.9em;padding:.3em .6em;border-radius:4px;border:1px solid #555;background:#2a2a2a;color:#ddd}
a{color:#8cf}
</style>
</head>
<body>
<header><h1>halyard-record</h1><span id="elapsed"></span><span id="note"></span></header>
<main id="tiles"></main>
<script>
"use strict";
const tiles = document.getElementById("tiles");
const made = [];
let switchable = false;

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}

function hms(s) {
  s = Math.floor(s);
  const p = n => String(n).padStart(2, "0");
  return p(Math.floor(s / 3600)) + ":" + p(Math.floor(s / 60) % 60) + ":" + p(s % 60);
}

function makeTile(c) {
  const t = el("section", "tile");
  t.id = "camera" + c.number;
  const pic = el("div", "pic");
  const img = el("img");
  img.alt = c.name + " live";
  img.src = c.live;
  pic.appendChild(img);
  t.appendChild(pic);
  const info = el("div", "info");
  const head = el("div", "head");
  head.appendChild(el("span", "name", c.name));
  head.appendChild(el("span", "state"));
  info.appendChild(head);
  info.appendChild(el("div", "figs"));
  const io = el("div", "io");
  info.appendChild(io);
  const rec = el("a", null, "recordings");
  rec.href = c.recordings;
  info.appendChild(rec);
  t.appendChild(info);
  tiles.appendChild(t);
  return {tile: t, img: img, state: head.lastChild, figs: info.children[1], io: io, shown: ""};
}

function switchOutput(camera, output, on, button) {
  button.disabled = true;
  fetch("/camera/" + camera + "/outputs/" + output, {method: "POST", body: on ? "on" : "off"})
    .then(r => r.text().then(t => { document.getElementById("note").textContent = r.ok ? "" : t; }))
    .catch(() => { document.getElementById("note").textContent = "output not switched"; })
    .finally(() => { button.disabled = false; });
}

function showIo(c, m) {
  const key = JSON.stringify([c.inputs, c.outputs, switchable]);
  if (key === m.shown) return;
  m.shown = key;
  m.io.replaceChildren();
  c.inputs.forEach((s, i) => m.io.appendChild(el("span", "in" + (s === "on" ? " on" : ""), "in " + (i + 1) + " " + s)));
  if (!switchable) return;
  for (let o = 1; o <= c.outputs; ++o) {
    for (const on of [true, false]) {
      const b = el("button", null, "out " + o + (on ? " on" : " off"));
      b.addEventListener("click", () => switchOutput(c.number, o, on, b));
      m.io.appendChild(b);
    }
  }
}

function show(status) {
  switchable = status.outputs_switchable;
  document.getElementById("elapsed").textContent = hms(status.elapsed_s);
  status.cameras.forEach((c, i) => {
    const m = made[i] || (made[i] = makeTile(c));
    m.state.textContent = c.state;
    m.tile.className = "tile" + (c.state === "streaming" ? " streaming" :
                                 /lost|retrying|no pictures/.test(c.state) ? " lost" : "");
    m.figs.textContent = c.pictures_per_s.toFixed(1) + "/s  " + Math.round(c.kbit_per_s) + " kbit/s  " +
                         c.pictures + " pictures  lost " + c.lost + "  gaps " + c.gaps;
    showIo(c, m);
  });
}

function poll() {
  fetch("/status", {cache: "no-store"})
    .then(r => r.ok ? r.json() : Promise.reject(r.status))
    .then(s => { document.getElementById("note").textContent = ""; show(s); })
    .catch(() => { document.getElementById("note").textContent = "recorder not reachable"; })
    .finally(() => setTimeout(poll, 1000));
}
poll();
</script>
</body>
</html>
)HTML";
}

}  // namespace kestrel::record
