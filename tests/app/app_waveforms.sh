#!/usr/bin/env bash
# Events on the timeline show the sound they play, as a DAW's clips do: a Clip whose
# file is two seconds of silence and then two seconds of tone is drawn flat over the
# silence and full over the tone, before any build, once the file has been read.
#   app_waveforms.sh PATH/TO/morvane
. "$(dirname "$0")/app_env.sh" "$1"
without_demo_content
for tool in sox ffmpeg python3; do command -v $tool > /dev/null || { echo "SKIP: $tool missing"; exit 0; }; done

sound="$work/films/quiet-then-loud.wav"
sox -n -r 48000 -c 1 -b 24 "$work/silence.wav" trim 0 2
sox -n -r 48000 -c 1 -b 24 "$work/tone.wav" synth 2 sine 440 vol 0.5
sox "$work/silence.wav" "$work/tone.wav" "$sound"
printf '{"format": "Morvane", "version": 5, "minReaderVersion": 1, "duration": 6, "events": [{"shape": 5, "time": 1, "duration": 4, "keywords": "clip", "pinnedFile": "%s", "clipSourceDuration": 4}]}\n' \
  "$sound" > "$work/films/clip.mvproj"

cat > "$work/wave.script" <<'SCRIPT'
wait 3
menu zoom-fit
wait 30
move @video
wait 3
dump-state WORK/state.txt
screenshot clip
SCRIPT
run wave "$work/films/clip.mvproj"

read -r x0 y0 x1 y1 < <(awk '$1 == "box" && $2 == "event:0" { print $3, $4, $5, $6 }' "$work/state.txt")
[ -n "${x1:-}" ] || { fail "the clip was not drawn"; exit 1; }
w=$((x1 - x0)) h=$((y1 - y0))
ffmpeg -nostdin -v error -y -i "$work/shots/clip.png" -vf "crop=$w:$h:$x0:$y0,format=gray" -f rawvideo "$work/clip.gray" ||
  { fail "cannot crop the screenshot"; exit 1; }
# The waveform is darker than the box: the share of dark pixels in the lower part of the
# box over the silent half and over the loud half.
read -r quiet loud < <(python3 - "$work/clip.gray" "$w" "$h" <<'PY'
import sys
data = open(sys.argv[1], "rb").read(); w, h = int(sys.argv[2]), int(sys.argv[3])
box = sorted(data)[len(data) // 2]  # the box's own colour, most of its pixels
def dark_share(c0, c1):
    rows = range(h * 45 // 100, h - 2)
    cells = [data[y * w + x] for y in rows for x in range(c0, c1)]
    return sum(1 for v in cells if v < box - 40) / max(1, len(cells))
print("%.3f %.3f" % (dark_share(w * 5 // 100, w * 45 // 100), dark_share(w * 55 // 100, w * 95 // 100)))
PY
)
echo "dark share of the clip's lower part: silence $quiet, tone $loud"
python3 -c "import sys; sys.exit(0 if $loud > 0.25 and $quiet < 0.12 else 1)" ||
  fail "the clip does not show its file's waveform (silence $quiet, tone $loud)"
[ $failures -eq 0 ] && echo "app waveforms: all checks passed"
exit $((failures > 0))
