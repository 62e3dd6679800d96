#include "http/page_assets.h"

#include <array>

namespace vn::http {
namespace {

constexpr std::string_view kHtml = R"page(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vespanode line</title>
<link rel="icon" href="/favicon.svg" type="image/svg+xml">
<link rel="stylesheet" href="/app.css">
<script src="/app.js" defer></script>
</head>
<body>
<header id="line">
  <div class="run">
    <div id="file" class="file">&nbsp;</div>
    <div id="identity" class="identity"></div>
  </div>
  <div class="totals">
    <div><span id="done" class="big">0</span><span class="label">done</span></div>
    <div><span id="failed" class="big">0</span><span class="label">failed</span></div>
    <div><span id="rate" class="big">0</span><span class="label">boxes / hour</span></div>
    <div><span id="elapsed" class="big">0:00:00</span><span class="label">running</span></div>
  </div>
  <div id="link" class="connection" data-live="no">connecting</div>
</header>
<main id="tiles"></main>
</body>
</html>
)page";

// The tones: success, failure and work under way as the window's status line draws them; grey
// while a station waits. A test holds them to the window's.
constexpr std::string_view kCss = R"page(:root {
  --success: #008000; --failure: #C00000; --working: #000080; --waiting: #5F6368;
  --page: #101214; --tile: #1E2226; --text: #F2F2F2; --muted: #AEB4BA;
}
* { box-sizing: border-box; }
html, body { margin: 0; background: var(--page); color: var(--text);
  font-family: system-ui, "DejaVu Sans", "Liberation Sans", Arial, sans-serif; }
body { font-size: 20px; padding: 16px; }
header { display: flex; flex-wrap: wrap; gap: 16px 40px; align-items: center;
  padding: 12px 20px; background: var(--tile); border-radius: 10px; margin-bottom: 16px; }
.run { flex: 1 1 420px; min-width: 0; }
.file { font-size: 1.7rem; font-weight: 700; overflow-wrap: anywhere; }
.identity { color: var(--muted); font-size: 1.05rem; margin-top: 4px; overflow-wrap: anywhere; }
.totals { display: flex; gap: 36px; }
.totals div { display: flex; flex-direction: column; align-items: center; }
.big { font-size: 2.4rem; font-weight: 800; font-variant-numeric: tabular-nums; line-height: 1.1; }
.label { color: var(--muted); font-size: 0.95rem; }
.connection { font-size: 1rem; padding: 6px 14px; border-radius: 20px; background: var(--failure); }
.connection[data-live="yes"] { background: var(--success); }
main { display: grid; gap: 16px; grid-template-columns: repeat(auto-fit, minmax(360px, 1fr)); }
.tile { background: var(--tile); border-radius: 10px; overflow: hidden;
  border: 4px solid var(--waiting); display: flex; flex-direction: column; }
.band { background: var(--waiting); padding: 12px 18px; display: flex;
  justify-content: space-between; align-items: baseline; gap: 12px; }
