// The web build in headless Chromium, served from 127.0.0.1: the page, the run it starts and
// ends, the music clock against Web Audio, the stills against the desktop's, and the reports
// for broken data. tests/web/run.sh prepares what this reads from the environment.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { readdirSync, readFileSync, createReadStream, statSync } from "node:fs";
import { createServer } from "node:http";
import { extname, join, normalize } from "node:path";
import { chromium } from "playwright-core";

const env = (name) => {
  const value = process.env[name];
  if (!value) throw new Error(name + " is not set: run tests/web/run.sh");
  return value;
};
const run = env("VELMORA_WEB_RUN");
const roots = {
  "/site/": env("VELMORA_WEB_SITE"),
  "/test/": env("VELMORA_WEB_TEST"),
  "/harness/": env("VELMORA_WEB_HARNESS"),
  "/run/": run,
};
const kStillSize = [480, 270];
const kStillTimes = env("VELMORA_STILL_TIMES").split(" ").map(Number);
const kMinPsnr = 35;
// Generous limits on things that must happen; nothing here is timed against the machine's pace.
const kLoadLimit = 240e3;
const kRunLimit = 240e3;

const types = {".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm",
               ".gz": "application/gzip", ".png": "image/png"};
let server, origin, context;

before(async () => {
  server = createServer((request, response) => {
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
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));  // a free port of the system's choosing
  origin = "http://127.0.0.1:" + server.address().port;
  context = await chromium.launchPersistentContext(join(run, "profile"), {
    executablePath: "/usr/bin/chromium", headless: true,
    args: ["--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
           "--autoplay-policy=no-user-gesture-required"],
  });
});

after(async () => {
  await context?.close();
  server?.close();
});

// A page at the given viewport, with its console kept by type.
async function open(url, width, height, init) {
  const page = await context.newPage();
  // SwiftShader on a busy machine can take many seconds over one large frame.
  page.setDefaultTimeout(kRunLimit);
  await page.setViewportSize({width, height});
  if (init) await page.addInitScript(init);
  const consoleLines = {log: [], error: [], info: [], warning: []};
  page.on("console", (m) => (consoleLines[m.type()] ||= []).push(m.text()));
  page.on("pageerror", (e) => consoleLines.error.push("page error: " + e.message));
  const started = Date.now();
  await page.goto(origin + url);
  return {page, consoleLines, started};
}

const ready = (page) => page.waitForFunction(() => document.body.dataset.state === "ready", null, {timeout: kLoadLimit});
// A run's end: the page ready again and out of full screen.
const backToStart = (page) => page.waitForFunction(
  () => document.body.dataset.state === "ready" && !document.fullscreenElement, null, {timeout: kRunLimit});
// Chromium's audio service for this browser: the process whose stall stalls every sound it plays.
// Chromium rewrites its processes' titles, so their arguments read as one line.
function audioService() {
  const procs = readdirSync("/proc").filter((d) => /^[0-9]+$/.test(d)).flatMap((pid) => {
    try {
      return [{pid, args: readFileSync(`/proc/${pid}/cmdline`, "utf8").replace(/\0/g, " "),
               ppid: readFileSync(`/proc/${pid}/stat`, "utf8").replace(/^.*\) /, "").split(" ")[1]}];
    } catch { return []; }
  });
  const byPid = new Map(procs.map((p) => [p.pid, p]));
  const browser = procs.find((p) => p.args.includes("--user-data-dir=" + join(run, "profile")) && !p.args.includes("--type="));
  const ours = (p) => { for (let q = p; q; q = byPid.get(q.ppid)) if (q === browser) return true; return false; };
  const service = procs.find((p) => p.args.includes("--utility-sub-type=audio.mojom.AudioService") && ours(p));
  assert.ok(service, "the browser runs its audio service as a process of its own");
  return Number(service.pid);
}

const musicPast = (page, seconds) => page.waitForFunction(
  (s) => Module.velmoraAudio && Module.velmoraAudio.reported > s, seconds, {timeout: kRunLimit});
