#include "web_remote.h"

namespace plombix::control {

const char* WebRemoteContentSecurityPolicy() {
  return "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
         "connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'; "
         "frame-ancestors 'none'";
}

const std::string& WebRemotePage() {
  static const std::string page = R"PAGE(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vora Plombix remote</title>
<style>
:root { color-scheme: dark; --bg: #15171c; --panel: #1f232b; --line: #343a46; --text: #e8eaee;
        --dim: #9aa3b2; --accent: #3d7be0; --program: #d93b3b; --preview: #2fa84f; }
* { box-sizing: border-box; }
body { margin: 0; padding: 16px; background: var(--bg); color: var(--text);
       font: 15px/1.4 system-ui, "DejaVu Sans", sans-serif; max-width: 760px; }
header { display: flex; align-items: center; gap: 12px; flex-wrap: wrap; margin-bottom: 12px; }
h1 { font-size: 20px; margin: 0; flex: 1; }
h2 { font-size: 13px; text-transform: uppercase; letter-spacing: .06em; color: var(--dim); margin: 0 0 8px; }
section { background: var(--panel); border: 1px solid var(--line); border-radius: 8px; padding: 12px; margin-bottom: 12px; }
.badge { padding: 3px 10px; border-radius: 12px; border: 1px solid var(--line); font-size: 13px; }
.tally.program { background: var(--program); border-color: var(--program); }
.tally.preview { background: var(--preview); border-color: var(--preview); }
.offline { background: #6b4a12; border-color: #6b4a12; }
.row { display: flex; flex-wrap: wrap; gap: 6px; }
.facts { display: grid; grid-template-columns: max-content 1fr; gap: 2px 12px; }
.facts dt { color: var(--dim); }
.facts dd { margin: 0; overflow-wrap: anywhere; }
button { font: inherit; color: var(--text); background: #2b313c; border: 1px solid var(--line);
         border-radius: 6px; padding: 8px 12px; cursor: pointer; min-width: 44px; }
button:hover:not(:disabled) { border-color: var(--accent); }
button:disabled { opacity: .45; cursor: default; }
button[aria-pressed="true"] { background: var(--accent); border-color: var(--accent); }
.steps button { flex: 1; padding: 14px 8px; font-size: 17px; }
form { display: flex; gap: 6px; }
input { flex: 1; font: inherit; color: var(--text); background: #12141a; border: 1px solid var(--line);
        border-radius: 6px; padding: 8px; min-width: 0; }
#message { min-height: 1.4em; margin: 0; color: var(--dim); }
#message.error { color: #ff8a80; }
#asRun { margin: 0; padding: 0; list-style: none; font-size: 13px; max-height: 16em; overflow-y: auto; }
#asRun li { display: grid; grid-template-columns: max-content 1fr max-content; gap: 10px; padding: 2px 0;
            border-bottom: 1px solid var(--line); }
#asRun .when, #asRun .why { color: var(--dim); }
</style>
</head>
<body>
<header>
  <h1 id="source">Vora Plombix</h1>
  <span id="busy" class="badge" hidden>Loading…</span>
  <span id="tally" class="badge tally none">Not on air</span>
</header>
<section>
  <dl class="facts">
    <dt>Picture</dt><dd id="picture">—</dd>
    <dt>Output</dt><dd id="output">—</dd>
    <dt>Receivers</dt><dd id="receivers">—</dd>
    <dt>Slideshow</dt><dd id="slideshow">—</dd>
  </dl>
  <p id="message" role="status"></p>
</section>
<section>
  <h2>Slideshow</h2>
  <div class="row steps">
    <button type="button" id="first">« First</button>
    <button type="button" id="previous">‹ Previous</button>
    <button type="button" id="next">Next ›</button>
    <button type="button" id="last">Last »</button>
  </div>
</section>
<section>
  <h2>Transition</h2>
  <div class="row">
    <button type="button" id="cut">Cut</button>
    <button type="button" id="fade">Fade</button>
  </div>
</section>
<section><h2>Background</h2><div class="row" id="backgrounds"></div></section>
<section><h2>Resolution</h2><div class="row" id="resolutions"></div></section>
<section><h2>Frame rate</h2><div class="row" id="rates"></div></section>
<section><h2>As run</h2><ol id="asRun" reversed></ol></section>
<section>
  <h2>Show a picture</h2>
  <form id="showForm" autocomplete="off">
    <input id="path" type="text" placeholder="/absolute/path/to/picture.jpg" spellcheck="false">
    <button type="submit" id="show">Show</button>
  </form>
</section>
<section>
  <h2>Cue and take</h2>
  <form id="cueForm" autocomplete="off">
    <input id="cuePath" type="text" placeholder="/absolute/path/to/next.jpg" spellcheck="false">
    <button type="submit" id="cue">Cue</button>
    <button type="button" id="take" disabled>Take</button>
  </form>
  <p id="cued">Nothing cued</p>
</section>
<script>
'use strict';
const backgrounds = [['black', 'Black'], ['white', 'White'], ['grad1', 'Grad 1'], ['grad2', 'Grad 2'],
  ['grad3', 'Grad 3'], ['grad4', 'Grad 4'], ['grad5', 'Grad 5'], ['grad6', 'Grad 6'],
  ['grabbed', 'Grabbed'], ['transparent', 'Transparent']];
const resolutions = ['4096x2160', '3840x2160', '2560x1440', '1920x1080', '1280x720', '1080x1920',
  '960x540', '720x576', '720x480', '640x360'];
const rates = ['25', '29.97', '30', '50', '60'];
const rateFractions = { '25': [30000, 1200], '29.97': [30000, 1001], '30': [30000, 1000],
  '50': [60000, 1200], '60': [60000, 1000] };
const $ = (id) => document.getElementById(id);
// Every message type of the event stream; each carries the whole state.
const eventTypes = ['state', 'picture', 'cued', 'loading', 'loadFailed', 'slideshowNumber', 'slideshowMode',
  'slideshowRange', 'output', 'background', 'scaling', 'borders', 'transition', 'range', 'watch', 'overlay',
  'receivers', 'tally', 'osc'];
let pollTimer = 0;
let messageTimer = 0;
let events = null;

function addButtons(box, items, prefix, act) {
  for (const [value, label] of items) {
    const b = document.createElement('button');
    b.type = 'button';
    b.id = prefix + value;
    b.textContent = label;
    b.addEventListener('click', () => act(value));
    $(box).appendChild(b);
  }
}

async function call(method, path, body) {
  const init = { method, cache: 'no-store', headers: {} };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  // From the origin: a page opened with the token in its address cannot fetch relative URLs.
  const response = await fetch(location.origin + '/api/v1/' + path, init);
  let data = null;
  try { data = await response.json(); } catch (e) { data = null; }
  if (!response.ok) throw new Error(data && data.error ? data.error : response.status + ' ' + response.statusText);
  return data;
}

function say(text, isError) {
  const m = $('message');
  m.textContent = text;
  m.className = isError ? 'error' : '';
  clearTimeout(messageTimer);
  if (text) messageTimer = setTimeout(() => say('', false), 6000);
}

function press(id, on) {
  const b = $(id);
  if (b) b.setAttribute('aria-pressed', on ? 'true' : 'false');
}

function padded(n, format) {
  const s = String(n);
  return s.length >= format.length ? s : '0'.repeat(format.length - s.length) + s;
}

function render(s) {
  const name = s.source || 'Vora Plombix';
  $('source').textContent = name;
  document.title = name + ' – remote';
  const tally = $('tally');
  tally.className = 'badge tally ' + s.tally;
  tally.textContent = s.tally === 'program' ? 'On program' : s.tally === 'preview' ? 'On preview' : 'Not on air';
  $('busy').hidden = !s.busy;
  const p = s.picture;
  $('picture').textContent = p ? p.path + '  (' + p.width + ' × ' + p.height + ')' : '—';
  const o = s.output;
  const fps = Math.round(o.frameRateN / o.frameRateD * 100) / 100;
  $('output').textContent = o.width + ' × ' + o.height + ' · ' + fps + ' fps' + (o.alpha ? ' · with alpha' : '');
  $('receivers').textContent = String(s.receivers);
  const sl = s.slideshow;
  $('slideshow').textContent = sl.mode === 'off' ? 'off'
    : (sl.mode === 'auto' ? 'automatic, ' : 'by hand, ') + padded(sl.current, sl.format) +
      ' (' + padded(sl.start, sl.format) + ' to ' + padded(sl.end, sl.format) + ')';
  for (const id of ['first', 'previous', 'next', 'last']) $(id).disabled = sl.mode === 'off';
  $('take').disabled = !s.cued;
  $('cued').textContent = s.cued ? 'Cued: ' + s.cued : 'Nothing cued';
  press('cut', s.transition === 'cut');
  press('fade', s.transition === 'fade');
  for (const [value] of backgrounds) press('bg-' + value, s.background === value);
  for (const r of resolutions) press('res-' + r, r === o.width + 'x' + o.height);
  for (const r of rates) press('rate-' + r, rateFractions[r][0] === o.frameRateN && rateFractions[r][1] === o.frameRateD);
  document.body.dataset.ready = '1';
}

function online(on) {
  const tally = $('tally');
  if (on) {
    tally.classList.remove('offline');
  } else {
    tally.className = 'badge offline';
    tally.textContent = 'No answer';
  }
}

async function showAsRun() {
  try {
    const list = $('asRun');
    const entries = (await call('GET', 'as-run?limit=20')).entries;
    list.replaceChildren(...entries.reverse().map((e) => {
      const li = document.createElement('li');
      for (const [cls, text] of [['when', e.time.slice(11, 23)], ['what', e.path.split('/').pop()],
                                 ['why', e.trigger + ', ' + e.transition]]) {
        const span = document.createElement('span');
        span.className = cls;
        span.textContent = text;
        li.appendChild(span);
      }
      li.title = e.path;
      return li;
    }));
  } catch (e) {
    // No as-run log: the list stays empty.
  }
}

// Follows the player's changes as they are pushed; while the stream is
// refused (too many clients) or down, asks for the state every two seconds
// and tries the stream again.
function follow() {
  events = new EventSource(location.origin + '/api/v1/events');
  const take = (event) => {
    const message = JSON.parse(event.data);
    render(message.state);
    online(true);
    clearTimeout(pollTimer);
    // The log's line is written just after the picture goes on air.
    if (message.type === 'picture' || message.type === 'state') setTimeout(showAsRun, 300);
  };
  for (const type of eventTypes) events.addEventListener(type, take);
  events.onerror = () => {
    if (events.readyState !== EventSource.CLOSED) return;  // it reconnects by itself
    events = null;
    refresh();
  };
}

async function refresh() {
  try {
    render(await call('GET', 'state'));
    online(true);
  } catch (e) {
    online(false);
  }
  clearTimeout(pollTimer);
  pollTimer = setTimeout(() => (events ? refresh() : follow()), 2000);
}

async function act(path, body) {
  try {
    render(await call('POST', path, body));
    say('', false);
  } catch (e) {
    say(e.message, true);
  }
}

for (const step of ['first', 'previous', 'next', 'last'])
  $(step).addEventListener('click', () => act('slideshow/' + step));
$('cut').addEventListener('click', () => act('transition', { mode: 'cut' }));
$('fade').addEventListener('click', () => act('transition', { mode: 'fade' }));
addButtons('backgrounds', backgrounds, 'bg-', (mode) => act('background', { mode }));
addButtons('resolutions', resolutions.map((r) => [r, r.replace('x', ' × ')]), 'res-',
  (resolution) => act('output', { resolution }));
addButtons('rates', rates.map((r) => [r, r + 'p']), 'rate-', (frameRate) => act('output', { frameRate }));
$('showForm').addEventListener('submit', (event) => {
  event.preventDefault();
  const path = $('path').value.trim();
  if (path) act('show', { path });
});
$('cueForm').addEventListener('submit', (event) => {
  event.preventDefault();
  const path = $('cuePath').value.trim();
  if (path) act('cue', { path });
});
$('take').addEventListener('click', () => act('take'));
follow();
</script>
</body>
</html>
)PAGE";
  return page;
}

}  // namespace plombix::control
