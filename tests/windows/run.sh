#!/usr/bin/env bash
# The Windows release under Wine: the zip as a user unpacks it, and the portable GoogleTest suites
# cross-built beside it. Every case has its own Xvfb and its own Wine prefix, made while that
# display runs (a prefix made without one sees no monitor), in this run's own directory; sound
# comes from a PulseAudio null sink of our own. Needs scripts/build-windows.sh to have run.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/servers.sh"
source "$root/scripts/skips.sh"
out="$root/build-win64"
zip="$out/velmora-win64.zip"
[ -f "$zip" ] || { echo "wine-test: $zip missing: run scripts/build-windows.sh" >&2; exit 1; }
im() { command -v "$1-im6.q16" || command -v "$1"; }
IMPORT=$(im import) CONVERT=$(im convert)

run=$(mktemp -d "${TMPDIR:-/tmp}/velmora-wine-XXXXXX")
cleanup() {
  for d in "$run"/*/; do
    [ -d "$d/prefix" ] && WINEPREFIX="$d/prefix" wineserver -k 2>/dev/null
    [ -f "$d/xvfb.pid" ] && kill "$(cat "$d/xvfb.pid")" 2>/dev/null
    [ -f "$d/pulse/pid" ] && kill "$(cat "$d/pulse/pid")" 2>/dev/null
  done
  [ -f "$run/pulse/pid" ] && kill "$(cat "$run/pulse/pid")" 2>/dev/null
  rm -rf "$run"
  true
}
trap cleanup EXIT

passed=0 failed=0
ok() { echo "wine-test: PASS $*" >&2; passed=$((passed + 1)); }
bad() { echo "wine-test: FAIL $*" >&2; failed=$((failed + 1)); }

# Generous limits on things that must happen; nothing is timed against the machine's pace.
start_limit=300 end_limit=120

unzip -q "$zip" -d "$run/zip"
app="$run/zip/velmora-win64"
cc -o "$run/xclose" "$root/tests/windows/xclose.c" -lX11

# Our own sound server, for the cases that want one: without it they fail.
start_pulse "$run" || bad "PulseAudio did not start: the sound-device cases cannot pass"
# No sound server at all: a socket that is not there, and no autospawn.
printf 'autospawn = no\n' >"$run/no-pulse.conf"
no_pulse_env=(PULSE_SERVER="unix:$run/no-pulse-socket" PULSE_CLIENTCONFIG="$run/no-pulse.conf")

# new_case NAME WxH: a directory, an X server and a Wine prefix of the case's own. Sets $case.
new_case() {
  case=$(mktemp -d "$run/$1-XXXXXX")
  start_xvfb "$case" "$2" || { bad "$1: Xvfb did not start"; return 1; }
  echo "$xvfb_pid" >"$case/xvfb.pid"
  export DISPLAY="$xvfb_display" WINEPREFIX="$case/prefix" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="  # no .NET or HTML engine installers
  env "${no_pulse_env[@]}" wineboot -i >/dev/null 2>&1
  wineserver -w
}
end_case() {
  wineserver -k 2>/dev/null
  kill "$(cat "$case/xvfb.pid")" 2>/dev/null
  rm -f "$case/xvfb.pid"
}

# The demo's top-level window on this case's display, waiting for it to be mapped.
find_window() {
  local w
  for _ in $(seq $((start_limit * 2))); do
    w=$(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | head -n1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.5
  done
  return 1
}
# wait_exit PID: its exit status, or 124 if it has not ended within the limit (it is then killed).
wait_exit() {
  for _ in $(seq $((end_limit * 5))); do
    kill -0 "$1" 2>/dev/null || { wait "$1"; return $?; }
    sleep 0.2
  done
  kill -9 "$1" 2>/dev/null
  return 124
}
# start_demo DIR [ENV...]: velmora.exe from DIR, as Explorer starts it (working directory = its folder).
start_demo() {
  local dir=$1
  shift
  (cd "$dir" && exec env "$@" wine velmora.exe >"$case/stdout" 2>"$case/stderr") &
  demo=$!
}
# Brightest channel value (0-255) in a region WxH+X+Y of a screenshot.
brightest() { "$CONVERT" "$1" -crop "$2" +repage -format '%[fx:int(255*maxima)]' info:; }

# 1. Full-screen at the screen's size on a 16:10 screen: black bands above and below the 16:9
#    picture; no sound server, so the silent clock; Escape ends it with status 0 and no output.
if new_case letterbox 1920x1200; then
  start_demo "$app" "${no_pulse_env[@]}"
  if w=$(find_window "$demo"); then
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$X,$Y,$WIDTH,$HEIGHT" = "0,0,1920,1200" ] && ok "full-screen window at the screen's size" ||
      bad "window at $X,$Y ${WIDTH}x$HEIGHT, not 0,0 1920x1200"
    # Wait for a picture between the bands, then look at the bands on the same screenshot.
    shown=0
    for _ in $(seq $((start_limit / 2))); do
      "$IMPORT" -window root "$case/shot.png" 2>/dev/null
      [ "$(brightest "$case/shot.png" 1920x1080+0+60)" -gt 40 ] 2>/dev/null && { shown=1; break; }
      sleep 2
    done
    if [ $shown = 1 ]; then
      top=$(brightest "$case/shot.png" 1920x60+0+0) bottom=$(brightest "$case/shot.png" 1920x60+0+1140)
      [ "$top" = 0 ] && [ "$bottom" = 0 ] && ok "black bands above and below the picture" ||
        bad "bands not black (top $top, bottom $bottom)"
    else
      bad "no picture between the bands"
    fi
    xdotool key Escape
    wait_exit "$demo"
    status=$?
    [ $status = 0 ] && [ ! -s "$case/stdout" ] && ok "Escape ends it: status 0, nothing on stdout" ||
      bad "Escape: status $status, stdout: $(head -c 300 "$case/stdout")"
    grep -q 'silent clock' "$case/stderr" && ok "no sound server: the silent clock, said on stderr" ||
      bad "no silent-clock line on stderr: $(grep audio "$case/stderr")"
  else
    bad "no window; stderr: $(tail -n 5 "$case/stderr")"
  fi
  end_case
fi

# 2. A close request ends it; with the null sink it plays through the shared-mode audio engine (WASAPI).
if new_case close 1280x720; then
  start_demo "$app" "${pulse_env[@]}"
  if w=$(find_window "$demo"); then
    "$run/xclose" "$w"
    wait_exit "$demo"
    status=$?
    [ $status = 0 ] && [ ! -s "$case/stdout" ] && ok "a close request ends it: status 0, nothing on stdout" ||
      bad "close request: status $status, stdout: $(head -c 300 "$case/stdout"), stderr: $(tail -n 5 "$case/stderr")"
    grep -q '^audio: wasapi, ' "$case/stderr" && ok "sound through the WASAPI output: $(grep '^audio:' "$case/stderr")" ||
      bad "no wasapi line on stderr: $(grep audio "$case/stderr")"
  else
    bad "no window; stderr: $(tail -n 5 "$case/stderr")"
  fi
  end_case
fi

# 2b. The sound server dies mid-run: the WASAPI output says the sound stopped, the picture keeps
#     moving on the clock, which carries on without it, and Escape still ends it with status 0.
if new_case server-gone 640x360; then
  run_pulse_env=("${pulse_env[@]}")
  if start_pulse "$case"; then
    start_demo "$app" "${pulse_env[@]}"
    if find_window "$demo" >/dev/null; then
      for _ in $(seq $((start_limit * 2))); do grep -q '^audio: wasapi, ' "$case/stderr" && break; sleep 0.5; done
      sleep 3
      kill "$(cat "$case/pulse/pid")"
      for _ in $(seq 60); do grep -q 'the sound output stopped' "$case/stderr" && break; sleep 0.5; done
      if grep -q 'the sound output stopped' "$case/stderr"; then
        ok "sound server gone: said on stderr: $(tr -d '\r' <"$case/stderr" | grep 'sound output stopped')"
      else
        bad "sound server gone: nothing said: $(grep audio "$case/stderr")"
      fi
      "$IMPORT" -window root "$case/a.png" 2>/dev/null
      sleep 2
      "$IMPORT" -window root "$case/b.png" 2>/dev/null
      moved=$("$CONVERT" "$case/a.png" "$case/b.png" -compose difference -composite -format '%[fx:int(255*maxima)]' info: 2>/dev/null)
      [ "${moved:-0}" -gt 0 ] 2>/dev/null && ok "sound server gone: the picture still moves" ||
        bad "sound server gone: the picture stands still"
      xdotool key Escape
      wait_exit "$demo"
      status=$?
      [ $status = 0 ] && [ ! -s "$case/stdout" ] && ok "sound server gone: Escape ends it: status 0, nothing on stdout" ||
        bad "sound server gone: status $status, stdout: $(head -c 300 "$case/stdout")"
    else
      bad "sound server gone: no window; stderr: $(tail -n 5 "$case/stderr")"
    fi
  else
    bad "sound server gone: its PulseAudio did not start"
  fi
  pulse_env=("${run_pulse_env[@]}")
  end_case
fi

# 3. A copy with broken and missing files: the same report lines as the Linux build prints for
#    the same copy (Windows writes \ between path parts and CR LF line ends), and it carries on.
break_data() {
  local d=$1/data
  rm "$d/textures/title.tga"
  head -c 30 "$d/walk/out5.tga" >"$d/walk/out5.tga.part" && mv "$d/walk/out5.tga.part" "$d/walk/out5.tga"
  printf 'this is not GLSL\n' >"$d/shaders/meteor.fs"
  rm "$d/shaders/sprite.vs"
}
if new_case broken 640x360; then
  mkdir -p "$case/win" "$case/linux"
  cp -r "$app/." "$case/win/"
  break_data "$case/win"
  cp -r "$case/win/data" "$case/linux/data"
  start_demo "$case/win" "${no_pulse_env[@]}"
  if find_window "$demo" >/dev/null; then
    xdotool key Escape
    wait_exit "$demo"
    status=$?
    [ $status = 0 ] && ok "broken copy: carries on to the window, status 0 on Escape" || bad "broken copy: status $status"
  else
    bad "broken copy: no window; stderr: $(tail -n 5 "$case/stderr")"
  fi
  mv "$case/stdout" "$case/win.stdout"
  # The Linux build on the same broken copy, on the same display.
  (cd "$case/linux" && exec env "${no_pulse_env[@]}" SDL_AUDIODRIVER=dummy "$root/build/velmora" >"$case/stdout" 2>"$case/stderr") &
  demo=$!
  if find_window "$demo" >/dev/null; then xdotool key Escape; fi
  wait_exit "$demo"
  tr -d '\r' <"$case/win.stdout" | tr '\\' '/' >"$case/win.lines"
  if [ -s "$case/stdout" ] && cmp -s "$case/stdout" "$case/win.lines"; then
    ok "broken copy: the same $(grep -c 'error' "$case/stdout") report lines as the Linux build"
  else
    bad "broken copy: reports differ from the Linux build's"
    diff "$case/stdout" "$case/win.lines" | head -n 20 >&2
  fi
  end_case
fi

# 4. The portable GoogleTest suites, cross-built, through ctest with Wine as the emulator, one at a
#    time. Wine draws only what lies on its screen, so the screen holds the largest test window. A
#    suite that hangs (a crash can leave Wine's debugger waiting) fails after a generous limit.
if new_case gtest 1920x1200; then
  # The test executables find libmpg123.dll where the cross build left it.
  export WINEPATH
  WINEPATH=$(winepath -w "$(cat "$out/deps-prefix")/bin" 2>/dev/null)
  suites_ok=0
  (cd "$out/tree" && env "${pulse_env[@]}" ctest -V -j1 --timeout 900 >"$case/ctest.log" 2>&1) && suites_ok=1
  [ -n "${VELMORA_SKIPS:-}" ] && skips_from_log "$case/ctest.log" wine "$VELMORA_SKIPS"
  if [ $suites_ok = 1 ]; then
    ok "GoogleTest suites under Wine: $(grep -E 'tests passed' "$case/ctest.log")"
    sed -n 's/^[0-9]*: \(device clock: .*\)/wine-test:   \1/p' "$case/ctest.log" >&2
  else
    bad "GoogleTest suites under Wine"
    grep -E -B2 -A10 'Failure|FAILED|Timeout|Exception|Not Run' "$case/ctest.log" | head -n 150 >&2
    # The assertions themselves once more, last, where a shortened log still shows them.
    grep -E -A4 ': Failure$' "$case/ctest.log" | head -n 40 | sed 's/^/wine-test:   /' >&2
  fi
  end_case
fi

echo "wine-test: $passed passed, $failed failed" >&2
[ $failed = 0 ]
