// What every browser engine must do with the page, written once; each engine's module supplies
// only its driver: launch, goto, evaluate, click, pressEscape, close. The page loads, Play
// plays (the context runs, the picture moves), the clock follows what is heard, Escape returns
// to Play, and further runs start from the beginning without growing memory. Every limit is
// judged against what the page itself saw happen; the only timeouts are generous ones on
// things that must happen at all.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { mkdtempSync } from "node:fs";
import { join } from "node:path";
import { serve } from "../serve.mjs";

const env = (name) => {
  const value = process.env[name];
  if (!value) throw new Error(name + " is not set: run tests/web/run.sh");
  return value;
};
const kWindow = {width: 640, height: 360};
const kMustHappen = 300e3;
// The mountain: one of the cheaper rows to draw, with the sky and the light moving over it.
const kFirstRunOffset = 126;
// Frame advances read from a run, over which the context kept pace with the wall: for the
// clock's lag and the smoothness of its advances.
const kClockFrames = 60;
// The output that never runs is given up after 2 s.
const kStalledOutputSeconds = 2;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
async function waitFor(browser, what, fn, arg) {
  const until = Date.now() + kMustHappen;
  for (;;) {
    const value = await browser.evaluate(fn, arg);
    if (value) return value;
    if (Date.now() > until) throw new Error("never happened: " + what);
    await sleep(100);
  }
}

// In the page, once it is ready and before the first Play. Counts the live textures of every
// WebGL 2 context that has not been lost (a lost context's textures are gone with it), and
// after each frame of a run keeps the clock's reading and, when asked, a coarse picture: the
// mean luminance of a 16x9 grid, read back before the browser presents the frame. Keeps what
// the page writes to the console from then on, where every driver can read it.
function installProbe() {
  const live = new Map();  // context: its textures not yet deleted
  const proto = WebGL2RenderingContext.prototype;
  const create = proto.createTexture, remove = proto.deleteTexture;
  proto.createTexture = function () {
    const texture = create.call(this);
    if (texture) { if (!live.has(this)) live.set(this, new Set()); live.get(this).add(texture); }
    return texture;
  };
  proto.deleteTexture = function (texture) {
    if (live.has(this)) live.get(this).delete(texture);
    return remove.call(this, texture);
  };
  const probe = window.velmoraProbe = {frames: [], pictures: [], console: [], wantPicture: false, textures() {
    let n = 0;
    for (const [context, textures] of live) {
      if (context.isContextLost()) live.delete(context);
      else n += textures.size;
    }
    return n;
  }};
  function picture() {
    const gl = Module.canvas.getContext("webgl2");
    const w = gl.drawingBufferWidth, h = gl.drawingBufferHeight;
    const pixels = new Uint8Array(w * h * 4);
    const read = gl.getParameter(gl.READ_FRAMEBUFFER_BINDING), pack = gl.getParameter(gl.PIXEL_PACK_BUFFER_BINDING);
    gl.bindFramebuffer(gl.READ_FRAMEBUFFER, null);
    gl.bindBuffer(gl.PIXEL_PACK_BUFFER, null);
    gl.readPixels(0, 0, w, h, gl.RGBA, gl.UNSIGNED_BYTE, pixels);
    gl.bindFramebuffer(gl.READ_FRAMEBUFFER, read);
    gl.bindBuffer(gl.PIXEL_PACK_BUFFER, pack);
    const cells = new Array(16 * 9).fill(0);
    for (let y = 0; y < h; ++y)
      for (let x = 0; x < w; ++x) {
        const i = (y * w + x) * 4;
        cells[Math.floor(y * 9 / h) * 16 + Math.floor(x * 16 / w)] +=
          0.299 * pixels[i] + 0.587 * pixels[i + 1] + 0.114 * pixels[i + 2];
      }
    return cells.map((sum) => sum / (w * h / 144));
  }
  function afterFrame() {
    const audio = Module.velmoraAudio;
    if (!Module.velmoraLooping || !audio || audio.reportedWall === undefined) return;
    const last = probe.frames[probe.frames.length - 1];
    if (last && last.wall === audio.reportedWall) return;
    const context = audio.context;
    probe.frames.push({wall: audio.reportedWall, reported: audio.reported, at: audio.reportedAt,
                       start: audio.starts[1], state: context.state,
                       latency: (context.outputLatency || 0) + (context.baseLatency || 0)});
    if (probe.frames.length > 20000) probe.frames.shift();
    if (probe.wantPicture) {
      probe.wantPicture = false;
      probe.pictures.push({reported: audio.reported, cells: picture()});
    }
  }
  for (const type of ["log", "info", "warn", "error"]) {
    const write = console[type];
    console[type] = (...args) => { probe.console.push({type, text: args.join(" ")}); write.apply(console, args); };
  }
  window.addEventListener("error", (e) => probe.console.push({type: "error", text: "page error: " + e.message}));
  const request = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = (callback) => request((time) => { callback(time); afterFrame(); });
  return true;
}

