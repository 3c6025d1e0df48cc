#include "marketd/monitor_page.h"

namespace marketd {

const std::string& MonitorPage() {
  static const std::string page = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Market monitor</title>
<link rel="icon" href="data:,">
<style>
body { font: 14px/1.4 system-ui, sans-serif; margin: 0; background: #f4f4f1; color: #222; }
header { background: #23395b; color: #fff; padding: 10px 18px; display: flex; gap: 24px;
         align-items: baseline; }
header h1 { font-size: 18px; margin: 0; }
main { display: grid; grid-template-columns: 320px 1fr 1fr; gap: 14px; padding: 14px; }
section { background: #fff; border-radius: 6px; padding: 10px 14px; box-shadow: 0 1px 2px #0002; }
h2 { font-size: 14px; margin: 0 0 8px; text-transform: uppercase; color: #556; }
table { border-collapse: collapse; width: 100%; }
td, th { text-align: left; padding: 3px 6px; border-bottom: 1px solid #eee; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; }
tr.gone td { color: #999; }
#feed { list-style: none; margin: 0; padding: 0; font-family: ui-monospace, monospace;
        font-size: 12px; max-height: 480px; overflow: auto; }
#feed li { padding: 2px 0; border-bottom: 1px dotted #ddd; }
#feed li.sold { color: #1b7a36; font-weight: bold; }
#feed li.collision { color: #b8560b; }
#feed li.bid { color: #4056a1; }
#status.live { color: #9fe29f; } #status.ended { color: #ffd27f; }
#good { font-size: 16px; font-weight: bold; margin-top: 6px; }
</style>
</head>
<body data-price-updates="0" data-events="0" data-stream="connecting">
<header><h1>Market monitor</h1>
<span>auction <b id="auction">-</b></span><span>round <b id="round">-</b></span>
<span>prices announced <b id="offers">0</b></span><span id="status">connecting</span></header>
<main>
<section><h2>Under the hammer</h2>
<svg id="clock" viewBox="0 0 200 200" width="280" height="280" role="img" aria-label="price clock">
<circle cx="100" cy="100" r="80" fill="none" stroke="#e3e6ee" stroke-width="16"></circle>
<circle id="arc" cx="100" cy="100" r="80" fill="none" stroke="#23395b" stroke-width="16"
 stroke-dasharray="0 503" transform="rotate(-90 100 100)"></circle>
<text id="price" x="100" y="108" text-anchor="middle" font-size="30" font-weight="bold">-</text>
<text id="initial" x="100" y="132" text-anchor="middle" font-size="12" fill="#667"></text>
</svg>
<svg id="trail" viewBox="0 0 200 50" width="280" height="70" role="img" aria-label="price trail">
<line x1="0" y1="49" x2="200" y2="49" stroke="#ccd"></line>
<polyline id="trace" fill="none" stroke="#b8560b" stroke-width="2" points=""></polyline>
</svg>
<div id="good">no good on offer</div><div id="goodinfo"></div>
</section>
<section><h2>Buyers</h2>
<table><thead><tr><th>buyer</th><th class="num">bought</th><th class="num">spent</th>
<th>goods</th></tr></thead><tbody id="buyers"></tbody></table></section>
<section><h2>Events</h2><ul id="feed"></ul></section>
</main>
<script>
"use strict";
const FEED = 40;
const $ = (id) => document.getElementById(id);
let model = null;
let ended = false;

function fresh() {
  return { auction: 0, round: 0, offers: 0, good: null, buyers: new Map(), order: [] };
}
function buyer(login) {
  if (!model.buyers.has(login)) {
    model.buyers.set(login, { present: false, bought: [] });
    model.order.push(login);
  }
  return model.buyers.get(login);
}
function describe(e) {
  switch (e.type) {
    case "offer": case "collision": return e.type + " " + e.good + " at " + e.price;
    case "bid": return "bid by " + e.buyer + (e.price !== undefined ? " at " + e.price : "");
    case "sold": return "sold " + e.good + " to " + e.buyer + " at " + e.price;
    case "good": return "good " + e.good + " (" + e.kind + ", from " + e.seller + ")";
    case "out_of_market": return e.good + " unsold (reserve " + e.reserve + ")";
    case "buyers": return "buyers: " + e.buyers.join(", ");
    case "goods": return "goods: " + e.goods.map((g) => g.id).join(", ");
    case "open_auction": case "end_auction": return e.type + " " + e.auction;
    case "open_round": case "end_round": return e.type + " " + e.round;
    case "sanction": return "sanction " + e.buyer + " fined " + e.fine;
    case "expulsion": return "expulsion " + e.buyer;
    case "end": return "session over";
    case "line": return e.line;
    default: return e.type;
  }
}
function log(e) {
  const li = document.createElement("li");
  li.className = e.type;
  li.textContent = describe(e);
  const feed = $("feed");
  feed.prepend(li);
  while (feed.children.length > FEED) feed.lastChild.remove();
}
function apply(e) {
  switch (e.type) {
    case "open_auction": model.auction = e.auction; model.round = 0; model.good = null; break;
    case "open_round": model.round = e.round; break;
    case "end_auction": case "closed_market": model.good = null; break;
    case "buyers":
      for (const b of model.buyers.values()) b.present = false;
      for (const login of e.buyers) buyer(login).present = true;
      break;
    case "good":
      model.good = { id: e.good, kind: e.kind, seller: e.seller, initial: e.initial,
                     price: e.initial, trace: [] };
      break;
    case "offer": case "collision":
      model.offers += 1;
      if (model.good) { model.good.price = e.price; model.good.trace.push(e.price); }
      break;
    case "out_of_market": model.good = null; break;
    case "sold": buyer(e.buyer).bought.push({ good: e.good, price: e.price }); model.good = null;
      break;
  }
}
function fromState(s) {
  model = fresh();
  model.auction = s.auction; model.round = s.round; model.offers = s.offers;
  for (const b of s.buyers) {
    const entry = buyer(b.login);
    entry.present = b.present;
    entry.bought = b.bought;
  }
  if (s.good) {
    model.good = { id: s.good.id, kind: s.good.kind, seller: s.good.seller,
                   initial: s.good.initial, price: s.good.price, trace: [s.good.price] };
  }
  $("feed").replaceChildren();
  for (const e of s.recent) log(e);
  if (s.finished) finish();
}
function render() {
  $("auction").textContent = model.auction || "-";
  $("round").textContent = model.round || "-";
  $("offers").textContent = model.offers;
  const g = model.good;
  if (g) {
    const share = g.initial > 0 ? Math.max(0, Math.min(1, g.price / g.initial)) : 0;
    $("arc").setAttribute("stroke-dasharray", (share * 502.65).toFixed(1) + " 503");
    $("price").textContent = g.price;
    $("initial").textContent = "from " + g.initial;
    $("good").textContent = g.id;
    $("goodinfo").textContent = g.kind + ", sold by " + g.seller;
    const top = Math.max(g.initial, ...g.trace);
    const pts = g.trace.slice(-40).map((p, i) =>
      (i * 5).toFixed(0) + "," + (48 - 46 * (top > 0 ? p / top : 0)).toFixed(1));
    $("trace").setAttribute("points", pts.join(" "));
  } else {
    $("arc").setAttribute("stroke-dasharray", "0 503");
    $("price").textContent = "-";
    $("initial").textContent = "";
    $("good").textContent = "no good on offer";
    $("goodinfo").textContent = "";
    $("trace").setAttribute("points", "");
  }
  const rows = [];
  for (const login of model.order) {
    const b = model.buyers.get(login);
    const tr = document.createElement("tr");
    if (!b.present) tr.className = "gone";
    const cells = [login, b.bought.length, b.bought.reduce((s, p) => s + p.price, 0),
                   b.bought.map((p) => p.good + " " + p.price).join(", ")];
    cells.forEach((text, i) => {
      const td = document.createElement("td");
      if (i === 1 || i === 2) td.className = "num";
      td.textContent = text;
      tr.append(td);
    });
    rows.push(tr);
  }
  $("buyers").replaceChildren(...rows);
}
function setStream(state, text) {
  document.body.dataset.stream = state;
  $("status").className = state;
  $("status").textContent = text;
}
let source = null;
function finish() {
  ended = true;
  if (source) source.close();
  setStream("ended", "session over");
}
function count(name) {
  document.body.dataset[name] = String(Number(document.body.dataset[name]) + 1);
}
source = new EventSource("events");
source.addEventListener("state", (m) => {
  fromState(JSON.parse(m.data));
  if (!ended) setStream("live", "live");
  render();
});
source.onmessage = (m) => {
  const e = JSON.parse(m.data);
  count("events");
  if (e.type === "offer" || e.type === "collision") count("priceUpdates");
  if (model === null) model = fresh();
  apply(e);
  log(e);
  render();
  if (e.type === "end") finish();
};
source.onerror = () => { if (!ended) setStream("connecting", "reconnecting"); };
</script>
</body>
</html>
)PAGE";
  return page;
}

}  // namespace marketd
