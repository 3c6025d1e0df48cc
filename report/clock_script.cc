#include "report/clock_script.h"

#include <string_view>

#include "report/palette.h"

namespace report {
namespace {

// Mirrors the chart of price_clock_chart.cc (frame, scales, ticks, markers and labels), so that a
// good drawn here looks as it would inline. Comments in it are block comments: the page's tests
// look for "//" as the start of an address.
constexpr std::string_view kScript = R"(
(() => {
  'use strict';
  const NS = 'http://www.w3.org/2000/svg';
  const data = JSON.parse(document.getElementById('clock-data').textContent);
  const W = 560, H = 280, PL = 70, PR = W - 20, PT = 36, PB = H - 48;

  const fmt = (v, d = 2) => {
    if (!isFinite(v)) return '-';
    let s = v.toFixed(d);
    if (s.includes('.')) s = s.replace(/0+$/, '').replace(/\.$/, '');
    return s === '-0' ? '0' : s;
  };
  const el = (parent, tag, attrs, text) => {
    const e = document.createElementNS(NS, tag);
    for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
    if (text !== undefined) e.textContent = text;
    parent.appendChild(e);
    return e;
  };
  const scale = (d0, d1, r0, r1) => (v) =>
    d1 === d0 || !isFinite(d1 - d0) ? (r0 + r1) / 2 : r0 + ((v - d0) / (d1 - d0)) * (r1 - r0);
  const niceTicks = (low, high, count) => {
    if (!isFinite(low) || !isFinite(high)) low = high = 0;
    if (low > high) [low, high] = [high, low];
    if (high - low < 1e-9 * Math.max(1, Math.abs(high))) {
      const pad = low === 0 ? 1 : Math.abs(low) * 0.1;
      low -= pad;
      high += pad;
    }
    const raw = (high - low) / (count - 1);
    const magnitude = Math.pow(10, Math.floor(Math.log10(raw)));
    let step = magnitude * 10;
    for (const m of [1, 2, 2.5, 5, 10]) {
      if (m * magnitude >= raw) { step = m * magnitude; break; }
    }
    const t = { low: Math.floor(low / step + 1e-9) * step, high: Math.ceil(high / step - 1e-9) * step };
    const n = Math.round((t.high - t.low) / step);
    t.values = [];
    for (let i = 0; i <= n; ++i) t.values.push(t.low + i * step);
    return t;
  };

  const STAR = [[0, -1.3], [0.35, -0.4], [1.25, -0.4], [0.55, 0.15], [0.8, 1.1], [0, 0.5],
                [-0.8, 1.1], [-0.55, 0.15], [-1.25, -0.4], [-0.35, -0.4]];
  const POLYGONS = { 1: [[-1, -1], [1, -1], [1, 1], [-1, 1]], 2: [[0, -1.2], [1.1, 0.9], [-1.1, 0.9]],
                     3: [[0, -1.3], [1.3, 0], [0, 1.3], [-1.3, 0]], 4: [[0, 1.2], [1.1, -0.9], [-1.1, -0.9]],
                     7: STAR };
  const marker = (parent, index, x, y, r, attrs, tip) => {
    const [c, shape] = STYLES[index % STYLES.length];
    const p = (dx, dy) => fmt(x + dx * r) + ',' + fmt(y + dy * r);
    let e;
    if (shape === 0) {
      e = el(parent, 'circle', { cx: fmt(x), cy: fmt(y), r: fmt(r), fill: c });
    } else if (shape === 5 || shape === 6) {
      const d = shape === 5 ? 'M' + p(-1, -1) + 'L' + p(1, 1) + 'M' + p(-1, 1) + 'L' + p(1, -1)
                            : 'M' + p(-1.2, 0) + 'L' + p(1.2, 0) + 'M' + p(0, -1.2) + 'L' + p(0, 1.2);
      e = el(parent, 'path', { d, stroke: c, 'stroke-width': '2.5', fill: 'none' });
    } else {
      e = el(parent, 'polygon', { points: POLYGONS[shape].map(([a, b]) => p(a, b)).join(' '), fill: c });
    }
    for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
    el(e, 'title', {}, tip);
  };
  const haloed = (attrs) => Object.assign(attrs, { 'paint-order': 'stroke', stroke: '#ffffff',
    'stroke-width': '6', 'stroke-linejoin': 'round' });

  const fromBitmap = (text) => {
    const bytes = atob(text), out = [];
    for (let i = 0; i < bytes.length; ++i) {
      const v = bytes.charCodeAt(i);
      for (let b = 0; v && b < 8; ++b) if (v & (1 << b)) out.push(i * 8 + b);
    }
    return out;
  };
  /* The good's clock points and tick bids as the results hold them. */
  const decode = (g) => {
    const c = g.clock, points = [];
    let at = c[0], price = c[1];
    points.push({ at, price, rise: false });
    for (let i = 2; i + 1 < c.length; i += 2) {
      at += c[i];
      price += c[i + 1];
      points.push({ at, price, rise: false });
    }
    for (const i of g.rises) if (points[i]) points[i].rise = true;
    const bids = [];
    let t = c[0];
    for (const [dt, p, who] of g.bids) {
      t += dt;
      for (const b of typeof who === 'string' ? fromBitmap(who) : who) {
        bids.push({ at: t, price: p, buyer: b });
      }
    }
    return { points, bids };
  };
  const title = (g) => 'Good ' + g.id + (g.kind ? ' (' + g.kind + ', seller ' + g.seller + ')' : '') +
    ', auction ' + g.a + (g.round > 0 ? ' round ' + g.round : '');

  const chart = (g) => {
    const { points, bids } = decode(g);
    const first = points[0].at;
    let last = points[points.length - 1].at;
    if (g.end !== undefined) last = Math.max(last, first + g.end);
    else if (points.length > 1) last += last - points[points.length - 2].at;
    for (const b of bids) last = Math.max(last, b.at);
    const inMs = last - first < 5e6, unit = inMs ? 1e3 : 1e6;
    const t = (at) => (at - first) / unit;
    const span = Math.max(t(last), inMs ? 1 : 0.001);
    const xt = niceTicks(0, span * 1.08, 6);
    const x = scale(xt.low, xt.high, PL, PR);
    let low = Math.min(g.initial, g.reserve), high = Math.max(g.initial, g.reserve);
    for (const p of points.concat(bids)) { low = Math.min(low, p.price); high = Math.max(high, p.price); }
    if (g.outcome === 'sold') { low = Math.min(low, g.price); high = Math.max(high, g.price); }
    const yt = niceTicks(low, high, 6);
    const y = scale(yt.low, yt.high, PB, PT);

    const svg = document.createElementNS(NS, 'svg');
    for (const [k, v] of Object.entries({ class: 'price-clock', width: W, height: H,
      viewBox: '0 0 ' + W + ' ' + H, role: 'img', 'data-auction': g.a, 'data-good': g.id,
      'data-outcome': g.outcome, 'data-bids': bids.length, 'data-steps': points.length })) {
      svg.setAttribute(k, v);
    }
    el(svg, 'title', {}, 'Price clock of ' + title(g));
    el(svg, 'text', { x: W / 2, y: 20, class: 'chart-title', 'text-anchor': 'middle' }, title(g));
    const axes = el(svg, 'g', { class: 'axes' });
    for (const v of yt.values) {
      el(axes, 'line', { x1: PL, y1: fmt(y(v)), x2: PR, y2: fmt(y(v)), class: 'grid' });
      el(axes, 'text', { x: PL - 6, y: fmt(y(v) + 4), class: 'tick', 'text-anchor': 'end' }, fmt(v));
    }
    for (const v of xt.values) {
      el(axes, 'line', { x1: fmt(x(v)), y1: PB, x2: fmt(x(v)), y2: PB + 5, class: 'axis' });
      el(axes, 'text', { x: fmt(x(v)), y: PB + 18, class: 'tick', 'text-anchor': 'middle' }, fmt(v));
    }
    el(axes, 'line', { x1: PL, y1: PB, x2: PR, y2: PB, class: 'axis' });
    el(axes, 'line', { x1: PL, y1: PT, x2: PL, y2: PB, class: 'axis' });
    el(axes, 'text', { x: (PL + PR) / 2, y: H - 8, class: 'axis-label x-label', 'text-anchor': 'middle' },
       'time since the first offer (' + (inMs ? 'ms' : 's') + ')');
    const ly = fmt((PT + PB) / 2);
    el(axes, 'text', { x: 16, y: ly, class: 'axis-label y-label', 'text-anchor': 'middle',
                       transform: 'rotate(-90 16 ' + ly + ')' }, 'price');
    for (const [price, name] of [[g.initial, 'initial'], [g.reserve, 'reserve']]) {
      el(svg, 'line', { x1: PL, y1: fmt(y(price)), x2: PR, y2: fmt(y(price)), class: 'reference ' + name });
      el(svg, 'text', { x: PR - 4, y: fmt(y(price) - 4), class: 'reference-label', 'text-anchor': 'end' },
         name + ' ' + price);
    }

    const path = el(svg, 'g', { class: 'clock-path' });
    const line = [];
    points.forEach((p, i) => {
      if (i > 0) line.push(fmt(x(t(p.at))) + ',' + fmt(y(points[i - 1].price)));
      line.push(fmt(x(t(p.at))) + ',' + fmt(y(p.price)));
    });
    line.push(fmt(x(t(last))) + ',' + fmt(y(points[points.length - 1].price)));
    el(path, 'polyline', { points: line.join(' '), fill: 'none', class: 'clock' });
    points.forEach((p, i) => {
      if (i === 0 || !p.rise) return;
      const from = points[i - 1].price;
      el(path, 'line', { x1: fmt(x(t(p.at))), y1: fmt(y(from)), x2: fmt(x(t(p.at))), y2: fmt(y(p.price)),
                         class: 'collision', 'data-from': from, 'data-to': p.price });
    });

    /* Bids at one time and price stand side by side to the left of that point; each one's
       response is its time after the last announcement at or before it. */
    const marks = el(svg, 'g', { class: 'bids' });
    let same = 0, step = 0;
    bids.forEach((b, i) => {
      same = i > 0 && bids[i - 1].at === b.at && bids[i - 1].price === b.price ? same + 1 : 0;
      while (step + 1 < points.length && points[step + 1].at <= b.at) ++step;
      const response = points[step].at <= b.at ? b.at - points[step].at : 0;
      const since = t(b.at);
      const name = data.buyers[b.buyer] ?? '(unknown buyer)';
      marker(marks, data.styles[b.buyer] ?? 0, x(since) - 9 * Math.min(same, 40), y(b.price), 5,
             { class: 'bid', 'data-buyer': name, 'data-price': b.price },
             name + ' bids at ' + b.price + ', ' + fmt(since, inMs ? 1 : 3) + (inMs ? ' ms' : ' s') +
             ' after the first offer (' + fmt(response / 1000, 1) + ' ms after the price)');
    });

    const ex = x(t(last));
    if (g.outcome === 'sold') {
      const ey = y(g.price);
      const sale = el(svg, 'g', { class: 'sale', 'data-buyer': g.buyer });
      el(sale, 'rect', { x: fmt(ex - 7), y: fmt(ey - 7), width: 14, height: 14, fill: 'none',
                         stroke: '#000000', 'stroke-width': '2' });
      el(sale, 'text', haloed({ x: fmt(ex - 10), y: fmt(ey - 12), 'text-anchor': 'end' }),
         'sold to ' + g.buyer + ' at ' + g.price);
    } else if (g.outcome === 'unsold') {
      const ey = y(g.reserve);
      const out = el(svg, 'g', { class: 'out-of-market' });
      for (const d of [[-6, -6, 6, 6], [-6, 6, 6, -6]]) {
        el(out, 'line', { x1: fmt(ex + d[0]), y1: fmt(ey + d[1]), x2: fmt(ex + d[2]), y2: fmt(ey + d[3]),
                          stroke: '#000000', 'stroke-width': '2.5' });
      }
      el(out, 'text', haloed({ x: fmt(ex - 10), y: fmt(ey - 22), 'text-anchor': 'end' }),
         'fell out of the market at ' + g.reserve);
    } else {
      el(svg, 'text', { x: (PL + PR) / 2, y: PT + 16, class: 'unfinished', 'text-anchor': 'middle' },
         'not sold: ' + g.outcome);
    }
    return svg;
  };

  const show = (section, index) => {
    const g = data.goods[index];
    const view = section.querySelector('.clock-view');
    if (!g || !view) return;
    const figure = document.createElement('figure');
    figure.className = 'good';
    /* Goods without a recorded clock carry the chart as the page writes it, escaped there. */
    if (g.svg !== undefined) figure.innerHTML = g.svg;
    else figure.appendChild(chart(g));
    const caption = document.createElement('figcaption');
    caption.textContent = g.caption;
    figure.appendChild(caption);
    view.replaceChildren(figure);
    for (const m of section.querySelectorAll('.good-mark')) {
      m.classList.toggle('picked', Number(m.dataset.index) === index);
    }
  };
  for (const section of document.querySelectorAll('section.auction')) {
    const picker = section.querySelector('select.good-picker');
    if (!picker) continue;
    picker.addEventListener('change', () => show(section, Number(picker.value)));
    section.addEventListener('click', (event) => {
      const mark = event.target.closest('.good-mark');
      if (!mark) return;
      picker.value = mark.dataset.index;
      show(section, Number(mark.dataset.index));
    });
    if (picker.value !== '') show(section, Number(picker.value));
  }
})();
)";

}  // namespace

std::string ClockScript() {
  // The styles repeat after 64 (palette.h): eight colours times eight shapes.
  std::string styles = "const STYLES = [";
  for (size_t i = 0; i < 64; ++i) {
    const SeriesStyle style = StyleFor(i);
    if (i > 0) styles += ", ";
    styles += "['" + style.colour + "', " + std::to_string(static_cast<int>(style.shape)) + "]";
  }
  styles += "];";
  return "<script>\n" + styles + std::string(kScript) + "</script>\n";
}

}  // namespace report
