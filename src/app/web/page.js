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
let entering = Promise.resolve();  // the last full-screen request, until it settles

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
    // A run that ends at once ends before its full-screen request has been granted.
    entering.then(() => { if (document.fullscreenElement) document.exitFullscreen().catch(() => {}); });
    showReady();
  },
};

async function loadData() {
  await loadDataPackage(kDataPackage, Module.FS, (fraction) => { fill.style.width = 100 * fraction + "%"; });
  fill.style.width = "100%";
  showReady();
}

// The start state: Play offered, whether the data has just loaded or a run has ended.
function showReady() {
  status.textContent = "";
  play.disabled = false;
  play.focus();
  document.body.dataset.state = "ready";
}

play.addEventListener("click", () => {
  if (running) return;
  running = true;
  document.body.dataset.state = "running";
  play.disabled = true;
  // Both belong to this click: full screen for the canvas, and the sound the run opens.
  entering = canvas.requestFullscreen().catch(() => {});
  document.body.classList.add("running");
  canvas.focus();
  Module._main(0, 0);
  // A run that found no window or no GL has already shut down.
  if (!Module.velmoraLooping) Module.onRunEnded();
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
