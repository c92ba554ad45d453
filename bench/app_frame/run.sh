#!/usr/bin/env bash
# The desktop program's two speed figures, under a virtual X display with Mesa's
# software OpenGL (the slowest place it runs):
#   1. idle cost: the process's CPU time over 10 s with nothing happening, as a share
#      of one core (target: under 2 %);
#   2. frame time with 2,000 events on the timeline, against an empty timeline drawn in
#      the same run (target: under 16 ms);
#   3. playback of 60 s of 1080p H.264 at 25 fps (a key frame every 250 frames, with a
#      sound track) through the real audio path, RtAudio into a private PulseAudio
#      server's null sink: frames shown against frames due, frames more than one frame
#      period late (target 0), the picture's offset from the audio output's position
#      (target: within one frame), and the frame time with the video playing against
#      playing without one (target: within 2 ms). The video's sound is a click at the
#      start of frame 14 of every second; the sink's monitor is recorded beside the
#      program, and each click's time at the speakers is set against the time the
#      window first showed its frame (target: within one frame).
#   bench/app_frame/run.sh PATH/TO/morvane
set -euo pipefail
app="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
work="$(mktemp -d)"
recorder=""
cleanup() {
  [ -n "$recorder" ] && kill "$recorder" 2> /dev/null
  [ -n "${PULSE_SERVER:-}" ] && pulseaudio --kill > /dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config" MV_UPDATE_URL=""
export LIBGL_ALWAYS_SOFTWARE=1
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
ticks=$(getconf CLK_TCK)

# 1. Idle: start, let the first frames settle, then sample utime+stime 10 s apart.
# The dump marks the end of start-up (first frames, fonts, and the few seconds a
# start-up message such as "Could not open audio device" stays on the status line);
# the sampling starts after it.
printf 'wait 5\nwait-ms 4000\ndump-state %s/started\nwait-ms 13000\nquit\n' "$work" > "$work/idle.script"
# The shell replaces itself with the program, so its process id is the program's.
xvfb-run -a -s "-screen 0 1600x900x24" sh -c 'echo $$ > "$0/pid"; exec "$1" --ui-script "$0/idle.script"' \
  "$work" "$app" > "$work/idle.log" 2>&1 &
for _ in $(seq 100); do [ -s "$work/pid" ] && break; sleep 0.1; done
pid=$(cat "$work/pid")
for _ in $(seq 300); do [ -s "$work/started" ] && break; sleep 0.1; done
sleep 1
echo "[Bench] idle: measuring $(cat "/proc/$pid/comm") (pid $pid)"
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
a=$(cpu); t0=$(date +%s%N)
sleep 10
b=$(cpu); t1=$(date +%s%N)
wait || true
awk -v a="$a" -v b="$b" -v t0="$t0" -v t1="$t1" -v hz="$ticks" 'BEGIN {
  cpu = (b - a) / hz; wall = (t1 - t0) / 1e9;
  printf "[Bench] idle: %.2f s of CPU over %.1f s = %.2f %% of one core (target < 2 %%)\n", cpu, wall, 100 * cpu / wall }'

# 2 and 3, in one run of the program, with the audio output on a PulseAudio server of
# the bench's own (clients reach only it and never start another).
video="$work/minute_1080p.mp4"
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=1920x1080:r=25:d=62 \
  -f lavfi -i "aevalsrc=exprs='if(between(mod(t,1),0.52,0.524),0.9,0)':s=48000:d=62" \
  -c:v libx264 -preset veryfast -g 250 -pix_fmt yuv420p -c:a aac -shortest "$video"
export PULSE_RUNTIME_PATH="$work/pulse" PULSE_STATE_PATH="$work/pulse-state" PULSE_CLIENTCONFIG="$work/client.conf"
mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH" && chmod 700 "$PULSE_RUNTIME_PATH"
echo "autospawn = no" > "$PULSE_CLIENTCONFIG"
pulseaudio --daemonize=yes --system=false --exit-idle-time=-1 -n \
  --load="module-null-sink sink_name=mvbench" --load=module-native-protocol-unix > /dev/null 2>&1
export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
for _ in $(seq 100); do [ -S "$PULSE_RUNTIME_PATH/native" ] && break; sleep 0.05; done
here="$(cd "$(dirname "$0")" && pwd)"
python3 "$here/speakers.py" record mvbench "$work/speakers.raw" "$work/speakers.start" &
recorder=$!
xvfb-run -a -s "-screen 0 1600x900x24" "$app" --bench-frames 200 --bench-video "$video" > "$work/frames.log" 2>&1 || true
kill "$recorder"; wait "$recorder" || true; recorder=""
grep '^\[Bench\]' "$work/frames.log"
python3 "$here/speakers.py" offset "$work/speakers.raw" "$work/speakers.start" "$work/frames.log"
