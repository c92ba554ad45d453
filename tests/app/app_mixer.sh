#!/usr/bin/env bash
# The Mixer tab as a user works it, heard through a private PulseAudio server's null
# sink: the demo project (made by morvane-cli) plays its Backgrounds group soloed,
# then again with that group's fader 12 dB down, and the recording drops by 12 dB; the
# meters move while it plays and rest once it stops; the Hits group played dry and
# then with the reverb on rings on after its last hit; a lower loudness target renders
# the Backgrounds again, quieter. Last, every mixer setting
# (gains, placement, reverb, loudness, track layout) made in the tab comes back when
# the saved project is opened again.
#   app_mixer.sh PATH/TO/morvane PATH/TO/morvane-cli
. "$(dirname "$0")/app_env.sh" "$1"
cli="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
for tool in python3 xvfb-run; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 0; }
done
"$cli" demo --out "$work/demo" > "$work/make-demo.log" 2>&1 || { fail "morvane-cli demo failed"; cat "$work/make-demo.log"; exit 1; }
project="$work/demo/Morvane Demo Mix.mvproj"
# line STATE KIND NAME: the dump's line for a strip or group, from its third word on.
line() { awk -v k="$2" -v n="$3" '$1 == k && $2 == n { $1 = $2 = ""; sub(/^ +/, ""); print }' "$1"; }
field() { awk -v k="$2" -v n="$3" -v f="$4" '$1 == k && $2 == n { for (i = 3; i < NF; ++i) if ($i == f) print $(i + 1) }' "$1"; }
above() { python3 -c "import sys; sys.exit(0 if float('$1') > float('$2') else 1)"; }

# 1. Levels, meters, the reverb's tail and a loudness target, in five passes with
#    silence between them.
if command -v pulseaudio > /dev/null && command -v parec > /dev/null; then
  start_sound_server || fail "the private PulseAudio server did not start"
  cat > "$work/levels.script" << 'SCRIPT'
wait 3
wait-audio 120
click @tab:Mixer
wait 2
# Pass 1: the Backgrounds group alone, over its steady bed.
click @mixer:solo:group0
click @ruler:17
wait 5
key space
wait-ms 1200
dump-state WORK/playing.txt
screenshot mixer-playing
wait-ms 800
key space
wait-ms 1500
dump-state WORK/stopped.txt
# Pass 2: the same with its fader 12 dB down (Ctrl+click types the value).
hold ctrl
click @mixer:gain:group0
hold none
key ctrl+a
type -12
key enter
wait 2
dump-state WORK/faded.txt
click @ruler:17
wait 5
key space
wait-ms 2000
key space
wait-ms 2000
# Pass 3: the Hits alone, dry, over the hits at 12.6 s.
click @mixer:solo:group0
click @mixer:solo:group1
click @mixer-tab:Groups
click @mixer:group-settings:group1
wait 2
hold ctrl
click @mixer:send:group1
hold none
key ctrl+a
type 100
key enter
wait 2
click @ruler:12.3
wait 5
key space
wait-ms 1100
key space
wait-ms 2000
# Pass 4: the same with the reverb on: the room rings on after the last hit.
click @mixer-tab:Reverb
wait 2
click @mixer:reverb
wait 2
screenshot mixer-reverb
click @ruler:12.3
wait 5
key space
wait-ms 1100
key space
wait-ms 6000
# Pass 5: Backgrounds alone again at 0 dB, its loudness target 12 LU lower: the
# timeline is rendered again and the group comes back quieter.
click @mixer-tab:Strips
click @mixer:solo:group1
click @mixer:solo:group0
hold ctrl
click @mixer:gain:group0
hold none
key ctrl+a
type 0
key enter
click @mixer-tab:Loudness
wait 2
hold ctrl
click @mixer:target:group0
hold none
key ctrl+a
type -36
key enter
wait 5
wait-audio 120
click @ruler:17
wait 5
key space
wait-ms 2000
key space
wait-ms 1500
dump-state WORK/levels.txt
SCRIPT
  parec -d mvtest.monitor --format=float32le --rate=48000 --channels=2 --latency-msec=20 > "$work/levels.raw" &
  recorder=$!
  run levels "$project"
  kill "$recorder" 2> /dev/null; wait "$recorder" 2> /dev/null; recorder=""

  # The recording's bursts of sound, one a line: level (dBFS, mean power over the
  # 1.5 s from 0.1 s after the burst's first sample, the same stretch of the timeline
  # in every pass that plays from the same place) and length (seconds above -60 dBFS).
  python3 - "$work/levels.raw" > "$work/bursts.txt" << 'PY'
