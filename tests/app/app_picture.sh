#!/usr/bin/env bash
# The picture and its sound, as a user sees and hears them: the demo project (made by
# morvane-cli) opens with its reel; clicking the ruler on a white flash and on the dark
# first shot shows those frames in the video area, pixel for pixel what ffmpeg decodes
# at the same time. With every event muted, playback through a private PulseAudio
# server's null sink carries the reel's own sound at its level. Last, File > Import
# Video… loads phone footage with a rotation and odd sizes, shown upright.
#   app_picture.sh PATH/TO/morvane PATH/TO/morvane-cli
. "$(dirname "$0")/app_env.sh" "$1"
cli="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
for tool in ffmpeg python3 xvfb-run; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 0; }
done

"$cli" demo --out "$work/demo" > "$work/make-demo.log" 2>&1 || { fail "morvane-cli demo failed"; cat "$work/make-demo.log"; exit 1; }
project="$work/demo/Morvane Demo Mix.mvproj"
reel=$(awk '$1 == "video" { $1 = ""; sub(/^ +/, ""); print }' "$work/make-demo.log")
[ -f "$reel" ] || { fail "the demo reel is missing ($reel)"; exit 1; }

# video_line STATE: the dump's video line as "loaded frame w h x0 y0 x1 y1".
video_line() { awk '$1 == "video" { print $3, $5, $7, $8, $14, $15, $16, $17 }' "$1"; }
# compare SHOT STATE MEDIA NAME: the picture drawn in the screenshot against the frame
# ffmpeg decodes from MEDIA at the frame time the window reports, both as raw RGB in
# $work/NAME.window.rgb and $work/NAME.ffmpeg.rgb; fails unless they match (a small mean
# difference) and the window's picture is not black.
compare() {
  local shot=$1 state=$2 media=$3 name=$4
  read -r loaded frame w h x0 y0 x1 y1 < <(video_line "$state")
  [ "${loaded:-0}" = 1 ] || { fail "$name: no video loaded"; return; }
  [ -f "$shot" ] || { fail "$name: no screenshot"; return; }
  local cw=$((x1 - x0)) ch=$(( (y1 - y0) * 3 / 4 ))  # the lower quarter carries the timecode
  local th=$((h * 3 / 4))
  ffmpeg -nostdin -v error -y -i "$shot" -vf "crop=$cw:$ch:$x0:$y0,scale=$w:$th" -f rawvideo -pix_fmt rgb24 "$work/$name.window.rgb" \
    || { fail "$name: cannot crop the screenshot"; return; }
  ffmpeg -nostdin -v error -y -ss "$frame" -i "$media" -frames:v 1 -vf "crop=$w:$th:0:0" -f rawvideo -pix_fmt rgb24 "$work/$name.ffmpeg.rgb" \
    || { fail "$name: ffmpeg cannot decode the frame at $frame"; return; }
  local diff bright ref
  read -r diff bright ref < <(python3 - "$work/$name.window.rgb" "$work/$name.ffmpeg.rgb" << 'PY'
import sys
a = open(sys.argv[1], 'rb').read(); b = open(sys.argv[2], 'rb').read()
n = min(len(a), len(b))
print('%.1f %.1f %.1f' % (sum(abs(a[i] - b[i]) for i in range(n)) / n, sum(a[:n]) / n, sum(b[:n]) / n))
PY
)
  echo "$name: frame $frame, mean difference $diff, window brightness $bright, ffmpeg brightness $ref"
  python3 -c "import sys; sys.exit(0 if $diff < 12 else 1)" || fail "$name: the video area differs from ffmpeg's frame by $diff"
  python3 -c "import sys; sys.exit(0 if $bright > 20 else 1)" || fail "$name: the video area is black ($bright)"
  echo "$bright" > "$work/$name.brightness"
}

