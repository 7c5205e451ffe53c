// WebKitGTK's MiniBrowser, started by WebKitWebDriver and spoken to in plain W3C WebDriver over
// HTTP. The driver listens on a port that the system picked a moment before for a socket of
// our own; should another program take it first, the driver fails to start and says so.
import { spawn } from "node:child_process";
import { createServer } from "node:net";
import { join } from "node:path";

export const name = "WebKitGTK";
const kMiniBrowser = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser";
const kEscape = "\uE00C";
// A call that never answers fails the test rather than holding the run for good.
const kCallLimit = 300e3;

async function freePort() {
  const probe = createServer();
  await new Promise((resolve) => probe.listen(0, "127.0.0.1", resolve));
  const {port} = probe.address();
  await new Promise((resolve) => probe.close(resolve));
  return port;
}

export async function launch({dir, display, env, width, height}) {
  const port = await freePort();
  const driver = spawn("WebKitWebDriver", ["--host=127.0.0.1", "--port=" + port], {
    stdio: ["ignore", "ignore", "pipe"],
    env: {...process.env, ...env, DISPLAY: display, HOME: dir, XDG_CACHE_HOME: join(dir, "cache"),
          XDG_DATA_HOME: join(dir, "data"), XDG_CONFIG_HOME: join(dir, "config")},
  });
  let stderr = "";
  driver.stderr.on("data", (d) => { stderr += d; });
  const exited = new Promise((resolve) => driver.on("exit", resolve));
  const base = "http://127.0.0.1:" + port;
  async function call(method, path, body) {
    const response = await fetch(base + path, {method, headers: {"Content-Type": "application/json"},
                                                body: body && JSON.stringify(body),
                                                signal: AbortSignal.timeout(kCallLimit)});
    const reply = await response.json();
    if (!response.ok) throw new Error(`WebDriver ${method} ${path}: ${reply.value.error}: ${reply.value.message}`);
    return reply.value;
  }
  for (;;) {
    if (driver.exitCode !== null) throw new Error("WebKitWebDriver exited: " + stderr);
    try { await call("GET", "/status"); break; } catch { await new Promise((r) => setTimeout(r, 100)); }
  }
  const session = await call("POST", "/session", {capabilities: {alwaysMatch: {
    "webkitgtk:browserOptions": {binary: kMiniBrowser, args: ["--automation"]},
    timeouts: {script: 0x7fffffff, pageLoad: 0x7fffffff}}}});
  const at = "/session/" + session.sessionId;
  await call("POST", at + "/window/rect", {width, height});
  // A function and its argument as the script body WebDriver runs; a promise it returns is
  // awaited there.
  const body = (fn) => `return (${fn})(arguments[0]);`;
  return {
    goto: (url) => call("POST", at + "/url", {url}),
    evaluate: (fn, arg) => call("POST", at + "/execute/sync", {script: body(fn), args: [arg ?? null]}),
    async click(selector) {
      const element = await call("POST", at + "/element", {using: "css selector", value: selector});
      await call("POST", at + "/element/" + Object.values(element)[0] + "/click", {});
    },
    pressEscape: () => call("POST", at + "/actions", {actions: [{type: "key", id: "keyboard", actions: [
      {type: "keyDown", value: kEscape}, {type: "keyUp", value: kEscape}]}]}),
    async close() {
      await call("DELETE", at).catch(() => {});
      driver.kill();
      await exited;
    },
  };
}
