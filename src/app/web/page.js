// The page around the demo: it loads the data with a progress bar, starts a run on Play (full
// screen and sound both need the viewer's click), ends it when the viewer leaves full screen,
// and comes back to its start state when a run ends, ready to play again.
"use strict";

const kDataPackage = "velmora-data.tar.gz";
const kProgram = "velmora.js";

const canvas = document.getElementById("canvas");
const play = document.getElementById("play");
const status = document.getElementById("status");
const fill = document.getElementById("fill");
let running = false;

// The demo's standard output carries only its fixed failure lines; the console is where a
// browser shows them. Its diagnostics (standard error) go there too, as information.
var Module = {
  canvas: canvas,
  print: (text) => console.log(text),
  printErr: (text) => console.info(text),
  onRuntimeInitialized: () => loadData().catch((e) => {
    status.textContent = "The demo's data could not be loaded (" + e.message + ").";
    console.error("velmora: loading data: " + e.message);
  }),
  onRunEnded: () => {
    running = false;
    document.body.classList.remove("running");
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    status.textContent = "";
    play.disabled = false;
    play.focus();
  },
};

// Reads a tar stream into the module's file system: regular files and directories only. The
// chunks are kept as they come and joined once per header or file, not once per chunk.
class TarReader {
  constructor() { this.chunks = []; this.buffered = 0; this.file = null; this.done = false; }
  // The next n bytes, or null while fewer have come.
  take(n) {
    if (this.buffered < n) return null;
    const out = new Uint8Array(n);
    let filled = 0;
    while (filled < n) {
      const chunk = this.chunks[0];
      const used = Math.min(chunk.length, n - filled);
      out.set(chunk.subarray(0, used), filled);
      filled += used;
      if (used === chunk.length) this.chunks.shift();
      else this.chunks[0] = chunk.subarray(used);
    }
    this.buffered -= n;
    return out;
  }
  push(chunk) {
    this.chunks.push(chunk);
    this.buffered += chunk.length;
    while (!this.done) {
      if (this.file) {
        const padded = Math.ceil(this.file.size / 512) * 512;
        const bytes = this.take(padded);
        if (!bytes) return;
        Module.FS.writeFile(this.file.path, bytes.subarray(0, this.file.size));
        this.file = null;
        continue;
      }
      const header = this.take(512);
      if (!header) return;
      if (header.every((b) => b === 0)) { this.done = true; return; }
      const text = (from, length) => {
        const bytes = header.subarray(from, from + length);
        const end = bytes.indexOf(0);
        return new TextDecoder().decode(end < 0 ? bytes : bytes.subarray(0, end));
      };
      const prefix = text(345, 155);
      const path = (prefix ? prefix + "/" : "") + text(0, 100);
      const size = parseInt(text(124, 12).trim() || "0", 8);
      const type = String.fromCharCode(header[156] || 48);
      if (type === "5") Module.FS.mkdirTree(path.replace(/\/$/, ""));
      else if (type === "0") {
        const slash = path.lastIndexOf("/");
        if (slash > 0) Module.FS.mkdirTree(path.slice(0, slash));
        this.file = {path: path, size: size};
      } else throw new Error("unexpected entry " + path);
    }
  }
}

async function loadData() {
  const response = await fetch(kDataPackage);
  if (!response.ok) throw new Error(kDataPackage + ": HTTP " + response.status);
  const total = Number(response.headers.get("Content-Length")) || 0;
  let received = 0;
  const counted = response.body.pipeThrough(new TransformStream({
    transform(chunk, controller) {
      received += chunk.length;
      if (total) fill.style.width = Math.min(100, 100 * received / total) + "%";
      controller.enqueue(chunk);
    },
  }));
  const reader = counted.pipeThrough(new DecompressionStream("gzip")).getReader();
  const tar = new TarReader();
  for (;;) {
    const {done, value} = await reader.read();
    if (done) break;
    tar.push(value);
  }
  if (!tar.done) throw new Error(kDataPackage + " ends early");
  fill.style.width = "100%";
  status.textContent = "";
  play.disabled = false;
  play.focus();
  document.body.dataset.state = "ready";
}

play.addEventListener("click", () => {
  if (running) return;
  running = true;
  play.disabled = true;
  // Both belong to this click: full screen for the canvas, and the sound the run opens.
  canvas.requestFullscreen().catch(() => {});
  document.body.classList.add("running");
  canvas.focus();
  Module._main(0, 0);
});

// Browsers take Escape to leave full screen; leaving it ends the run, as Escape does.
document.addEventListener("fullscreenchange", () => {
  if (!document.fullscreenElement && running) Module._velmoraRequestClose();
});

if (!document.createElement("canvas").getContext("webgl2")) {
  status.textContent = "Velmora needs WebGL 2, which this browser does not offer. " +
                       "A current Firefox, Chrome, Edge or Safari has it.";
  fill.parentNode.style.display = "none";
} else {
  const script = document.createElement("script");
  script.src = kProgram;
  document.body.appendChild(script);
}