# loudest RECORDED OWN: the loudest 100 ms (RMS, dBFS) of two raw 48 kHz stereo float files.
loudest() {
  python3 - "$1" "$2" << 'PY'
import math, struct, sys
def loudest(path):
    data = open(path, 'rb').read()
    s = struct.unpack('<%df' % (len(data) // 4), data[:len(data) // 4 * 4])
    best = -200.0
    for start in range(0, len(s) - 9600 + 1, 9600):
        rms = math.sqrt(sum(x * x for x in s[start:start + 9600]) / 9600)
        best = max(best, 20 * math.log10(rms) if rms > 0 else -200.0)
    return best
print('%.2f %.2f' % (loudest(sys.argv[1]), loudest(sys.argv[2])))
PY
}

# 1. The picture follows the ruler: a white flash at 10 s, the dark blue first shot at 7 s,
#    and the flash again after going back (a backward seek).
cat > "$work/scrub.script" << 'SCRIPT'
wait 3
wait-ms 1500
click @ruler:10.04
wait-ms 1000
dump-state WORK/flash.txt
screenshot flash
click @ruler:7.0
wait-ms 1000
dump-state WORK/dark.txt
screenshot dark
click @ruler:21.02
wait-ms 1000
dump-state WORK/flash2.txt
screenshot flash2
SCRIPT
run scrub "$project"
grep -q "^\[Video\] loaded via FFmpeg" "$work/scrub.log" || fail "the project's video did not load: $(grep Video "$work/scrub.log")"
for name in flash dark flash2; do compare "$work/shots/$name.png" "$work/$name.txt" "$reel" "$name"; done
flash_bright=$(cat "$work/flash.brightness" 2> /dev/null)
python3 -c "import sys; sys.exit(0 if ${flash_bright:-0} > 200 else 1)" || fail "the flash at 10 s is not white (${flash_bright:-?})"

# 2. The video's own sound: every event muted, 3 s played from 9.5 s (two flash hits).
if command -v pulseaudio > /dev/null && command -v parec > /dev/null; then
  start_sound_server || fail "the private PulseAudio server did not start"
  cat > "$work/sound.script" << 'SCRIPT'
wait 3
wait-audio 120
key ctrl+a
menu mute
wait 3
click @ruler:9.5
wait 5
key space
wait-ms 3000
key space
wait 2
dump-state WORK/sound.txt
SCRIPT
  parec -d mvtest.monitor --format=float32le --rate=48000 --channels=2 --latency-msec=20 > "$work/sound.raw" &
  recorder=$!
  run sound "$project"
  kill "$recorder" 2> /dev/null; wait "$recorder" 2> /dev/null; recorder=""
  muted=$(awk '$1 == "event" && $11 == 0' "$work/sound.txt" | wc -l)
  [ "$muted" -eq 0 ] || fail "$muted events were not muted"
  ffmpeg -nostdin -v error -y -ss 9.5 -t 3 -i "$reel" -vn -ac 2 -ar 48000 -f f32le "$work/reel.raw" || fail "ffmpeg cannot read the reel's sound"
  read -r heard expected < <(loudest "$work/sound.raw" "$work/reel.raw")
  echo "sound: loudest 100 ms heard ${heard} dBFS, in the reel ${expected} dBFS"
  python3 -c "import sys; sys.exit(0 if abs($heard - ($expected)) < 4 else 1)" \
    || fail "with every event muted the video's sound played at ${heard} dBFS, not its own ${expected} dBFS"
else
  echo "SKIP: the sound check needs pulseaudio and parec"
fi

# 2b. A fresh project with nothing but an imported video: nothing is rendered, yet
#     playing carries the video's steady tone at its own level (within 1 dB).
if command -v pulseaudio > /dev/null && command -v parec > /dev/null; then
  ffmpeg -nostdin -v error -y -f lavfi -i "color=c=0x303030:s=320x180:r=25:d=8" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=8,volume=2" -ac 2 \
    -c:v libx264 -pix_fmt yuv420p -c:a aac -b:a 192k -shortest "$work/films/tone.mp4" || fail "ffmpeg could not make the tone clip"
  cat > "$work/tone.script" << 'SCRIPT'
wait 3
menu import-video
wait 2
click @browser:name
type WORK/films/tone.mp4
click @browser:accept
wait 4
wait-audio 60
click @ruler:1.0
wait 2
key space
wait-ms 3000
key space
wait 2
dump-state WORK/tone.txt
SCRIPT
  parec -d mvtest.monitor --format=float32le --rate=48000 --channels=2 --latency-msec=20 > "$work/tone.raw" &
  recorder=$!
  run tone
  kill "$recorder" 2> /dev/null; wait "$recorder" 2> /dev/null; recorder=""
  ffmpeg -nostdin -v error -y -ss 2 -t 3 -i "$work/films/tone.mp4" -vn -ac 2 -ar 48000 -f f32le "$work/tone-own.raw" \
    || fail "ffmpeg cannot read the tone clip's sound"
  read -r heard expected < <(loudest "$work/tone.raw" "$work/tone-own.raw")
  echo "tone: loudest 100 ms heard ${heard} dBFS, in the clip ${expected} dBFS"
  python3 -c "import sys; sys.exit(0 if abs($heard - ($expected)) < 1 else 1)" \
    || fail "a project with only a video played its sound at ${heard} dBFS, not its own ${expected} dBFS"
fi

# 3. File > Import Video…: phone footage filmed upright and stored turned (with the
#    rotation that turns it back), a square and a portrait clip; each shows upright at
#    its own size, and the project takes the video's frame rate.
ffmpeg -nostdin -v error -y -f lavfi -i "color=c=black:s=360x640:r=30:d=2,drawbox=x=0:y=0:w=iw:h=ih/2:color=white:t=fill,transpose=clock" \
  -c:v libx264 -pix_fmt yuv420p "$work/films/stored.mp4" \
  && ffmpeg -nostdin -v error -y -i "$work/films/stored.mp4" -c copy -metadata:s:v:0 rotate=90 "$work/films/phone.mp4" \
  || fail "ffmpeg could not make the phone clip"
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=s=200x200:r=30:d=2" -c:v libx264 -pix_fmt yuv420p "$work/films/square.mp4" || fail "no square clip"
ffmpeg -nostdin -v error -y -f lavfi -i "color=c=black:s=360x640:r=30:d=2,drawbox=x=0:y=0:w=iw:h=ih/2:color=white:t=fill" \
  -c:v libx264 -pix_fmt yuv420p "$work/films/portrait.mp4" || fail "no portrait clip"
printf 'not a video' > "$work/films/broken.mp4"
for clip in phone square portrait broken; do
  expect=""
  [ $clip = broken ] && expect="expect-status Couldn't decode this video \xE2\x80\x94 use an H.264 .mp4 proxy."
  cat > "$work/import-$clip.script" << SCRIPT
wait 3
menu import-video
wait 2
click @browser:name
type WORK/films/$clip.mp4
click @browser:accept
wait-ms 1500
$(printf "$expect")
click @ruler:0.5
wait-ms 800
dump-state WORK/import-$clip.txt
screenshot import-$clip
SCRIPT
  run "import-$clip"
done
for clip in phone square portrait; do
  read -r loaded frame w h x0 y0 x1 y1 < <(video_line "$work/import-$clip.txt")
  echo "$clip: loaded ${loaded:-?} ${w:-?}x${h:-?} drawn $((x1 - x0))x$((y1 - y0))"
  [ "${loaded:-0}" = 1 ] || { fail "$clip did not load"; continue; }
  want="360 640"; [ $clip = square ] && want="200 200"
  [ "$w $h" = "$want" ] || fail "$clip shows at ${w}x${h}, not ${want/ /x}"
  # Letterboxed at the clip's own aspect.
  python3 -c "import sys; sys.exit(0 if abs(($x1 - $x0) / ($y1 - $y0) - $w / $h) < 0.02 else 1)" \
    || fail "$clip is drawn at $((x1 - x0))x$((y1 - y0)), not at its aspect"
done
for clip in phone portrait; do
  compare "$work/shots/import-$clip.png" "$work/import-$clip.txt" "$work/films/$clip.mp4" "import-$clip"
done
# The phone clip stands upright: its top is white and its bottom black, as the portrait one.
python3 - "$work/import-phone.window.rgb" << 'PY' || fail "the phone clip is not upright"
import sys
d = open(sys.argv[1], 'rb').read(); w = 360
top = d[(100 * w + 180) * 3]; bottom = d[(440 * w + 180) * 3]
print('phone: top %d, bottom %d' % (top, bottom))
sys.exit(0 if top > 200 and bottom < 50 else 1)
PY
read -r loaded _ < <(video_line "$work/import-broken.txt")
[ "${loaded:-1}" = 0 ] || fail "a file that is not a video loaded"

[ $failures -eq 0 ] && echo "app_picture: all checks passed"
exit $((failures > 0))
