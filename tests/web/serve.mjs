// A static server for the tests on 127.0.0.1, on a port the system picks: each URL prefix maps
// to a folder, nothing outside those folders is served, and nothing is cached.
import { createReadStream, statSync } from "node:fs";
import { createServer } from "node:http";
import { extname, join, normalize } from "node:path";

const types = {".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm",
               ".gz": "application/gzip", ".png": "image/png"};

// Resolves to {server, origin}.
export async function serve(roots) {
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, "http://x").pathname);
    const prefix = Object.keys(roots).find((p) => path.startsWith(p));
    const file = prefix && normalize(join(roots[prefix], path.slice(prefix.length)));
    let size = -1;
    try { if (file && file.startsWith(roots[prefix])) size = statSync(file).isFile() ? statSync(file).size : -1; } catch {}
    if (size < 0) { response.writeHead(404); response.end(); return; }
    response.writeHead(200, {"Content-Type": types[extname(file)] || "application/octet-stream",
                             "Content-Length": size, "Cache-Control": "no-store"});
    createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  return {server, origin: "http://127.0.0.1:" + server.address().port};
}