.port { font-size: 1.8rem; font-weight: 800; overflow-wrap: anywhere; }
.com { font-size: 1.1rem; color: #E6E6E6; overflow-wrap: anywhere; text-align: right; }
.state { font-size: 3rem; font-weight: 900; letter-spacing: 0.02em; padding: 10px 18px 0;
  text-transform: uppercase; }
.status { padding: 0 18px; color: var(--muted); font-size: 1.15rem; min-height: 1.5em;
  overflow-wrap: anywhere; }
.progress { display: flex; align-items: center; gap: 14px; padding: 8px 18px; }
.bar { flex: 1; height: 26px; background: #33393F; border-radius: 13px; overflow: hidden; }
.fill { height: 100%; width: 0%; background: var(--waiting); transition: width 0.3s; }
.percent { font-size: 1.6rem; font-weight: 700; min-width: 3.4em; text-align: right;
  font-variant-numeric: tabular-nums; }
.counts { display: grid; grid-template-columns: repeat(4, 1fr); padding: 6px 18px 10px; }
.counts div { display: flex; flex-direction: column; }
.counts .value { font-size: 2.2rem; font-weight: 800; font-variant-numeric: tabular-nums; }
.failure { margin: 0 18px 10px; padding: 10px 14px; border-radius: 8px; background: #3A1616;
  border-left: 8px solid var(--failure); }
.failure[hidden] { display: none; }
.failure .text { font-size: 1.45rem; font-weight: 700; overflow-wrap: anywhere; }
.failure .meta { color: #E8C4C4; font-size: 1rem; margin-top: 4px; overflow-wrap: anywhere; }
.health { margin-top: auto; padding: 8px 18px 12px; color: var(--muted); font-size: 1.05rem;
  border-top: 1px solid #2E3439; font-variant-numeric: tabular-nums; }
.tile[data-tone="success"] { border-color: var(--success); }
.tile[data-tone="success"] .band, .tile[data-tone="success"] .fill { background: var(--success); }
.tile[data-tone="success"] .state { color: #3CCB3C; }
.tile[data-tone="failure"] { border-color: var(--failure); }
.tile[data-tone="failure"] .band, .tile[data-tone="failure"] .fill { background: var(--failure); }
.tile[data-tone="failure"] .state { color: #FF5A5A; }
.tile[data-tone="working"] { border-color: var(--working); }
.tile[data-tone="working"] .band, .tile[data-tone="working"] .fill { background: #2A4BD7; }
.tile[data-tone="working"] .band { background: var(--working); }
.tile[data-tone="working"] .state { color: #8FA8FF; }
.tile[data-tone="waiting"] .state { color: #C9CDD1; }
)page";

constexpr std::string_view kScript = R"page('use strict';
// The line page: renders the stations the event stream reports. Every text from outside goes in
// as textContent, never as markup.
(function () {
  const STATE_WORDS = {
    waiting: 'Waiting', connect: 'Connect', verify: 'Verify', transfer: 'Transfer',
    erase: 'Erase', program: 'Program', success: 'Success', failure: 'Failure',
    stopped: 'Stopped', closed: 'Closed'
  };
  const TONES = { success: 'success', failure: 'failure', closed: 'failure', waiting: 'waiting',
    stopped: 'waiting' };
  const tiles = new Map();
  let line = null;
  let clockOffset = 0;

  function make(tag, cls, parent, text) {
    const node = document.createElement(tag);
    if (cls) node.className = cls;
    if (text !== undefined) node.textContent = text;
    if (parent) parent.appendChild(node);
    return node;
  }

  function count(parent, label) {
    const box = make('div', '', parent);
    const value = make('span', 'value', box, '0');
    make('span', 'label', box, label);
    return value;
  }

  function tileFor(port) {
    let tile = tiles.get(port);
    if (tile) return tile;
    const root = make('section', 'tile', document.getElementById('tiles'));
    const band = make('div', 'band', root);
    tile = { root: root, port: make('div', 'port', band), com: make('div', 'com', band) };
    tile.state = make('div', 'state', root);
    tile.status = make('div', 'status', root);
    const progress = make('div', 'progress', root);
    tile.fill = make('div', 'fill', make('div', 'bar', progress));
    tile.percent = make('div', 'percent', progress, '0%');
    const counts = make('div', 'counts', root);
    tile.box = count(counts, 'box');
    tile.done = count(counts, 'done');
    tile.failed = count(counts, 'failed');
    tile.yield = count(counts, 'yield');
    tile.failure = make('div', 'failure', root);
    tile.failure.hidden = true;
    tile.failureText = make('div', 'text', tile.failure);
    tile.failureMeta = make('div', 'meta', tile.failure);
    tile.health = make('div', 'health', root);
    tiles.set(port, tile);
    return tile;
  }

  function percentText(value) {
    return value === null || value === undefined ? '-' : Math.round(value * 100) + '%';
  }

  function timeText(iso) {
    if (!iso) return '';
    const when = new Date(iso);
    return isNaN(when) ? iso : when.toLocaleTimeString();
  }

  function renderStation(s) {
    const tile = tileFor(s.port);
    tile.root.dataset.port = s.port;
    tile.root.dataset.state = s.state;
    tile.root.dataset.done = s.boxesDone;
    tile.root.dataset.failed = s.boxesFailed;
    tile.root.dataset.tone = TONES[s.state] || 'working';
    tile.port.textContent = s.port;
    tile.com.textContent = s.comName && s.comName !== s.port ? s.comName : '';
    tile.state.textContent = STATE_WORDS[s.state] || s.state;
    tile.status.textContent = s.status || '';
    const percent = Math.max(0, Math.min(100, s.percent | 0));
    tile.fill.style.width = percent + '%';
    tile.percent.textContent = percent + '%';
    tile.box.textContent = s.box;
    tile.done.textContent = s.boxesDone;
    tile.failed.textContent = s.boxesFailed;
    tile.yield.textContent = percentText(s.yield);
    const failure = s.lastFailure;
    tile.failure.hidden = !failure;
    if (failure) {
      tile.failureText.textContent = failure.text;
      const meta = [failure.failureKind, failure.reason, timeText(failure.time)];
      tile.failureMeta.textContent = meta.filter(Boolean).join(' \u00b7 ');
    }
    const link = s.link || {};
    tile.health.textContent = 'line ' + percentText(link.efficiency) + ' \u00b7 ' +
      (link.framesResent || 0) + ' resent \u00b7 ' + (link.timeouts || 0) + ' time-outs';
  }

  function renderLine(l) {
    line = l;
    clockOffset = Date.parse(l.now) - Date.now();
    const sha = l.sha256 ? '  \u00b7  SHA-256 ' + l.sha256.slice(0, 12) : '';
    document.getElementById('file').textContent = l.command + '  ' + l.file + sha;
    const identity = [];
    const id = l.identity && typeof l.identity === 'object' ? l.identity : {};
    const pair = function (label, first, second) {
      const text = [first, second].filter(function (v) { return v; }).join(' ');
      if (text) identity.push(label + ' ' + text);
    };
    pair('maker', id.manufactureIdent);
    pair('hardware', id.hardwareModule, id.hardwareVersion);
    pair('software', id.softwareModule, id.softwareVersion);
    if (l.host) identity.unshift(l.host);
    document.getElementById('identity').textContent = identity.join('  \u00b7  ');
    document.getElementById('done').textContent = l.boxesDone;
    document.getElementById('failed').textContent = l.boxesFailed;
    document.getElementById('rate').textContent = Math.round(l.boxesPerHour);
    document.title = 'Vespanode line \u00b7 ' + l.boxesDone + ' done';
    tick();
  }

  function tick() {
    if (!line) return;
    const seconds = Math.max(0, Math.floor((Date.now() + clockOffset - Date.parse(line.started)) / 1000));
    const two = function (n) { return String(n).padStart(2, '0'); };
    document.getElementById('elapsed').textContent =
      Math.floor(seconds / 3600) + ':' + two(Math.floor(seconds / 60) % 60) + ':' + two(seconds % 60);
  }

  function showLive(live) {
    const node = document.getElementById('link');
    node.dataset.live = live ? 'yes' : 'no';
    node.textContent = live ? 'live' : 'reconnecting';
  }

  function refetch() {
    fetch('/api/v1/stations').then(function (r) { return r.json(); })
      .then(function (list) { list.forEach(renderStation); }).catch(function () {});
  }

  function connect() {
    const stream = new EventSource('/api/v1/events');
    stream.onopen = function () { showLive(true); };
    stream.addEventListener('station', function (e) { renderStation(JSON.parse(e.data)); });
    stream.addEventListener('line', function (e) { renderLine(JSON.parse(e.data)); });
    stream.addEventListener('gap', refetch);
    stream.onerror = function () {
      showLive(false);
      // The browser retries by itself unless the stream was refused outright.
      if (stream.readyState === EventSource.CLOSED) setTimeout(connect, 3000);
    };
  }

  setInterval(tick, 1000);
  connect();
})();
)page";

constexpr std::string_view kIcon =
    R"page(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16"><rect width="16" height="16" rx="3" fill="#008000"/><path d="M4 8l3 3 5-6" stroke="#fff" stroke-width="2" fill="none"/></svg>
)page";

constexpr std::array kAssets = {
    PageAsset{"/", "text/html; charset=utf-8", kHtml},
    PageAsset{"/app.css", "text/css; charset=utf-8", kCss},
    PageAsset{"/app.js", "text/javascript; charset=utf-8", kScript},
    PageAsset{"/favicon.svg", "image/svg+xml", kIcon},
};

}  // namespace

const PageAsset* FindPageAsset(std::string_view path) {
  for (const PageAsset& asset : kAssets) {
    if (asset.path == path) return &asset;
  }
  return nullptr;
}

PageTones Tones() {
  return {"#008000", "#C00000", "#000080", "#5F6368"};
}

}  // namespace vn::http
