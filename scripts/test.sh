#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite headless: the release build with its generated
# data, then the tests again built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"

xvfb_pid=""
pulse=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$pulse" ] && pulseaudio -k 2>/dev/null
  true
}
trap cleanup EXIT
# A sound server with a null sink gives the audio layer a real, real-time output to run against.
if ! pulseaudio --check 2>/dev/null; then
  if pulseaudio -D --exit-idle-time=-1 -n --load=module-null-sink --load=module-native-protocol-unix 2>/dev/null; then
    pulse=1
  fi
fi
if [ -z "${DISPLAY:-}" ]; then
  numfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$numfile" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$numfile" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$numfile")"
  rm -f "$numfile"
  echo "test: started Xvfb on $DISPLAY" >&2
fi

echo "test: release build" >&2
(cd "$root/build" && ctest --output-on-failure -j2)

echo "test: sanitizer build (ASan + UBSan)" >&2
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=ON \
  -DVELMORA_GENERATE_DATA=OFF -DVELMORA_RUN_DIR="$root/build" >&2
cmake --build "$root/build-sanitize" -j"$(nproc)" >&2
# Mesa and the X libraries keep allocations for the life of the process.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$root/build-sanitize" && ctest --output-on-failure -j2 -LE 'long|fuzz')
