// The page in the browser engines beside Chromium, each through its own driver, with the test
// command's sound server and, once more in Firefox, with none.
import { join } from "node:path";
import { describeEngine } from "./engines/body.mjs";
import * as firefox from "./engines/firefox.mjs";
import * as webkit from "./engines/webkit.mjs";

describeEngine(firefox);
// A sound server that is not there, and no other way out: the output never runs.
describeEngine(firefox, {sound: false, label: "Firefox without a sound server",
                         env: {PULSE_SERVER: "unix:" + join(process.env.VELMORA_WEB_RUN || "", "no-sound-server")},
                         prefs: {"media.cubeb.backend": "pulse"}});
describeEngine(webkit);
