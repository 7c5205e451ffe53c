#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite headless: the release build with its generated
# data, then the tests again built with AddressSanitizer and UndefinedBehaviorSanitizer in a tree
# of their own, the Windows release under Wine and the web build in headless Chromium. Every
# server it needs it starts itself, on private names, so that two runs on one machine, or a
# desktop session beside it, never meet.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/servers.sh"
source "$root/scripts/skips.sh"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"

run=$(mktemp -d "${TMPDIR:-/tmp}/velmora-test-XXXXXX")
xvfb_pid=""
# Every skipped test of every suite, with its reason: the run's last lines, whatever its outcome.
skips="$run/skips"
: >"$skips"
report_skips() {
  if [ -s "$skips" ]; then
    echo "test: skipped, with their reasons:"
    sed 's/^/test:   /' "$skips"
  else
    echo "test: no test was skipped"
  fi
}
# A background job and everything it started.
kill_tree() {
  local child
  for child in $(pgrep -P "$1"); do kill_tree "$child"; done
  kill "$1" 2>/dev/null
}
web_build="" web_tests=""
cleanup() {
  for job in $web_build $web_tests; do kill_tree "$job"; done
  report_skips
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -f "$run/pulse/pid" ] && kill "$(cat "$run/pulse/pid")" 2>/dev/null
  rm -rf "$run"
  true
}
trap cleanup EXIT

# The web build compiles beside the desktop suites; its tests run beside the Windows ones.
"$root/scripts/build-web.sh" --native-built >"$run/build-web.log" 2>&1 &
web_build=$!

# A sound server of our own with a null sink: the audio layer and the demo run against a real,
# real-time output. Its socket, state and cookie live in this run's directory, and the tests
# that need it fail without it rather than skip.
start_pulse "$run" || { echo "test: PulseAudio did not start" >&2; exit 1; }
echo "test: started a PulseAudio null sink in $run/pulse" >&2
export "${pulse_env[@]}"

# An X server of our own.
start_xvfb "$run" 1920x1080 || { echo "test: Xvfb did not start" >&2; exit 1; }
export DISPLAY="$xvfb_display"
unset WAYLAND_DISPLAY
echo "test: started Xvfb on $DISPLAY" >&2

echo "test: release build" >&2
status=0
(cd "$root/build" && ctest --output-on-failure -j2 --output-junit "$run/release.xml") || status=$?
skips_from_junit "$run/release.xml" release "$skips"
[ $status = 0 ]

echo "test: sanitizer build (ASan + UBSan)" >&2
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=ON \
  -DVELMORA_GENERATE_DATA=OFF -DVELMORA_RUN_DIR="$root/build-sanitize" -DVELMORA_DATA_FROM="$root/build/data" >&2
cmake --build "$root/build-sanitize" -j"$(nproc)" >&2
# Mesa and the X libraries keep allocations for the life of the process.
(
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  cd "$root/build-sanitize" && ctest --output-on-failure -j2 -LE 'long|fuzz' --output-junit "$run/sanitize.xml"
) || status=$?
skips_from_junit "$run/sanitize.xml" sanitizers "$skips"
[ $status = 0 ]

wait "$web_build" || status=$?
web_build=""
tail -n 1 "$run/build-web.log" >&2
[ $status = 0 ] || { echo "test: the web build failed:" >&2; tail -n 40 "$run/build-web.log" >&2; exit 1; }
echo "test: the web build in headless Chromium, beside the Windows release under Wine" >&2
bash "$root/tests/web/run.sh" >"$run/web.log" 2>&1 &
web_tests=$!

"$root/scripts/build-windows.sh"
VELMORA_SKIPS="$skips" bash "$root/tests/windows/run.sh" || status=$?
wait "$web_tests" || status=$?
web_tests=""
echo "test: the web build in headless Chromium:" >&2
cat "$run/web.log" >&2
[ $status = 0 ]

# What scripts/play.sh starts must still be the release build.
bash "$root/scripts/check-release.sh" "$root/build"