import math, struct, sys
data = open(sys.argv[1], 'rb').read()
s = struct.unpack('<%df' % (len(data) // 4), data[:len(data) // 4 * 4])
win = 2400  # 50 ms of stereo frames
powers = []
for start in range(0, len(s) // 2 - win, win):
    chunk = s[2 * start:2 * (start + win)]
    powers.append(sum(x * x for x in chunk) / len(chunk))
active = [p > 1e-6 for p in powers]  # -60 dBFS
bursts, i = [], 0
while i < len(active):
    if not active[i]:
        i += 1
        continue
    j = i
    while j < len(active) and (active[j] or any(active[j:j + 10])):  # gaps under 0.5 s join
        j += 1
    bursts.append((i, j))
    i = j
for a, b in bursts:
    if b - a < 3:
        continue
    first = max(0, a - 1) * win
    while first < b * win and abs(s[2 * first]) < 1e-4 and abs(s[2 * first + 1]) < 1e-4:
        first += 1
    lo, hi = first + 4800, min(first + 4800 + 72000, b * win)
    chunk = s[2 * lo:2 * hi]
    level = 10 * math.log10(max(1e-20, sum(x * x for x in chunk) / max(1, len(chunk))))
    print('%.2f %.2f' % (level, (b - a) * 0.05))
PY
  echo "bursts (level dBFS, length s):"; sed 's/^/  /' "$work/bursts.txt"
  if [ "$(wc -l < "$work/bursts.txt")" -ne 5 ]; then
    fail "expected five passes in the recording, found $(wc -l < "$work/bursts.txt")"
  else
    read -r full _ < <(sed -n 1p "$work/bursts.txt")
    read -r down _ < <(sed -n 2p "$work/bursts.txt")
    read -r _ dry < <(sed -n 3p "$work/bursts.txt")
    read -r _ wet < <(sed -n 4p "$work/bursts.txt")
    read -r lower _ < <(sed -n 5p "$work/bursts.txt")
    drop=$(python3 -c "print('%.2f' % ($full - $down))")
    echo "the fader at -12 dB took the group down by $drop dB"
    python3 -c "import sys; sys.exit(0 if abs($drop - 12) < 1.5 else 1)" || fail "the fader at -12 dB dropped the group by $drop dB"
    above "$wet" "$(python3 -c "print($dry + 0.8)")" || fail "with the reverb on the hits lasted ${wet}s, dry ${dry}s: no tail"
    # The peak ceiling may hold a loud layer back at the old target, so the drop can be
    # less than the full 12 LU; a target that is not rendered again drops nothing.
    echo "the loudness target 12 LU lower took the group down by $(python3 -c "print('%.2f' % ($full - $lower))") dB"
    above "$(python3 -c "print($full - $lower)")" 6 || fail "a loudness target 12 LU lower left the group at $lower dBFS (was $full)"
  fi
  # Soloed Backgrounds: its meter and the master's move, the soloed-out strips stay down.
  above "$(field "$work/playing.txt" strip group0 rms)" 0.001 || fail "the soloed group's meter did not move: $(line "$work/playing.txt" strip group0)"
  above "$(field "$work/playing.txt" strip master peak)" 0.001 || fail "the master meter did not move: $(line "$work/playing.txt" strip master)"
  above 0.0001 "$(field "$work/playing.txt" strip group1 peak)" || fail "a group soloed out shows a level: $(line "$work/playing.txt" strip group1)"
  for strip in group0 master; do
    above 0.00001 "$(field "$work/stopped.txt" strip $strip peak)" || fail "the $strip meter did not rest after the stop"
  done
  [ "$(field "$work/faded.txt" strip group0 gain)" = 0.2512 ] || fail "the fader's gain is $(field "$work/faded.txt" strip group0 gain), not -12 dB"
else
  echo "SKIP: the sound checks need pulseaudio and parec"
fi

# 2. Every mixer setting made in the tab is saved with the project and comes back.
cat > "$work/settings.script" << 'SCRIPT'
wait 3
wait-audio 120
click @tab:Mixer
wait 2
hold ctrl
click @mixer:gain:group2
hold none
key ctrl+a
type -6
key enter
hold ctrl
click @mixer:gain:reference
hold none
key ctrl+a
type -20
key enter
click @mixer-tab:Groups
click @mixer:group-settings:group1
wait 2
click @mixer:placement:group1:Spread
hold ctrl
click @mixer:amount:group1
hold none
key ctrl+a
type 70
key enter
hold ctrl
click @mixer:send:group1
hold none
key ctrl+a
type 40
key enter
click @mixer:stereo:group1
wait 2
screenshot mixer-groups
click @mixer-tab:Loudness
wait 2
hold ctrl
click @mixer:target:group0
hold none
key ctrl+a
type -30
key enter
wait 2
click @mixer:limit-tracks
wait 2
screenshot mixer-loudness
click @mixer-tab:Reverb
wait 2
click @mixer:reverb
hold ctrl
click @mixer:reverb-size
hold none
key ctrl+a
type 0.8
key enter
hold ctrl
click @mixer:reverb-predelay
hold none
key ctrl+a
type 40
key enter
wait 2
wait-audio 120
screenshot mixer-settings
click @mixer-tab:Monitor
click @mixer:routing
wait 2
screenshot mixer-monitor
dump-state WORK/set.txt
key ctrl+s
wait 5
SCRIPT
run settings "$project"
cat > "$work/reopen.script" << 'SCRIPT'
wait 3
wait-audio 120
click @tab:Mixer
wait 2
dump-state WORK/reopened.txt
SCRIPT
run reopen "$project"
[ "$(field "$work/set.txt" group 1 placement)" = 1 ] || fail "Spread was not chosen: $(line "$work/set.txt" group 1)"
[ "$(field "$work/set.txt" group 0 target)" = -30.0 ] || fail "the loudness target was not set: $(line "$work/set.txt" group 0)"
grep -q '^reverb enabled 1 size 0.800 .*predelay 0.0400' "$work/set.txt" || fail "the reverb was not set: $(grep '^reverb' "$work/set.txt")"
grep -q '^mixing .*budget 1' "$work/set.txt" || fail "Limit tracks was not switched on"
for strip in group0 group1 group2 master reference; do
  [ "$(field "$work/reopened.txt" strip $strip gain)" = "$(field "$work/set.txt" strip $strip gain)" ] \
    || fail "the $strip gain came back as $(field "$work/reopened.txt" strip $strip gain), saved $(field "$work/set.txt" strip $strip gain)"
done
for g in 0 1 2; do
  [ "$(line "$work/reopened.txt" group $g)" = "$(line "$work/set.txt" group $g)" ] \
    || fail "group $g came back as \"$(line "$work/reopened.txt" group $g)\", saved \"$(line "$work/set.txt" group $g)\""
done
[ "$(grep '^reverb' "$work/reopened.txt")" = "$(grep '^reverb' "$work/set.txt")" ] || fail "the reverb came back as $(grep '^reverb' "$work/reopened.txt")"
[ "$(grep '^mixing' "$work/reopened.txt")" = "$(grep '^mixing' "$work/set.txt")" ] || fail "the loudness and track settings came back as $(grep '^mixing' "$work/reopened.txt")"

[ -n "${MORVANE_SMOKE_KEEP:-}" ] && mkdir -p "$MORVANE_SMOKE_KEEP" && cp "$work"/shots/*.png "$MORVANE_SMOKE_KEEP"/
if [ $failures -eq 0 ]; then echo "app mixer: all checks passed"; exit 0; fi
echo "app mixer: $failures check(s) failed"
exit 1