const startState = (page) => page.evaluate(() => ({
  state: document.body.dataset.state, running: document.body.classList.contains("running"),
  fullscreen: !!document.fullscreenElement, playEnabled: !document.getElementById("play").disabled,
  audioOpen: !!Module.velmoraAudio,
}));
const kStartState = {state: "ready", running: false, fullscreen: false, playEnabled: true, audioOpen: false};

// The brightest channel value and the mean luminance of rows [top, bottom) of a PNG screenshot.
async function rows(page, png, top, bottom) {
  return page.evaluate(async ({bytes, top, bottom}) => {
    const image = await createImageBitmap(new Blob([new Uint8Array(bytes)], {type: "image/png"}));
    const canvas = new OffscreenCanvas(image.width, image.height);
    const g = canvas.getContext("2d");
    g.drawImage(image, 0, 0);
    const d = g.getImageData(0, top, image.width, bottom - top).data;
    let brightest = 0, sum = 0;
    for (let i = 0; i < d.length; i += 4) {
      brightest = Math.max(brightest, d[i], d[i + 1], d[i + 2]);
      sum += 0.299 * d[i] + 0.587 * d[i + 1] + 0.114 * d[i + 2];
    }
    return {brightest, mean: sum / (d.length / 4)};
  }, {bytes: [...png], top, bottom});
}

describe("the page", () => {
  test("loads without a console error, plays letterboxed at the screen's size, and Escape ends the run", async () => {
    const {page, consoleLines, started} = await open("/site/index.html", 1920, 1200);
    await ready(page);
    console.log(`# page ready ${((Date.now() - started) / 1000).toFixed(1)} s after it was opened`);
    assert.equal(await page.title(), "Velmora");
    // The mountain: a bright picture, and one of the cheaper rows to draw at this size.
    const kMountain = 126;
    await page.evaluate((t) => { Module.velmoraStartOffset = t; }, kMountain);
    await page.click("#play");
    await musicPast(page, kMountain + 0.1);
    const canvas = await page.evaluate(() => [canvas.width, canvas.height, !!document.fullscreenElement]);
    assert.deepEqual(canvas, [1920, 1200, true], "the canvas fills the screen in device pixels");
    // 16:9 across 1920 pixels is 1080 rows: bands of 60 above and below.
    const shot = await page.screenshot();
    const top = await rows(page, shot, 0, 60), picture = await rows(page, shot, 60, 1140);
    const bottom = await rows(page, shot, 1140, 1200);
    assert.equal(top.brightest, 0, "the band above is black");
    assert.equal(bottom.brightest, 0, "the band below is black");
    assert.ok(picture.mean > 40, `the picture between is drawn (mean luminance ${picture.mean.toFixed(1)})`);
    await page.keyboard.press("Escape");
    await backToStart(page);
    assert.deepEqual(await startState(page), kStartState);
    assert.deepEqual(consoleLines.error, []);
    assert.deepEqual(consoleLines.log, [],
                     "nothing on the demo's standard output");
    await page.close();
  });

  test("without WebGL 2 it says so on the page", async () => {
    const {page} = await open("/site/index.html", 800, 500, () => {
      const getContext = HTMLCanvasElement.prototype.getContext;
      HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {
        return kind === "webgl2" ? null : getContext.call(this, kind, ...rest);
      };
    });
    await page.waitForFunction(() => /WebGL 2/.test(document.getElementById("status").textContent));
    assert.equal(await page.isDisabled("#play"), true);
    assert.equal(await page.isVisible("#status"), true);
    await page.close();
  });

  test("a run that gets no GL context ends at once, and the page is ready to play again", async () => {
    const {page, consoleLines} = await open("/site/index.html", 320, 200);
    await ready(page);
    await page.evaluate(() => { HTMLCanvasElement.prototype.getContext = () => null; });
    await page.click("#play");
    await backToStart(page);
    assert.deepEqual(await startState(page), kStartState);
    assert.ok(consoleLines.info.some((l) => l.startsWith("velmora: ")), "the reason is on standard error");
    assert.deepEqual(consoleLines.log, [], "nothing on the demo's standard output");
    await page.close();
  });
});

