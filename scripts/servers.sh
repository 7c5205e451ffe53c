# Private servers for the headless runs, sourced by scripts/test.sh and tests/windows/run.sh.
# Everything they make lives under the directory they are given, so that two runs on one
# machine, or a desktop session beside them, never meet.

# start_xvfb DIR WxH: an X server of our own. Sets xvfb_display (":N") and xvfb_pid, or returns
# 1. Servers that take the lowest free display number race when several start at once, so each
# try picks a number of its own from a wide range.
start_xvfb() {
  xvfb_display="" xvfb_pid=""
  local n
  for _ in $(seq 40); do
    n=$((1000 + RANDOM % 29000))
    : >"$1/display"
    Xvfb ":$n" -displayfd 3 -screen 0 "$2x24" -nolisten tcp -noreset 3>"$1/display" 2>/dev/null &
    xvfb_pid=$!
    while kill -0 "$xvfb_pid" 2>/dev/null && [ ! -s "$1/display" ]; do sleep 0.1; done
    if [ -s "$1/display" ]; then
      xvfb_display=":$n"
      return 0
    fi
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  return 1
}

# start_pulse DIR: a PulseAudio daemon with a null sink, its socket at DIR/pulse/native, its
# state, cookie and pid under DIR/pulse; returns non-zero if none starts. Clients reach it with
# pulse_env.
start_pulse() {
  pulse_env=(XDG_RUNTIME_DIR="$1" PULSE_RUNTIME_PATH="$1/pulse" PULSE_STATE_PATH="$1/pulse"
             PULSE_SERVER="unix:$1/pulse/native")
  mkdir -p "$1/pulse"
  env "${pulse_env[@]}" pulseaudio -D --exit-idle-time=-1 -n --use-pid-file=yes \
    --load=module-null-sink --load="module-native-protocol-unix socket=$1/pulse/native auth-anonymous=1" \
    2>/dev/null
}
