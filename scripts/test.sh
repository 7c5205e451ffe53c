#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite headless: the release build with its generated
# data, then the tests again built with AddressSanitizer and UndefinedBehaviorSanitizer in a tree
# of their own. Every server it needs it starts itself, on private names, so that two runs on one
# machine, or a desktop session beside it, never meet.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"

run=$(mktemp -d "${TMPDIR:-/tmp}/velmora-test-XXXXXX")
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -f "$run/pulse/pid" ] && kill "$(cat "$run/pulse/pid")" 2>/dev/null
  rm -rf "$run"
  true
}
trap cleanup EXIT

# A sound server of our own with a null sink: the audio layer runs against a real, real-time
# output. Its socket, state and cookie live in this run's directory.
export XDG_RUNTIME_DIR="$run" PULSE_RUNTIME_PATH="$run/pulse" PULSE_STATE_PATH="$run/pulse"
export PULSE_SERVER="unix:$run/pulse/native"
mkdir -p "$run/pulse"
if pulseaudio -D --exit-idle-time=-1 -n --use-pid-file=yes --log-target=stderr \
     --load=module-null-sink --load="module-native-protocol-unix socket=$run/pulse/native auth-anonymous=1" \
     2>/dev/null; then
  echo "test: started a PulseAudio null sink at $PULSE_SERVER" >&2
else
  echo "test: no PulseAudio; the device clock test will be skipped" >&2
fi

# An X server of our own. Servers that take the lowest free display number race when several
# start at once, so each try picks a number of its own from a wide range.
display=""
for _ in $(seq 40); do
  n=$((1000 + RANDOM % 29000))
  : >"$run/display"
  Xvfb ":$n" -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$run/display" 2>/dev/null &
  xvfb_pid=$!
  while kill -0 "$xvfb_pid" 2>/dev/null && [ ! -s "$run/display" ]; do sleep 0.1; done
  if [ -s "$run/display" ]; then display=":$n"; break; fi
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
done
[ -n "$display" ] || { echo "test: Xvfb did not start" >&2; exit 1; }
export DISPLAY="$display"
unset WAYLAND_DISPLAY
echo "test: started Xvfb on $DISPLAY" >&2

echo "test: release build" >&2
(cd "$root/build" && ctest --output-on-failure -j2)

echo "test: sanitizer build (ASan + UBSan)" >&2
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=ON \
  -DVELMORA_GENERATE_DATA=OFF -DVELMORA_RUN_DIR="$root/build-sanitize" -DVELMORA_DATA_FROM="$root/build/data" >&2
cmake --build "$root/build-sanitize" -j"$(nproc)" >&2
# Mesa and the X libraries keep allocations for the life of the process.
(
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  cd "$root/build-sanitize" && ctest --output-on-failure -j2 -LE 'long|fuzz'
)

echo "test: the Windows release under Wine" >&2
"$root/scripts/build-windows.sh"
bash "$root/tests/windows/run.sh"

# What scripts/play.sh starts must still be the release build.
bash "$root/scripts/check-release.sh" "$root/build"