describe("the music clock", () => {
  test("follows the Web Audio output, never goes back, and the run ends after 185 s and can start again", async () => {
    const {page} = await open("/site/index.html", 320, 200);
    await ready(page);
    // The soundtrack as decoded for the output: gapless, the same length as the desktop decodes it.
    await page.evaluate(() => { Module.velmoraStartOffset = 181; });
    await page.click("#play");
    const clicked = Date.now();
    await musicPast(page, 181.2);
    const frames = await page.evaluate(() => Module.velmoraAudio.buffers[1].length);
    const rate = await page.evaluate(() => Module.velmoraAudio.buffers[1].sampleRate);
    const expected = Number(env("VELMORA_SOUNDTRACK_FRAMES"));
    assert.ok(Math.abs(frames - expected) <= rate / 1000,
              `decoded ${frames} frames at ${rate} Hz; the desktop decodes ${expected}`);
    // For a second in the middle the audio service is stopped, as a busy machine can starve it:
    // what is heard stops, and so must the clock, however far the wall clock runs on.
    const service = audioService();
    const kStallReadings = [5, 15];
    const samples = [];
    try {
      while ((await page.evaluate(() => document.body.dataset.state)) === "running" && samples.length < 400) {
        const s = await page.evaluate(() => {
          const a = Module.velmoraAudio;
          return a ? {reported: a.reported, at: a.reportedAt, start: a.starts[1]} : null;
        });
        if (s) samples.push(s);
        if (samples.length === kStallReadings[0]) process.kill(service, "SIGSTOP");
        if (samples.length === kStallReadings[1]) process.kill(service, "SIGCONT");
        await page.waitForTimeout(100);
      }
    } finally {
      process.kill(service, "SIGCONT");
    }
    await backToStart(page);
    const seconds = (Date.now() - clicked) / 1000;
    assert.ok(samples.length > kStallReadings[1], `${samples.length} readings, the stall among them`);
    for (let i = 1; i < samples.length; ++i)
      assert.ok(samples[i].reported >= samples[i - 1].reported, `reading ${i} went back`);
    // Each reading against the context's own time when it was taken: behind it by the output's
    // latency at most, never ahead of what the context has rendered.
    const lags = samples.map((s) => (s.at - s.start) - s.reported);
    console.log(`# clock behind the context's time by ${Math.min(...lags).toFixed(4)} to ${Math.max(...lags).toFixed(4)} s over ${samples.length} readings`);
    assert.ok(Math.min(...lags) >= -0.05, `ahead of the context by ${-Math.min(...lags)} s`);
    assert.ok(Math.max(...lags) - Math.min(...lags) <= 0.1, "the lag is steady within 100 ms");
    const first = samples[0], last = samples[samples.length - 1];
    const rateSeen = (last.reported - first.reported) / (last.at - first.at);
    console.log(`# clock ran at ${rateSeen.toFixed(4)} of the context's speed; run ended ${seconds.toFixed(1)} s after Play, at ${last.reported.toFixed(3)} s`);
    assert.ok(Math.abs(rateSeen - 1) <= 0.03, "the clock runs at the context's speed");
    assert.deepEqual(await startState(page), kStartState);

    // Again, from the start this time, and ended by leaving full screen.
    await page.evaluate(() => { Module.velmoraStartOffset = 0; });
    await page.click("#play");
    await musicPast(page, 0.3);
    assert.ok(await page.evaluate(() => Module.velmoraAudio.reported < 30), "the second run starts at the beginning");
    await page.evaluate(() => document.exitFullscreen());
    await backToStart(page);
    assert.deepEqual(await startState(page), kStartState);
    await page.close();
  });
});

