#include "web_page.h"

#include "served_texts.h"

namespace plombix::standin {
namespace {

constexpr const char* kStyle = R"(<style>
html,body{margin:0}
body{padding:12px;background:#202020;color:#ddd;font:14px sans-serif}
a{color:#8cf}
#info{margin:0 0 8px}
#frame{display:inline-block;line-height:0;border:4px solid #444}
#frame.program{border-color:#e02020}
#frame.preview{border-color:#20b020}
#board{background-color:#fff;background-size:32px 32px;background-position:0 0,16px 16px;
background-image:linear-gradient(45deg,#bbb 25%,transparent 25%,transparent 75%,#bbb 75%),
linear-gradient(45deg,#bbb 25%,transparent 25%,transparent 75%,#bbb 75%)}
#picture{display:block;max-width:calc(100vw - 32px);max-height:calc(100vh - 120px)}
#state{margin:6px 0 0;min-height:1.3em;color:#999;font-size:12px}
body.bare{padding:0;background:transparent;overflow:hidden}
body.bare #info,body.bare #state{display:none}
body.bare #frame{display:block;border:0;width:100vw;height:100vh}
body.bare #board{background:none;width:100%;height:100%}
body.bare #picture{width:100%;height:100%;max-width:none;max-height:none;object-fit:contain}
</style>
)";

constexpr const char* kScript = R"(<script>
"use strict";
(() => {
  const picture = document.getElementById("picture");
  const context = picture.getContext("2d");
  const frameBox = document.getElementById("frame");
  const formatText = document.getElementById("format");
  const receiversText = document.getElementById("receivers");
  const stateText = document.getElementById("state");
  const bare = document.body.classList.contains("bare");
  // The source this page shows, by name: whatever else takes its address
  // while it is away is not shown (the server answers 404 for another name).
  const sourceQuery = "?source=" + encodeURIComponent(document.body.dataset.source);
  const firstDelayMs = 1000, longestDelayMs = 5000;
  let delayMs = firstDelayMs;

  function setState(state, text) {
    document.body.dataset.state = state;
    stateText.textContent = text;
  }

  // Received bytes not yet used; grows by doubling.
  class Bytes {
    constructor() { this.data = new Uint8Array(1 << 16); this.length = 0; }
    append(chunk) {
      if (this.length + chunk.length > this.data.length) {
        let size = this.data.length;
        while (size < this.length + chunk.length) size *= 2;
        const grown = new Uint8Array(size);
        grown.set(this.data.subarray(0, this.length));
        this.data = grown;
      }
      this.data.set(chunk, this.length);
      this.length += chunk.length;
    }
    take(count) {
      const out = this.data.slice(0, count);
      this.data.copyWithin(0, count, this.length);
      this.length -= count;
      return out;
    }
    skipBlankLines() {  // the server may send blank lines between parts
      let n = 0;
      while (n < this.length && (this.data[n] === 13 || this.data[n] === 10)) n++;
      if (n > 0) this.take(n);
    }
    headEnd() {  // index of the first CR LF CR LF, or -1
      const d = this.data;
      for (let i = 0; i + 3 < this.length; i++)
        if (d[i] === 13 && d[i + 1] === 10 && d[i + 2] === 13 && d[i + 3] === 10) return i;
      return -1;
    }
  }

  // Reads the multipart stream part by part until it ends.
  async function readParts(onPart) {
    const response = await fetch("/stream.png" + sourceQuery, {cache: "no-store"});
    if (!response.ok || !response.body) throw new Error("HTTP " + response.status);
    const reader = response.body.getReader();
    const buffer = new Bytes();
    const more = async () => {
      const {value, done} = await reader.read();
      if (done) return false;
      buffer.append(value);
      return true;
    };
    delayMs = firstDelayMs;
    setState("live", "");
    for (;;) {
      let end;
      for (;;) {
        buffer.skipBlankLines();
        if ((end = buffer.headEnd()) >= 0) break;
        if (!(await more())) return;
      }
      const headers = {};
      for (const line of new TextDecoder().decode(buffer.take(end + 4)).split("\r\n")) {
        const colon = line.indexOf(":");
        if (colon > 0) headers[line.slice(0, colon).trim().toLowerCase()] = line.slice(colon + 1).trim();
      }
      const length = Number(headers["content-length"]);
      if (!Number.isInteger(length) || length < 0) throw new Error("malformed part");
      while (buffer.length < length) if (!(await more())) return;
      await onPart(buffer.take(length), headers);
    }
  }

  async function show(bytes, headers) {
    const bitmap = await createImageBitmap(new Blob([bytes], {type: "image/png"}),
                                           {premultiplyAlpha: "none", colorSpaceConversion: "none"});
    if (picture.width !== bitmap.width || picture.height !== bitmap.height) {
      picture.width = bitmap.width;
      picture.height = bitmap.height;
    }
    context.clearRect(0, 0, picture.width, picture.height);
    context.drawImage(bitmap, 0, 0);
    bitmap.close();
    const n = Number(headers["x-frame-rate-n"]), d = Number(headers["x-frame-rate-d"]);
    const rate = d > 0 ? (n / d).toFixed(2) + " fps" : "? fps";
    formatText.textContent = picture.width + " \u00d7 " + picture.height + " \u00b7 " + rate +
                             " \u00b7 " + (headers["x-fourcc"] || "?");
    picture.dataset.sequence = headers["x-sequence"] || "";
  }

  async function run() {
    for (;;) {
      try {
        await readParts(show);
      } catch (e) {
        // The source is gone or sent something unreadable: try again below.
      }
      setState("reconnecting", "reconnecting\u2026");
      await new Promise(resolve => setTimeout(resolve, delayMs));
      delayMs = Math.min(delayMs * 2, longestDelayMs);
    }
  }

  async function poll() {
    try {
      const response = await fetch("/status" + sourceQuery, {cache: "no-store"});
      if (!response.ok) throw new Error("HTTP " + response.status);
      const status = await response.json();
      const on = status.tally === "program" || status.tally === "preview" ? status.tally : "";
      const receivers = status.connections === 1 ? "1 receiver" : status.connections + " receivers";
      receiversText.textContent = receivers + (on ? " \u00b7 on " + on : "");
      frameBox.className = on;
    } catch (e) {
      receiversText.textContent = "\u2013";
      frameBox.className = "";
    }
    setTimeout(poll, 1000);
  }

  if (!bare) poll();
  run();
})();
</script>
)";

}  // namespace

std::string PageHtml(const std::string& sourceName, PageMode mode) {
  const std::string name = HtmlText(sourceName);
  const bool bare = mode == PageMode::Bare;
  return std::string("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>") + name +
         "</title>\n" + kStyle + "</head>\n<body class=\"" + (bare ? "bare" : "full") +
         "\" data-source=\"" + name + "\" data-state=\"connecting\">\n<p id=\"info\"><b id=\"name\">" + name +
         "</b> &middot; <span id=\"format\">no frame yet</span>"
         " &middot; <span id=\"receivers\">&ndash;</span>"
         " &middot; <a href=\"/frame.png\">frame.png</a> &middot; <a href=\"/stream.mjpg\">stream.mjpg</a>"
         " &middot; <a href=\"/status\">status</a> &middot; <a href=\"/metadata\">metadata</a></p>\n"
         "<div id=\"frame\"><div id=\"board\">"
         "<canvas id=\"picture\" width=\"0\" height=\"0\"></canvas></div></div>\n"
         "<p id=\"state\"></p>\n" +
         kScript + "</body></html>\n";
}

}  // namespace plombix::standin
