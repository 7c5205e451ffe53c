// The demo's data package: a gzipped tar of data/, unpacked into the module's file system as it
// downloads. The browser's own DecompressionStream undoes the gzip. The package itself is kept,
// a tenth of the size of what it unpacks to, so that the files can be removed once a run has
// read them and unpacked again for the next.
"use strict";

// Reads a tar stream into the module's file system: regular files and directories only. The
// chunks are kept as they come and joined once per header or file, not once per chunk.
class TarReader {
  constructor(fs) {
    this.fs = fs; this.chunks = []; this.buffered = 0; this.file = null; this.done = false;
    this.written = [];  // every file and directory made, in the order made
  }
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
  makeDirectory(path) {
    let made = "";
    for (const part of path.split("/")) {
      made = made ? made + "/" + part : part;
      if (this.fs.analyzePath(made).exists) continue;
      this.fs.mkdir(made);
      this.written.push(made);
    }
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
        this.written.push(this.file.path);
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
      if (type === "5") this.makeDirectory(path.replace(/\/$/, ""));
      else if (type === "0") {
        const slash = path.lastIndexOf("/");
        if (slash > 0) this.makeDirectory(path.slice(0, slash));
        this.file = {path: path, size: size};
      } else throw new Error("unexpected entry " + path);
    }
  }
}

// Unpacks a package from a stream of its bytes into `fs`; resolves to the paths it made.
async function unpackDataPackage(stream, fs) {
  const reader = stream.pipeThrough(new DecompressionStream("gzip")).getReader();
  const tar = new TarReader(fs);
  for (;;) {
    const {done, value} = await reader.read();
    if (done) break;
    tar.push(value);
  }
  if (!tar.done) throw new Error("the data package ends early");
  return tar.written;
}

// Removes what unpackDataPackage made, files first and each directory after what it held.
function removeDataPackage(fs, written) {
  for (let i = written.length - 1; i >= 0; --i) {
    const path = written[i];
    if (fs.isDir(fs.stat(path).mode)) fs.rmdir(path);
    else fs.unlink(path);
  }
}

// Fetches the package at `url` and unpacks it into `fs` as it downloads, calling `progress`
// with the fraction downloaded. Resolves to {paths, bytes}: what it made, and the package as a
// Blob for unpacking again later.
async function loadDataPackage(url, fs, progress) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(url + ": HTTP " + response.status);
  const total = Number(response.headers.get("Content-Length")) || 0;
  let received = 0;
  const chunks = [];
  const counted = response.body.pipeThrough(new TransformStream({
    transform(chunk, controller) {
      received += chunk.length;
      if (total) progress(Math.min(1, received / total));
      chunks.push(chunk);
      controller.enqueue(chunk);
    },
  }));
  const paths = await unpackDataPackage(counted, fs).catch((e) => {
    throw new Error(url + ": " + e.message);
  });
  return {paths, bytes: new Blob(chunks, {type: "application/gzip"})};
}