describe("the stills", () => {
  test(`every row matches the desktop's still within ${kMinPsnr} dB`, async () => {
    const {page, consoleLines} = await open("/harness/stills.html", 640, 400);
    await ready(page);
    const failures = [];
    for (const t of kStillTimes) {
      const name = "/run/desktop/still_" + t.toFixed(2).padStart(6, "0") + ".png";
      const psnr = await page.evaluate(({w, h, t, name}) => compareStill(w, h, t, name),
                                       {w: kStillSize[0], h: kStillSize[1], t, name});
      console.log(`# still at ${t} s: ${Number.isFinite(psnr) ? psnr.toFixed(1) : "inf"} dB`);
      if (!(psnr >= kMinPsnr)) failures.push(`${t} s: ${psnr} dB`);
    }
    assert.deepEqual(failures, []);
    assert.deepEqual(consoleLines.error, []);
    await page.close();
  });
});

describe("broken data", () => {
  test("prints the same report lines in the console as the desktop build does", async () => {
    const {page, consoleLines} = await open("/run/broken/index.html", 320, 200);
    await ready(page);
    await page.click("#play");
    await musicPast(page, 0.2);
    await page.keyboard.press("Escape");
    await ready(page);
    const desktop = readFileSync(join(run, "broken-desktop.txt"), "utf8").split("\n").filter((l) => l);
    assert.ok(desktop.length >= 6, "the desktop reports the breaks");
    assert.deepEqual(consoleLines.log, desktop);
    await page.close();
  });
});

// Kept in a block of its own, after the others.
describe("the walkers", () => {
  // The desert's walker starts at x 0.8 of clip space and steps 0.109 to the left each time its
  // 74-frame cycle at 23 frames a second wraps; its frame spans 0.16875 to the right of x.
  const kStart = 0.8, kStep = 0.109, kCycle = 74 / 23, kFrameWidth = 0.16875;
  // The mean clip x of the dark pixels (the figure) standing on the desert floor, from a screenshot.
  async function figureX(page, png) {
    return page.evaluate(async (bytes) => {
      const image = await createImageBitmap(new Blob([new Uint8Array(bytes)], {type: "image/png"}));
      const g = new OffscreenCanvas(image.width, image.height).getContext("2d");
      g.drawImage(image, 0, 0);
      const pictureHeight = Math.round(image.width * 9 / 16), band = (image.height - pictureHeight) / 2;
      const row = (clipY) => Math.round(band + (1 - (clipY + 1) / 2) * pictureHeight);
      // From the figure's head down to just above its soles (the shadow lies below them).
      const top = row(0.02), bottom = row(-0.265);
      const d = g.getImageData(0, top, image.width, bottom - top).data;
      let sum = 0, count = 0;
      for (let i = 0; i < d.length; i += 4)
        if (0.299 * d[i] + 0.587 * d[i + 1] + 0.114 * d[i + 2] < 50) sum += (i / 4) % image.width, ++count;
      return count ? (sum / count + 0.5) / image.width * 2 - 1 : NaN;
    }, [...png]);
  }

  test("a second run in the page shows the desert walker at its start", async () => {
    const {page} = await open("/site/index.html", 640, 400);
    await ready(page);
    // A first run that sees the walker step four times.
    await page.evaluate(() => { Module.velmoraStartOffset = 3; });
    await page.click("#play");
    await musicPast(page, 4 * kCycle + 0.2);
    await page.keyboard.press("Escape");
    await backToStart(page);
    // The second, from the start: the figure is where a walker that starts afresh is.
    await page.evaluate(() => { Module.velmoraStartOffset = 0; });
    await page.click("#play");
    await musicPast(page, 0.5);
    const reported = () => page.evaluate(() => Module.velmoraAudio.reported);
    const from = await reported();
    const x = await figureX(page, await page.screenshot());
    const to = await reported();
    const walkerAt = (t) => kStart - kStep * Math.floor(t / kCycle);
    assert.ok(x >= walkerAt(to) - 0.02 && x <= walkerAt(from) + kFrameWidth + 0.02,
              `the figure stands at clip x ${x.toFixed(3)} between ${from.toFixed(2)} s and ${to.toFixed(2)} s; ` +
              `a walker from its start is at ${walkerAt(to).toFixed(3)} to ${(walkerAt(from) + kFrameWidth).toFixed(3)}`);
    await page.keyboard.press("Escape");
    await backToStart(page);
    await page.close();
  });
});