const memory = () => ({textures: velmoraProbe.textures(), wasm: Module.HEAP8.length,
                       js: performance.memory ? performance.memory.usedJSHeapSize : null});
const mib = (bytes) => bytes === null ? "not reported" : (bytes / 1048576).toFixed(1) + " MiB";
const ms = (seconds) => (seconds * 1000).toFixed(1) + " ms";
const quantile = (values, q) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
};
const spread = (errors) => `${ms(quantile(errors, 0.5))} (median), ${ms(quantile(errors, 0.9))} (90%), ` +
                           `${ms(Math.max(...errors))} (most) over ${errors.length} frames`;

// Plays a run from `offset` seconds: clicks Play and waits for the clock's first readings.
// Resolves to the page's wall time at the click.
async function play(browser, offset) {
  const clicked = await browser.evaluate((t) => {
    Module.velmoraStartOffset = t;
    velmoraProbe.frames.length = 0;
    velmoraProbe.pictures.length = 0;
    return performance.now();
  }, offset);
  await browser.click("#play");
  await waitFor(browser, "the run's first frames", () => velmoraProbe.frames.length >= 3);
  return clicked;
}

// Two pictures, two seconds of music apart at least.
async function twoPictures(browser) {
  await browser.evaluate(() => { velmoraProbe.wantPicture = true; });
  const first = await waitFor(browser, "a picture", () => velmoraProbe.pictures[0]);
  await waitFor(browser, "two seconds of music", (t) => Module.velmoraAudio.reported > t, first.reported + 2);
  await browser.evaluate(() => { velmoraProbe.wantPicture = true; });
  return [first, await waitFor(browser, "a second picture", () => velmoraProbe.pictures[1])];
}

// Frames' readings from now on: `count` at least, and where the clock follows the context, as
// many more as it takes for `count` of their advances to be ones over which the context kept
// pace with the wall.
async function clockReadings(browser, count, followsContext) {
  await browser.evaluate(() => { velmoraProbe.frames.length = 0; });
  const until = Date.now() + kMustHappen;
  for (;;) {
    const readings = await browser.evaluate(() => velmoraProbe.frames.slice());
    if (readings.length > count && (!followsContext || clockFigures(readings).paced.length >= count)) return readings;
    if (Date.now() > until) throw new Error(`the context kept pace with the wall over ${clockFigures(readings).paced.length} ` +
                                            `of ${readings.length} frames`);
    await sleep(500);
  }
}

async function escapeToPlay(browser) {
  await browser.pressEscape();
  await waitFor(browser, "the start state",
                () => document.body.dataset.state === "ready" && !document.fullscreenElement && !Module.velmoraLooping);
}

