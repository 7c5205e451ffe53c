// The page around the demo: it loads the data with a progress bar and starts a run on Play. The
// click opens the sound first (some engines start sound only on a click that nothing else has
// used, and full screen uses it), then asks for full screen, and the run starts once the canvas
// has its final size. Where there is no element full screen (a phone) the run fills the viewport
// and a button ends it. Leaving full screen, hiding the tab, Escape and the end of the music each
// end a run; every failure ends in a sentence on the page and a way back.
"use strict";

const kDataPackage = "velmora-data.tar.gz";
const kProgram = "velmora.js";

const stage = document.getElementById("stage");
const play = document.getElementById("play");
const again = document.getElementById("again");
const stop = document.getElementById("stop");
const status = document.getElementById("status");
const fill = document.getElementById("fill");

const data = {paths: null, bytes: null};  // the unpacked files, while there are any, and the package
let running = false;
let fullscreen = false;                   // whether this run went full screen
let entering = Promise.resolve();         // the last full-screen request, until it settles
let wakeLock = null;
let sound = null;                         // the run's AudioContext, as the page opened it
let runtimeDead = false;                  // the program aborted: only a reload can run it again

// The demo's standard output carries only its fixed failure lines; the console is where a
// browser shows them. Its diagnostics (standard error) go there too, as information.
var Module = {
  canvas: document.getElementById("canvas"),
  print: (text) => console.log(text),
  printErr: (text) => console.info(text),
  onRuntimeInitialized: () => loadData(),
  onAbort: (what) => {
    runtimeDead = true;
    fail("The demo stopped with an error (" + what + ").", "reload");
  },
  onRunEnded: () => {
    if (!running) return;
    finishRun();
    showReady();
  },
};

function loadData() {
  status.textContent = "Loading\u2026";
  loadDataPackage(kDataPackage, Module.FS, (fraction) => { fill.style.width = 100 * fraction + "%"; })
    .then((loaded) => {
      data.paths = loaded.paths;
      data.bytes = loaded.bytes;
      fill.style.width = "100%";
      showReady();
    })
    .catch((e) => {
      console.error("velmora: loading data: " + e.message);
      fail("The demo's data could not be loaded (" + e.message + ").", "retry");
    });
}

// The files for a run: those of the first download, or unpacked again from the kept package.
async function dataForRun() {
  if (!data.paths) data.paths = await unpackDataPackage(data.bytes.stream(), Module.FS);
}

// Once a run has read the files, its textures and its decoded music hold what it needs.
function dropData() {
  if (!data.paths) return;
  removeDataPackage(Module.FS, data.paths);
  data.paths = null;
}

// The start state: Play offered, whether the data has just loaded or a run has ended.
function showReady() {
  status.textContent = "";
  again.hidden = true;
  play.hidden = false;
  play.disabled = false;
  play.focus();
  document.body.dataset.state = "ready";
}

// A failure: a sentence, and a way back that can work ("retry" the data, "reload" the page).
function fail(sentence, way) {
  if (running) finishRun();
  status.textContent = sentence;
  play.hidden = true;
  again.hidden = false;
  again.textContent = way === "retry" ? "TRY AGAIN" : "RELOAD";
  again.onclick = way === "retry" ? () => { again.hidden = true; loadData(); } : () => location.reload();
  document.body.dataset.state = "failed";
}

// The sound for a run, opened inside the click before anything else uses it. The audio layer
// takes it from here; without Web Audio the run keeps time with its silent clock.
function openSound() {
  const Context = window.AudioContext || window.webkitAudioContext;
  if (!Context) return;
  try {
    sound = new Context({latencyHint: "interactive"});
    sound.resume().catch(() => {});
    Module.velmoraAudioContext = sound;
  } catch (e) {
    console.info("velmora: no AudioContext: " + e.message);
  }
  // A phone's silent switch mutes "ambient" sound, which is what a page gets by default.
  if (navigator.audioSession) navigator.audioSession.type = "playback";
}

