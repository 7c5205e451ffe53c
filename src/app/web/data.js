// The demo's data package: a gzipped tar of data/, unpacked into the module's file system as it
// downloads. The browser's own DecompressionStream undoes the gzip.
"use strict";

// Reads a tar stream into the module's file system: regular files and directories only. The
// chunks are kept as they come and joined once per header or file, not once per chunk.
class TarReader {
  constructor(fs) { this.fs = fs; this.chunks = []; this.buffered = 0; this.file = null; this.done = false; }
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
        this.fs.writeFile(this.file.path, bytes.subarray(0, this.file.size));
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
      if (type === "5") this.fs.mkdirTree(path.replace(/\/$/, ""));
      else if (type === "0") {
        const slash = path.lastIndexOf("/");
        if (slash > 0) this.fs.mkdirTree(path.slice(0, slash));
        this.file = {path: path, size: size};
      } else throw new Error("unexpected entry " + path);
    }
  }
}

// Fetches the package at `url` into `fs`, calling `progress` with the fraction downloaded.
async function loadDataPackage(url, fs, progress) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(url + ": HTTP " + response.status);
  const total = Number(response.headers.get("Content-Length")) || 0;
  let received = 0;
  const counted = response.body.pipeThrough(new TransformStream({
    transform(chunk, controller) {
      received += chunk.length;
      if (total) progress(Math.min(1, received / total));
      controller.enqueue(chunk);
    },
  }));
  const reader = counted.pipeThrough(new DecompressionStream("gzip")).getReader();
  const tar = new TarReader(fs);
  for (;;) {
    const {done, value} = await reader.read();
    if (done) break;
    tar.push(value);
  }
  if (!tar.done) throw new Error(url + " ends early");
}