// From one run's frames: how far each reading lags the context's time, beside the output's
// latency as the engine reports it; and how far each frame's advance is from the wall time
// between the same two frames, over every frame and over those where the context's own time
// kept pace with the wall (a context that stalls or catches up stalls or skips the sound too,
// and the clock must follow it there, however busy the machine).
const kKeptPace = 0.003;
// The page's clock and the wall are each read to the millisecond.
const kReadingStep = 0.001;
function clockFigures(readings) {
  const advances = readings.slice(1).map((r, i) => ({
    clock: r.reported - readings[i].reported, context: r.at - readings[i].at, wall: (r.wall - readings[i].wall) / 1000}));
  const error = (a) => Math.abs(a.clock - a.wall);
  return {
    lags: readings.map((r) => (r.at - r.start) - r.reported), latencies: readings.map((r) => r.latency),
    steps: advances.map((a) => a.context).filter((d) => d > 0),
    backwards: advances.filter((a) => a.clock < 0).length,
    errors: advances.map(error),
    paced: advances.filter((a) => Math.abs(a.context - a.wall) <= kKeptPace).map(error),
  };
}

export function describeEngine(engine, {sound = true, label = engine.name, prefs, env: extraEnv = {}} = {}) {
  describe(label, () => {
    let browser, site;
    const memories = [];
    let firstRun = null;
    before(async () => {
      site = await serve({"/site/": env("VELMORA_WEB_SITE")});
      const dir = mkdtempSync(join(env("VELMORA_WEB_RUN"), "engine-"));
      browser = await engine.launch({dir, display: env("VELMORA_ENGINE_DISPLAY"), env: extraEnv, prefs, ...kWindow});
    });
    after(async () => {
      await browser?.close();
      site?.server.close();
    });

    test("loads, and offers Play", async () => {
      const opened = Date.now();
      await browser.goto(site.origin + "/site/index.html");
      await waitFor(browser, "the page ready", () => document.body.dataset.state === "ready");
      console.log(`# ${label}: the page is ready ${((Date.now() - opened) / 1000).toFixed(1)} s after it was opened`);
      assert.equal(await browser.evaluate(() => document.title), "Velmora");
      assert.ok(await browser.evaluate(installProbe));
    });

    test(sound ? "plays: the context runs, the picture moves, and Escape returns to Play"
               : "plays on the silent clock where the context never runs, and Escape returns to Play", async () => {
      await play(browser, kFirstRunOffset);
      if (sound) {
        await waitFor(browser, "the context running", () => Module.velmoraAudio.context.state === "running");
      } else {
        await waitFor(browser, "the silent clock", (s) => performance.now() - velmoraProbe.frames[0].wall > s * 1000 + 500,
                      kStalledOutputSeconds);
      }
      const [first, second] = await twoPictures(browser);
      const brightest = Math.max(...second.cells);
      const moved = first.cells.reduce((sum, v, i) => sum + Math.abs(v - second.cells[i]), 0) / first.cells.length;
      console.log(`# ${label}: pictures at ${first.reported.toFixed(2)} s and ${second.reported.toFixed(2)} s ` +
                  `differ by ${moved.toFixed(2)} levels on average; brightest cell ${brightest.toFixed(0)}`);
      assert.ok(brightest > 40, "the picture is drawn");
      // The same moment draws the same picture to the bit; a clock that stood still would give 0.
      assert.ok(moved > 0.2, "the picture moves");
      firstRun = clockFigures(await clockReadings(browser, kClockFrames, sound));
      const during = await browser.evaluate(() => ({fullscreen: !!document.fullscreenElement, textures: velmoraProbe.textures(),
                                                     context: Module.velmoraAudio.context.state}));
      firstRun.textures = during.textures;
      assert.equal(during.fullscreen, true, "the run is in full screen");
      if (!sound) assert.notEqual(during.context, "running", "without a sound server the context never runs");
      await escapeToPlay(browser);
      memories.push(await browser.evaluate(memory));
      const lines = await browser.evaluate(() => velmoraProbe.console);
      assert.deepEqual(lines.filter((l) => l.type !== "info"), [], "no error, and nothing on the demo's standard output");
      const silent = lines.filter((l) => /^audio: .*silent clock/.test(l.text));
      if (sound) assert.deepEqual(silent, [], "the output is never given up");
      else assert.equal(silent.length, 1, "one line says the output was given up: " + JSON.stringify(lines));
    });

    test(sound ? "the clock lags the context by the output's latency, and never goes back"
               : "the silent clock advances with the wall, frame by frame", () => {
      assert.ok(firstRun, "the run was read");
      const {lags, latencies, steps, errors, backwards} = firstRun;
      console.log(`# ${label}: frame advances differ from the wall time between them by ${spread(errors)}`);
      assert.equal(backwards, 0, "the clock never goes back");
      if (!sound) {
        assert.ok(Math.max(...errors) <= 2 * kReadingStep, "every frame advances by the wall time");
        return;
      }
      // The context's time moves in steps (a render callback, or a burst of several) while what
      // is heard moves on steadily, so between steps the clock comes nearer the context's time
      // by up to a step: behind it by the latency the engine reports, and at most one step more.
      const lag = quantile(lags, 0.5), latency = quantile(latencies, 0.5), step = quantile(steps, 0.9);
      console.log(`# ${label}: the clock lags the context's time by ${ms(lag)} (${ms(Math.min(...lags))} to ` +
                  `${ms(Math.max(...lags))}); the engine reports ${ms(latency)} of latency, and its time ` +
                  `moves from frame to frame by up to ${ms(step)} (90%)`);
      assert.ok(Math.min(...lags) >= -kReadingStep, "never ahead of what the context has rendered");
      assert.ok(lag >= latency - 5 * kReadingStep && lag <= latency + step + 5 * kReadingStep,
                "behind the context by what the engine says the output holds");
    });

    if (sound) test("where the context keeps pace with the wall from frame to frame, so does the clock", () => {
      assert.ok(firstRun, "the run was read");
      const {paced} = firstRun;
      console.log(`# ${label}: where the context kept pace with the wall, by ${spread(paced)}`);
      // A clock that follows the context there, or the wall, is within this by itself.
      const limit = kKeptPace + 2 * kReadingStep;
      const off = paced.filter((e) => e > limit);
      assert.ok(off.length <= paced.length / 50,
                `${off.length} of ${paced.length} such frames advance by more or less than the wall time, ` +
                `by ${off.map(ms).join(", ")}: more than ${ms(limit)}`);
    });

    if (sound) test("a second and a third run start from the beginning without growing memory", async () => {
      for (let n = 2; n <= 3; ++n) {
        const clicked = await play(browser, 0);
        const [first] = await browser.evaluate(() => velmoraProbe.frames);
        assert.ok(first.reported <= (first.wall - clicked) / 1000,
                  `run ${n} starts at the beginning: ${first.reported} s heard ${(first.wall - clicked) / 1000} s after Play`);
        await waitFor(browser, "the context running", () => Module.velmoraAudio.context.state === "running");
        await escapeToPlay(browser);
        memories.push(await browser.evaluate(memory));
      }
      console.log(`# ${label}: ${firstRun?.textures} live textures during a run`);
      memories.forEach((m, i) => console.log(`# ${label}: after run ${i + 1}: ${m.textures} live textures, ` +
                                             `wasm heap ${mib(m.wasm)}, JS heap ${mib(m.js)}`));
      assert.ok(firstRun?.textures > 0, "a run's textures are counted");
      assert.deepEqual(memories.map((m) => m.textures), [0, 0, 0], "no texture outlives its run");
      assert.equal(memories[2].wasm, memories[1].wasm, "the wasm heap does not grow from run to run");
      if (memories[0].js !== null) assert.ok(memories[2].js <= memories[0].js * 1.1, "the JS heap does not grow from run to run");
    });
  });
}