function holdScreenOn() {
  if (!navigator.wakeLock) return;
  navigator.wakeLock.request("screen").then((lock) => {
    if (running) wakeLock = lock;
    else lock.release().catch(() => {});
  }).catch(() => {});
}

// Full screen for the stage where the browser has it; false where it has none or refuses.
function enterFullScreen() {
  if (!stage.requestFullscreen) return Promise.resolve(false);
  try {
    return stage.requestFullscreen().then(() => true, () => false);
  } catch (e) {
    return Promise.resolve(false);
  }
}

const nextFrame = () => new Promise((resolve) => requestAnimationFrame(() => resolve()));

play.addEventListener("click", async () => {
  if (running || runtimeDead) return;
  running = true;
  document.body.dataset.state = "starting";
  play.disabled = true;
  openSound();
  holdScreenOn();
  entering = enterFullScreen();
  document.body.classList.add("running");
  try {
    const [full] = await Promise.all([entering, dataForRun()]);
    fullscreen = full && !!document.fullscreenElement;
    document.body.classList.toggle("viewport", !fullscreen);
    // The canvas's size is final once the page has been laid out at it.
    await nextFrame();
    await nextFrame();
    if (!running) return;  // ended while it was starting
    document.body.dataset.state = "running";
    Module.canvas.focus();
    Module._main(0, 0);
    dropData();
    // A run that found no window or no GL has already shut down.
    if (!Module.velmoraLooping) Module.onRunEnded();
  } catch (e) {
    if (runtimeDead) return;
    console.error("velmora: the run failed: " + (e && e.message || e));
    runtimeDead = true;
    fail("The demo stopped with an error (" + (e && e.message || e) + ").", "reload");
  }
});

// Ends the run now, from the page: the music stops at once, not at the next frame, which a
// hidden tab never gets.
function endRun() {
  if (!running) return;
  if (Module.velmoraLooping) Module._velmoraRequestClose();
  else { finishRun(); showReady(); }
}

// What every end of a run undoes, whatever ended it: the sound, full screen, the wake lock and
// the canvas, whose context goes with the run and whose place a fresh one takes.
function finishRun() {
  running = false;
  document.body.classList.remove("running", "viewport");
  // The audio layer has closed it already, unless the run failed or never took it.
  delete Module.velmoraAudioContext;
  if (sound && sound.state !== "closed") sound.close().catch(() => {});
  sound = null;
  if (wakeLock) wakeLock.release().catch(() => {});
  wakeLock = null;
  entering.then(() => { if (document.fullscreenElement) document.exitFullscreen().catch(() => {}); });
  const used = Module.canvas;
  const fresh = used.cloneNode(false);
  used.replaceWith(fresh);
  Module.canvas = fresh;
}

// Browsers take Escape to leave full screen; leaving it ends the run, as Escape does.
document.addEventListener("fullscreenchange", () => {
  if (!document.fullscreenElement && running && fullscreen) endRun();
});
document.addEventListener("visibilitychange", () => {
  if (document.hidden) endRun();
});
stop.addEventListener("click", endRun);

// What the browser could not run.
window.addEventListener("error", (event) => {
  if (runtimeDead) return;
  if (event.target && event.target.tagName === "SCRIPT") {
    fail("The demo's program could not be loaded (" + event.target.src + ").", "reload");
  } else if (running) {
    runtimeDead = true;
    fail("The demo stopped with an error (" + event.message + ").", "reload");
  }
}, true);

if (!document.createElement("canvas").getContext("webgl2")) {
  status.textContent = "Velmora needs WebGL 2, which this browser does not offer. " +
                       "A current Firefox, Chrome, Edge or Safari has it.";
  fill.parentNode.style.display = "none";
  document.body.dataset.state = "unsupported";
} else if (typeof DecompressionStream === "undefined") {
  status.textContent = "Velmora needs a browser that can unpack its data (DecompressionStream), " +
                       "which this one cannot. A current Firefox, Chrome, Edge or Safari can.";
  fill.parentNode.style.display = "none";
  document.body.dataset.state = "unsupported";
} else {
  const script = document.createElement("script");
  script.src = kProgram;
  document.body.appendChild(script);
}
