// The web build in headless Chromium, served from 127.0.0.1: the page, the run it starts and
// ends, the music clock against Web Audio, the stills against the desktop's, and the reports
// for broken data. tests/web/run.sh prepares what this reads from the environment.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";
import { chromium } from "playwright-core";
import { serve } from "./serve.mjs";

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

let server, origin, context;

before(async () => {
  ({server, origin} = await serve(roots));
  context = await chromium.launchPersistentContext(join(run, "profile"), {
    executablePath: "/usr/bin/chromium", headless: true,
    args: ["--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
           "--enable-precise-memory-info", "--js-flags=--expose-gc"],
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
  // `init`: a function run before the page's own scripts, or [function, its argument].
  if (init) await (Array.isArray(init) ? page.addInitScript(...init) : page.addInitScript(init));
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

// For each box [x0, y0, x1, y1) of a screenshot: its brightest value and mean luminance.
const regions = (page, png, boxes) => page.evaluate(async ({base64, boxes}) => {
  const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  const image = await createImageBitmap(new Blob([bytes], {type: "image/png"}));
  const g = new OffscreenCanvas(image.width, image.height).getContext("2d");
  g.drawImage(image, 0, 0);
  return boxes.map(([x0, y0, x1, y1]) => {
    const d = g.getImageData(x0, y0, x1 - x0, y1 - y0).data;
    let brightest = 0, sum = 0;
    for (let i = 0; i < d.length; i += 4) {
      brightest = Math.max(brightest, d[i], d[i + 1], d[i + 2]);
      sum += 0.299 * d[i] + 0.587 * d[i + 1] + 0.114 * d[i + 2];
    }
    return {brightest, mean: sum / (d.length / 4)};
  });
}, {base64: png.toString("base64"), boxes});

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
    const [top, picture, bottom] = await regions(page, await page.screenshot(),
                                                 [[0, 0, 1920, 60], [0, 60, 1920, 1140], [0, 1140, 1920, 1200]]);
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

// Readings of the music clock while a run plays: each with the context's time and the wall
// clock's when it was taken, and the stream's start on the context's time line.
async function readClock(page, count, every = 100, during = async () => {}) {
  const samples = [];
  while (samples.length < count) {
    const s = await page.evaluate(() => {
      const a = Module.velmoraAudio;
      return a && a.reported !== undefined
        ? {reported: a.reported, at: a.reportedAt, wall: a.reportedWall / 1000, start: a.starts[1],
           latency: (a.context.outputLatency || 0) + (a.context.baseLatency || 0)}
        : null;
    });
    if (s) samples.push(s);
    await during(samples.length);
    await page.waitForTimeout(every);
  }
  return samples;
}
const lagsOf = (samples) => samples.map((s) => (s.at - s.start) - s.reported);
const speed = (a, b, key) => (b.reported - a.reported) / (b[key] - a[key]);
const never_back = (samples) => samples.every((s, i) => i === 0 || s.reported >= samples[i - 1].reported);

// Plays from `offset` in a page made with `init`, reads the clock, and ends the run.
async function playAndRead(init, offset, count) {
  const {page, consoleLines} = await open("/site/index.html", 320, 200, init);
  await ready(page);
  await page.evaluate((t) => { Module.velmoraStartOffset = t; }, offset);
  await page.click("#play");
  await musicPast(page, offset + 0.2);
  const samples = await readClock(page, count);
  const rate = await page.evaluate(() => Module.velmoraAudio.context.sampleRate);
  await page.keyboard.press("Escape");
  await backToStart(page);
  await page.close();
  return {samples, rate, consoleLines};
}

describe("the clock in other engines' ways", () => {
  // What engines here do not do, put into Chromium: Safari 15 to 17's output timestamp (its
  // context time divided by the sample rate), Firefox's (both its times moved back by the
  // output's latency, which it reports), and a context at 44.1 kHz.
  const kLatency = 0.2;
  const kStep = 0.05;  // a generous step of the context's time: engines here step by 3 to 20 ms
  const shims = {
    "Safari 17's timestamp": () => {
      const stamp = AudioContext.prototype.getOutputTimestamp;
      AudioContext.prototype.getOutputTimestamp = function () {
        const s = stamp.call(this);
        return {contextTime: s.contextTime / this.sampleRate, performanceTime: s.performanceTime};
      };
    },
    "Firefox's latency-shifted timestamp": (latency) => {
      Object.defineProperty(AudioContext.prototype, "outputLatency", {get: () => latency});
      AudioContext.prototype.getOutputTimestamp = function () {
        return {contextTime: this.currentTime - latency, performanceTime: performance.now() - 1000 * latency};
      };
    },
    "a context at 44.1 kHz": () => {
      const Real = AudioContext;
      window.AudioContext = class extends Real { constructor(o) { super({...o, sampleRate: 44100}); } };
    },
  };
  for (const [name, shim] of Object.entries(shims)) {
    test(`with ${name} the clock follows what is heard`, async () => {
      const {samples, rate} = await playAndRead(name.startsWith("Firefox") ? [shim, kLatency] : shim, 40, 25);
      assert.ok(never_back(samples), "the readings never go back");
      const lags = lagsOf(samples), first = samples[0], last = samples[samples.length - 1];
      const latency = Math.max(...samples.map((s) => s.latency));
      console.log(`# ${name}: ${rate} Hz, lag behind the context ${Math.min(...lags).toFixed(4)} to ` +
                  `${Math.max(...lags).toFixed(4)} s (reported latency ${latency.toFixed(4)} s), ` +
                  `speed ${speed(first, last, "at").toFixed(4)}`);
      if (name.includes("44.1")) assert.equal(rate, 44100);
      assert.ok(Math.abs(speed(first, last, "at") - 1) <= 0.03, "the clock runs at the context's speed");
      // Behind the context by what it says it buffers. Between the context's steps the clock
      // moves on while the context's time stands, so a reading can be up to a step nearer it.
      const median = [...lags].sort((a, b) => a - b)[lags.length >> 1];
      assert.ok(median >= latency - kStep, `ahead of what is heard by ${(latency - median).toFixed(4)} s`);
      assert.ok(Math.max(...lags) - latency <= 0.1, `behind what is heard by ${Math.max(...lags) - latency} s`);
    });
  }
});

describe("an output that does not run", () => {
  test("a context that never starts leaves the picture to the silent clock, and says so once", async () => {
    // As in a browser with no sound device, or one whose policy keeps the sound from starting.
    const neverRuns = () => {
      const Real = AudioContext;
      window.AudioContext = class extends Real {
        constructor(o) { super(o); super.suspend(); }
        resume() { return Promise.resolve(); }
      };
    };
    const {page, consoleLines} = await open("/site/index.html", 320, 200, neverRuns);
    await ready(page);
    await page.click("#play");
    await musicPast(page, 0.5);
    const samples = await readClock(page, 20);
    await page.keyboard.press("Escape");
    await backToStart(page);
    const lines = consoleLines.info.filter((l) => l.includes("timing with a silent clock"));
    assert.equal(lines.length, 1, lines.join("\n"));
    assert.match(lines[0], /has not run for 2 s \(suspended\)/);
    assert.ok(never_back(samples));
    const rate = speed(samples[0], samples[samples.length - 1], "wall");
    console.log(`# silent clock at ${rate.toFixed(4)} of the wall clock's speed`);
    assert.ok(Math.abs(rate - 1) <= 0.03, "the silent clock runs in real time");
    assert.deepEqual(consoleLines.log, []);
    await page.close();
  });

  test("a context interrupted mid-run neither holds the picture nor leaves the sound behind", async () => {
    const {page, consoleLines} = await open("/site/index.html", 320, 200);
    await ready(page);
    await page.evaluate(() => { Module.velmoraStartOffset = 100; });
    await page.click("#play");
    await musicPast(page, 100.2);
    // Suspended from the 5th reading to the 45th, as a call on a phone would, which no resume
    // ends before its time.
    const samples = await readClock(page, 90, 100, async (n) => {
      if (n === 5) await page.evaluate(() => {
        const c = Module.velmoraAudio.context;
        c.resume = () => Promise.resolve();
        return c.suspend();
      });
      if (n === 45) await page.evaluate(() => {
        const c = Module.velmoraAudio.context;
        delete c.resume;
        return c.resume();
      });
    });
    await page.keyboard.press("Escape");
    await backToStart(page);
    assert.ok(never_back(samples));
    // The picture held still for no longer than the wait for the output, then moved on.
    const held = samples.slice(5, 45);
    let longest = 0;
    for (let i = 0, j = 0; i < held.length; i = j) {
      for (j = i + 1; j < held.length && held[j].reported === held[i].reported; ++j);
      longest = Math.max(longest, held[j - 1].wall - held[i].wall);
    }
    assert.ok(longest <= 2.6, `the picture stood still for ${longest.toFixed(2)} s`);
    assert.ok(held[held.length - 1].reported - held[0].reported >= 1, "the picture moved on while the sound was away");
    // Back on the output, with the sound started where the picture is.
    const after = samples.slice(-20);
    const lags = lagsOf(after), latency = after[0].latency;
    console.log(`# after the interruption: lag behind the context ${Math.min(...lags).toFixed(4)} to ${Math.max(...lags).toFixed(4)} s`);
    assert.ok(Math.max(...lags) - latency <= 0.1 && Math.min(...lags) >= -0.01, "the clock follows the sound again");
    assert.equal(consoleLines.info.filter((l) => l.includes("runs again")).length, 1, consoleLines.info.join("\n"));
    await page.close();
  });
});

describe("a phone", () => {
  let browser;
  before(async () => {
    browser = await chromium.launch({executablePath: "/usr/bin/chromium", headless: true,
                                     args: ["--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader"]});
  });
  after(async () => { await browser?.close(); });

  // The picture's box in a screenshot: bands of black outside it, the picture drawn inside.
  async function assertPictureAt(page, box, what) {
    // The stop button lies over a band; it is not what is measured here.
    const stop = page.locator("#stop");
    await stop.evaluate((b) => { b.style.visibility = "hidden"; });
    const shot = await page.screenshot();
    await stop.evaluate((b) => { b.style.visibility = ""; });
    const [w, h] = await page.evaluate(() => [innerWidth * devicePixelRatio, innerHeight * devicePixelRatio]);
    const bands = [[0, 0, box[0] - 2, h], [box[2] + 2, 0, w, h], [0, 0, w, box[1] - 2], [0, box[3] + 2, w, h]]
      .filter(([x0, y0, x1, y1]) => x1 > x0 && y1 > y0);
    const [inside, ...outside] = await regions(page, shot, [[box[0] + 2, box[1] + 2, box[2] - 2, box[3] - 2], ...bands]);
    assert.ok(inside.brightest >= 60, `${what}: the picture is drawn (brightest ${inside.brightest})`);
    outside.forEach((band, k) => assert.equal(band.brightest, 0, `${what}: black outside the picture at ${bands[k]}`));
  }

  test("without element full screen, a tap plays it at 16:9 in the viewport, turning with the phone, and the stop button ends it", async () => {
    const phone = await browser.newContext({viewport: {width: 844, height: 390}, deviceScaleFactor: 3,
                                            isMobile: true, hasTouch: true});
    const page = await phone.newPage();
    page.setDefaultTimeout(kRunLimit);
    // An iPhone: no element full screen, and what only its engine has: a silent switch that
    // mutes a page's sound unless it asks for playback, and a wake lock (shimmed here to count).
    await page.addInitScript(() => {
      delete Element.prototype.requestFullscreen;
      navigator.audioSession = {type: "auto"};
      window.wakeLocks = {held: 0, taken: 0};
      Object.defineProperty(navigator, "wakeLock", {value: {request: async (type) => {
        if (type === "screen") { ++wakeLocks.held; ++wakeLocks.taken; }
        return {release: async () => { --wakeLocks.held; }};
      }}});
    });
    const errors = [];
    page.on("pageerror", (e) => errors.push(e.message));
    await page.goto(origin + "/site/index.html");
    await ready(page);
    // The meteors, then the mountain and the night: rows with something bright in each, and
    // cheaper to draw at this size than the desert.
    await page.evaluate(() => { Module.velmoraStartOffset = 100; });
    await page.tap("#play");
    await musicPast(page, 100.1);
    // Landscape, wider than 16:9: the drawing buffer takes the picture's shape, between bands.
    assert.deepEqual(await page.evaluate(() => [Module.canvas.width, Module.canvas.height, !!document.fullscreenElement]),
                     [2080, 1170, false]);
    await assertPictureAt(page, [226, 0, 2306, 1170], "landscape");
    assert.deepEqual(await page.evaluate(() => [navigator.audioSession.type, wakeLocks.held]), ["playback", 1],
                     "it plays through the silent switch and keeps the screen on");
    // Turned to portrait mid-run: the same picture, smaller, never stretched.
    await page.setViewportSize({width: 390, height: 844});
    await page.waitForTimeout(500);
    await assertPictureAt(page, [0, 937, 1170, 1595], "turned");
    await page.tap("#stop");
    await backToStart(page);
    // Started in portrait: the demo's own letterbox, bands above and below.
    await page.tap("#play");
    await musicPast(page, 100.1);
    assert.deepEqual(await page.evaluate(() => [Module.canvas.width, Module.canvas.height]), [1170, 2532]);
    await assertPictureAt(page, [0, 937, 1170, 1595], "portrait");
    await page.tap("#stop");
    await backToStart(page);
    assert.deepEqual(await page.evaluate(() => wakeLocks), {held: 0, taken: 2}, "the screen may sleep again");
    assert.deepEqual(errors, []);
    await phone.close();
  });
});

describe("replays and leaving", () => {
  test("three runs, ended by Escape, a hidden tab and leaving full screen, each stop the sound at once and leave nothing behind", async () => {
    // Live textures counted on contexts that are not lost.
    const countTextures = () => {
      const proto = WebGL2RenderingContext.prototype, create = proto.createTexture, remove = proto.deleteTexture;
      const live = new Map();
      proto.createTexture = function () { live.set(this, (live.get(this) || 0) + 1); return create.call(this); };
      proto.deleteTexture = function (t) { if (t) live.set(this, live.get(this) - 1); return remove.call(this, t); };
      window.liveTextures = () => [...live].reduce((n, [gl, k]) => n + (gl.isContextLost() ? 0 : k), 0);
    };
    const {page, consoleLines} = await open("/site/index.html", 320, 200, countTextures);
    await ready(page);
    const ends = {
      "Escape": () => page.keyboard.press("Escape"),
      // The tab hidden: no frame comes again, so the page must end the run itself.
      "a hidden tab": () => page.evaluate(() => {
        Object.defineProperty(document, "hidden", {value: true, configurable: true});
        document.dispatchEvent(new Event("visibilitychange"));
        const stopped = !Module.velmoraAudio && document.body.dataset.state === "ready";
        delete document.hidden;
        return stopped;
      }),
      "leaving full screen": () => page.evaluate(() => document.exitFullscreen()),
    };
    const after = [], kJsHeapLimit = 32 * 2 ** 20;
    for (const [how, end] of Object.entries(ends)) {
      await page.click("#play");
      await musicPast(page, 0.2);
      // While it plays, the JS heap holds its decoded music (72 MiB), not the files too (155 MiB).
      await page.waitForFunction((limit) => { gc(); return performance.memory.usedJSHeapSize < limit; },
                                 kJsHeapLimit + 72 * 2 ** 20, {polling: 500, timeout: kRunLimit});
      const {js, heap, ...during} = await page.evaluate(() => ({
        textures: liveTextures(), files: Module.FS.analyzePath("/data").exists,
        fullscreen: !!document.fullscreenElement, js: performance.memory.usedJSHeapSize, heap: Module.HEAP8.length,
      }));
      console.log(`# run ${after.length + 1} plays with ${(js / 2 ** 20).toFixed(1)} MiB of JS heap and ${heap >> 20} MiB of wasm heap`);
      assert.deepEqual(during, {textures: 87, files: false, fullscreen: true},
                       "a run holds its images, and not the data's files");
      const stoppedAtOnce = await end();
      if (how === "a hidden tab") assert.equal(stoppedAtOnce, true, "the sound stopped in the same task");
      await backToStart(page);
      assert.deepEqual(await startState(page), kStartState, `back to the start after ${how}`);
      // What a run held is let go of as its context closes: the JS heap falls back below what
      // one run's decoded music (72 MiB) or unpacked files (155 MiB) would keep.
      await page.waitForFunction((limit) => { gc(); return performance.memory.usedJSHeapSize < limit; },
                                 kJsHeapLimit, {polling: 500, timeout: kRunLimit});
      after.push(await page.evaluate(() => {
        return {textures: liveTextures(), heap: Module.HEAP8.length, js: performance.memory.usedJSHeapSize};
      }));
    }
    console.log(`# after runs 1, 2, 3: ${after.map((a) => `${a.textures} textures, ${a.heap >> 20} MiB wasm heap, ` +
                `${(a.js / 2 ** 20).toFixed(1)} MiB JS heap`).join("; ")}`);
    assert.deepEqual(after.map((a) => a.textures), [0, 0, 0], "no run's images outlive it");
    assert.equal(after[2].heap, after[0].heap, "the WebAssembly heap does not grow from run to run");
    assert.deepEqual(consoleLines.error, []);
    await page.close();
  });
});

describe("failures", () => {
  const failed = (page) => page.waitForFunction(() => document.body.dataset.state === "failed", null, {timeout: kRunLimit});
  const shown = (page) => page.evaluate(() => ({
    sentence: document.getElementById("status").textContent, way: document.getElementById("again").textContent,
    wayShown: !document.getElementById("again").hidden, fullscreen: !!document.fullscreenElement,
    running: document.body.classList.contains("running"),
  }));

  test("a missing program, missing data or no DecompressionStream end in a sentence and a way back", async () => {
    const cases = [
      ["/run/without-velmora.wasm/index.html", null, /stopped with an error/, "RELOAD"],
      ["/run/without-velmora-data.tar.gz/index.html", null, /data could not be loaded .*HTTP 404/, "TRY AGAIN"],
      ["/site/index.html", () => { delete window.DecompressionStream; }, /DecompressionStream/, null],
    ];
    for (const [url, init, sentence, way] of cases) {
      const {page} = await open(url, 320, 200, init);
      await page.waitForFunction(() => ["failed", "unsupported"].includes(document.body.dataset.state));
      const s = await shown(page);
      assert.match(s.sentence, sentence, url);
      assert.equal(s.wayShown ? s.way : null, way, url);
      await page.close();
    }
  });

  test("an error in a run ends it with a sentence, out of full screen, with the sound stopped", async () => {
    const breakable = () => {
      const draw = WebGL2RenderingContext.prototype.drawArrays;
      WebGL2RenderingContext.prototype.drawArrays = function (...a) {
        if (window.breakDrawing) throw new Error("the GL went away");
        return draw.apply(this, a);
      };
    };
    const {page} = await open("/site/index.html", 320, 200, breakable);
    await ready(page);
    await page.click("#play");
    await musicPast(page, 0.2);
    const context = await page.evaluateHandle(() => Module.velmoraAudio.context);
    await page.evaluate(() => { window.breakDrawing = true; });
    await failed(page);
    await page.waitForFunction(() => !document.fullscreenElement);
    const s = await shown(page);
    assert.match(s.sentence, /stopped with an error .*the GL went away/);
    assert.deepEqual([s.way, s.wayShown, s.fullscreen, s.running], ["RELOAD", true, false, false]);
    await page.waitForFunction((c) => c.state === "closed", context);  // the sound stopped
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
