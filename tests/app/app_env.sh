# The set-up the desktop program's tests share. A test script sources it with the
# program's path:
#   . "$(dirname "$0")/app_env.sh" PATH/TO/morvane
# It gives $app, a private $work folder with a home, a runtime folder, "shots" and
# "films" inside it (removed at exit after the script's own `cleanup`, when it
# defines one; kept and named when KEEP_WORK is set), software OpenGL on the
# program's own thread, no network, and the helpers fail, value and run.
set -uo pipefail
app="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
work="$(mktemp -d)"
on_exit() {
  if declare -F cleanup > /dev/null; then cleanup; fi
  if [ -n "${KEEP_WORK:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap on_exit EXIT
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/shots" "$work/films" "$work/tmp"
# Temporaries (xvfb-run's display authority among them) inside the test's own folder:
# the shared /tmp of a busy machine is no place for a file another process may sweep.
export TMPDIR="$work/tmp"
chmod 700 "$XDG_RUNTIME_DIR"
export MV_UPDATE_URL="" LIBGL_ALWAYS_SOFTWARE=1
# Mesa draws on the program's own thread: no rasterizer threads for the leak checker to
# stop at exit, none competing with the other work on a shared machine.
export LP_NUM_THREADS=0
# Under the address sanitizer: leaks of system libraries are not ours to fix.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# value STATE KEY: the value on a dump-state file's line KEY.
value() { awk -v k="$2" '$1 == k { print $2 }' "$1"; }
# No shipped demo content: its first-start install would add the demo project to the
# recent list the menus are checked against.
without_demo_content() {
  export MORVANE_DATA_DIR="$work/shipped"
  mkdir -p "$MORVANE_DATA_DIR"
}
# run NAME [ARGS...]: plays $work/NAME.script (WORK in it becomes $work) under a
# virtual display; the log is $work/NAME.log.
run() {
  local name=$1; shift
  sed -i "s|WORK|$work|g" "$work/$name.script"
  xvfb-run -a -s "-screen 0 1600x900x24" "$app" "$@" --ui-script "$work/$name.script" --screenshot "$work/shots" \
    > "$work/$name.log" 2>&1
  local rc=$?
  [ $rc -eq 0 ] || { fail "$name exited $rc"; cat "$work/$name.log"; }
}
# start_sound_server: a PulseAudio server of our own with a null sink "mvtest" whose
# monitor a test records; clients reach only it and never start another. It and any
# $recorder are stopped at exit. Returns 1 when the server did not start.
start_sound_server() {
  export PULSE_RUNTIME_PATH="$work/pulse" PULSE_STATE_PATH="$work/pulse-state" PULSE_CLIENTCONFIG="$work/client.conf"
  export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
  mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"; chmod 700 "$PULSE_RUNTIME_PATH"
  echo "autospawn = no" > "$PULSE_CLIENTCONFIG"
  recorder=""
  cleanup() {
    [ -n "$recorder" ] && kill "$recorder" 2> /dev/null
    pulseaudio --kill > /dev/null 2>&1
  }
  pulseaudio --daemonize=yes --system=false --exit-idle-time=-1 -n \
    --load="module-null-sink sink_name=mvtest" --load=module-native-protocol-unix > /dev/null 2>&1 || return 1
  for _ in $(seq 100); do [ -S "$PULSE_RUNTIME_PATH/native" ] && break; sleep 0.05; done
}
