// Firefox ESR, driven over WebDriver BiDi by puppeteer-core. Its WebGL 2 needs a real X display,
// and it grants full screen only to a window with the input focus, which nothing gives a window
// on a bare X server but a click of the pointer: so one click on the blank window first.
import { execFileSync } from "node:child_process";
import { join } from "node:path";
import puppeteer from "puppeteer-core";

export const name = "Firefox";
const kCallLimit = 120e3;

export async function launch({dir, display, env, width, height, prefs = {}}) {
  const browser = await puppeteer.launch({
    browser: "firefox", protocol: "webDriverBiDi", executablePath: "/usr/bin/firefox-esr",
    headless: false, userDataDir: join(dir, "profile"),
    args: ["--width=" + width, "--height=" + height],
    env: {...process.env, ...env, DISPLAY: display, HOME: dir, XDG_CACHE_HOME: join(dir, "cache")},
    // Mesa's llvmpipe is on Firefox's block list; full screen takes the window, which on an
    // X server with no window manager stays the size it was opened at. WebGL is drawn in the
    // page's own process: handed to the GPU process, a run now and then hung the page for good.
    extraPrefsFirefox: {"webgl.force-enabled": true, "full-screen-api.ignore-widgets": true, "webgl.out-of-process": false, ...prefs},
    // A call that never answers fails the test rather than holding the run for good.
    protocolTimeout: kCallLimit,
  });
  const page = (await browser.pages())[0] || await browser.newPage();
  page.setDefaultTimeout(kCallLimit);
  const xdotool = (...args) => execFileSync("xdotool", args, {env: {...process.env, DISPLAY: display}}).toString();
  const [window] = xdotool("search", "--sync", "--onlyvisible", "--pid", String(browser.process().pid)).split("\n");
  xdotool("windowfocus", "--sync", window);
  xdotool("mousemove", "--window", window, String(width >> 1), String(height >> 1), "click", "1");
  return {
    goto: (url) => page.goto(url),
    // A call that fails says which it was.
    evaluate: (fn, arg) => page.evaluate(fn, arg).catch((e) => { e.message += " in " + String(fn).slice(0, 120); throw e; }),
    click: (selector) => page.click(selector),
    pressEscape: () => page.keyboard.press("Escape"),
    close: () => browser.close(),
  };
}
