#!/usr/bin/env bash
# The desktop program's two speed figures, under a virtual X display with Mesa's
# software OpenGL (the slowest place it runs):
#   1. idle cost: the process's CPU time over 10 s with nothing happening, as a share
#      of one core (target: under 2 %);
#   2. frame time with 2,000 events on the timeline, against an empty timeline drawn in
#      the same run (target: under 16 ms).
#   bench/app_frame/run.sh PATH/TO/morvane
set -euo pipefail
app="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
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

# 2. Frame time.
xvfb-run -a -s "-screen 0 1600x900x24" "$app" --bench-frames 200 2>&1 | grep '^\[Bench\]'
