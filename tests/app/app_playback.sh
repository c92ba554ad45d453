#!/usr/bin/env bash
# Sound in the window, as a user hears it: the demo project (made by morvane-cli) is
# opened, its audio renders in the background, Space plays it through a private
# PulseAudio server's null sink, whose monitor is recorded. Then a new timeline is
# made from the menu, rendered with Composition > Render and played, and played again
# after its events were dragged away. Last, with no sound server at all, the window
# says so and goes on working.
#   app_playback.sh PATH/TO/morvane PATH/TO/morvane-cli
. "$(dirname "$0")/app_env.sh" "$1"
cli="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
for tool in pulseaudio parec python3 xvfb-run; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 0; }
done

start_sound_server || { fail "the private PulseAudio server did not start"; exit 1; }

"$cli" demo --out "$work/demo" > "$work/make-demo.log" 2>&1 || { fail "morvane-cli demo failed"; cat "$work/make-demo.log"; exit 1; }
project="$work/demo/Morvane Demo Mix.mvproj"

# record NAME [ARGS...]: run NAME while the sink's monitor is recorded to $work/NAME.raw
# (stereo float at 48 kHz).
record() {
  if [ -S "$PULSE_RUNTIME_PATH/native" ]; then
    parec -d mvtest.monitor --format=float32le --rate=48000 --channels=2 --latency-msec=20 > "$work/$1.raw" &
    recorder=$!
  fi
  run "$@"
  if [ -n "$recorder" ]; then kill "$recorder" 2> /dev/null; wait "$recorder" 2> /dev/null; recorder=""; fi
}
# loudness RAW: the recording's loudest 100 ms window (dBFS RMS), its peak, and how many
# windows are above -60 dBFS.
loudness() {
  python3 - "$1" << 'PY'
import math, struct, sys
data = open(sys.argv[1], 'rb').read()
samples = struct.unpack('<%df' % (len(data) // 4), data[:len(data) // 4 * 4])
window = 9600  # 100 ms of stereo samples
best, peak, loud = -200.0, 0.0, 0
for start in range(0, len(samples) - window + 1, window):
    chunk = samples[start:start + window]
    rms = math.sqrt(sum(x * x for x in chunk) / window)
    level = 20 * math.log10(rms) if rms > 0 else -200.0
    best = max(best, level)
    loud += level > -60
    peak = max(peak, max(abs(x) for x in chunk))
print('%.1f %.4f %d' % (best, peak, loud))
PY
}

# 1. The built demo project: its audio renders after the open; Space plays 3 s of it.
cat > "$work/demo.script" << 'SCRIPT'
wait 3
wait-audio 120
key space
wait-ms 3000
key space
wait 2
dump-state WORK/demo-played.txt
screenshot demo-played
SCRIPT
record demo "$project"
read -r level peak loud < <(loudness "$work/demo.raw")
echo "demo: loudest 100 ms ${level} dBFS, peak ${peak}, ${loud} windows above -60 dBFS"
python3 -c "import sys; sys.exit(0 if $level > -40 else 1)" || fail "the demo played silence (loudest ${level} dBFS)"
python3 -c "import sys; sys.exit(0 if $peak <= 0.8913 else 1)" || fail "the demo peaked at ${peak}, above -1 dBFS"
[ "$loud" -ge 15 ] || fail "only $loud windows of sound: playback stopped early or stuttered"
playhead=$(value "$work/demo-played.txt" playhead)
python3 -c "import sys; sys.exit(0 if 2.0 < $playhead < 4.5 else 1)" || fail "after 3 s of playing the playhead is at $playhead"
grep -q "^\[Audio\] opened" "$work/demo.log" || fail "the audio output was not opened: $(grep Audio "$work/demo.log")"

# 2. A new timeline: two events from the menu, Composition > Render, then play.
made_and_rendered='wait 3
menu create-spot
click @lane:23
wait 2
menu create-fill
menu render
wait 2
wait-audio 120'
# 2.5 s played from the start.
played_from_start='key home
key space
wait-ms 2500
key space
wait 2'
printf '%s\ndump-state WORK/rendered.txt\n%s\n' "$made_and_rendered" "$played_from_start" > "$work/render.script"
record render
layers=$(value "$work/rendered.txt" layers)
[ "${layers:-0}" -gt 0 ] || fail "Composition > Render placed no layers"
read -r level peak loud < <(loudness "$work/render.raw")
echo "render: ${layers} layers, loudest 100 ms ${level} dBFS, peak ${peak}"
python3 -c "import sys; sys.exit(0 if $level > -45 else 1)" || fail "the rendered timeline played silence (loudest ${level} dBFS)"

# 3. The same timeline rendered, then every event dragged 15 s later: their sounds go
#    with them at once, so the first seconds now play silence.
printf '%s\nkey ctrl+a\ndrag @event:0 600 0 10\nwait 3\ndump-state WORK/moved.txt\n%s\n' \
  "$made_and_rendered" "$played_from_start" > "$work/moved.script"
record moved
first=$(awk '$1 == "event" && $2 == 0 { print $4 }' "$work/moved.txt")
python3 -c "import sys; sys.exit(0 if ${first:-0} > 5 else 1)" || fail "the drag did not move event 0 (at ${first:-?} s)"
read -r level peak loud < <(loudness "$work/moved.raw")
echo "moved: event 0 at ${first} s, loudest 100 ms in the first 2.5 s ${level} dBFS"
python3 -c "import sys; sys.exit(0 if $level < -70 else 1)" || fail "after moving every event away, the start still sounds (${level} dBFS)"

# 4. No sound server: the window says so and keeps working.
pulseaudio --kill > /dev/null 2>&1
for _ in $(seq 100); do [ -S "$PULSE_RUNTIME_PATH/native" ] || break; sleep 0.05; done
cat > "$work/silent.script" << 'SCRIPT'
wait 3
expect-status Could not open audio device
key space
wait-ms 600
key space
dump-state WORK/silent.txt
SCRIPT
run silent
playhead=$(value "$work/silent.txt" playhead)
python3 -c "import sys; sys.exit(0 if $playhead > 0.2 else 1)" || fail "without a device the playhead did not move ($playhead)"

[ $failures -eq 0 ] && echo "app_playback: all checks passed"
exit $((failures > 0))
