#!/usr/bin/env bash
# Selecting with a band in the event lanes and saving scenes, as a user does it, under a
# virtual X display with Mesa's software OpenGL: events made from the Composition menu,
# bands with and without Shift, at another zoom and scroll, over a linked folder and
# over nothing; Save Scene from Ctrl+B and the menu over a selection and over the work
# area, undone and redone, refused with nothing to cover and while a text field has the
# keyboard; the scenes saved, reopened, and their keywords cut to what a scene holds.
#   app_selection.sh PATH/TO/morvane
. "$(dirname "$0")/app_env.sh" "$1"
without_demo_content
# selected STATE: the indices of the selected events, space-separated.
selected() { awk '$1 == "event" && $10 == 1 { printf "%s%s", sep, $2; sep = " " } END { print "" }' "$1"; }
# scenes STATE: one "IN OUT NAME" line per scene, times to a tenth of a second (a
# pixel of the fitted view is 25 ms).
scenes() { awk '$1 == "scene" { name = $8; for (n = 9; n <= NF; ++n) name = name " " $n; printf "%.1f %.1f %s\n", $4, $6, name }' "$1"; }

# Places in the lanes are named by time and row ("ruler:T", "row:R:T", "lane:T" for the
# first empty row); drags go by pixels, about 40 a second at the fitted zoom.
# 1. Events from the menu, bands, scenes, saved through the file browser.
cat > "$work/band.script" <<'SCRIPT'
wait 3
# Spot 0-1, Bloom 5-7, Contour 10-13 in the first row; a Spot 11-12 in the second
# (it overlaps the Contour); a Spot 20-21 in the first.
menu create-spot
click @ruler:5
menu create-bloom
click @ruler:10
menu create-contour
click @ruler:11
menu create-spot
click @ruler:20
menu create-spot
expect-events 5
dump-state WORK/made.txt
# From the empty space at 4 s across the first row to 14 s: the Bloom and the Contour.
drag @row:0:4 400 15
expect-selected 2
dump-state WORK/band.txt
# With Shift, a band over the second row adds its Spot.
hold shift
drag @row:1:14 -100 10
hold none
expect-selected 3
dump-state WORK/added.txt
# Zoomed in and scrolled a second to the right, a band still takes what it covers:
# at 60 pixels a second 12 s to 14 s of the first row is the Contour alone.
key ctrl+equals
move @lane:15
wheel -1
wait 2
drag @row:0:14 -120 15
expect-selected 1
dump-state WORK/zoomed.txt
key ctrl+0
wait 2
# A band over nothing clears the selection.
drag @lane:23 100 40
expect-selected 0
# A click on empty lane space moves the playhead (and clears the selection).
click @event:1
expect-selected 1
click @lane:25
expect-selected 0
dump-state WORK/clicked.txt
# Bloom and Contour become a linked folder: a band over the Contour takes both.
drag @row:0:4 400 15
key ctrl+g
click @lane:25
drag @row:0:14 -154 10
expect-selected 2
key ctrl+b
expect-status Scene saved: Scene 1
dump-state WORK/scene.txt
key ctrl+z
dump-state WORK/scene-undone.txt
key ctrl+shift+z
dump-state WORK/scene-redone.txt
# Nothing selected and no work area: nothing to cover, and no undo step either.
click @lane:25
key ctrl+b
expect-status Select events or set a work area to save a scene
dump-state WORK/refused.txt
key ctrl+z
dump-state WORK/refused-undone.txt
key ctrl+shift+z
# The work area, from the menu: 20 s to 25 s.
click @ruler:20
menu set-in
click @ruler:25
menu set-out
click @lane:25
menu save-scene
expect-status Scene saved: Scene 2
# Ctrl+B in the keywords field is the field's, not Save Scene.
click @event:0
click @keywords
expect-text-focus
key ctrl+b
expect-text-focus
click @video
wait 2
dump-state WORK/scenes.txt
# A band in progress, for the eye.
press @row:0:4
move @row:0:8
move @row:1:14
wait 2
screenshot band
release
wait 2
screenshot scenes
key ctrl+s
expect-popup-open
wait 2
key ctrl+a
type WORK/films/Cut 1
key enter
expect-status Project saved
SCRIPT
run band
field() { awk -v i="$2" -v k="$3" '$1 == "event" && $2 == i { for (n = 3; n < NF; n += 2) if ($n == k) print $(n + 1) }' "$1"; }
awk -v a="$(field "$work/made.txt" 3 time)" -v b="$(field "$work/made.txt" 4 time)" \
  'BEGIN { exit !(a > 10.9 && a < 11.1 && b > 19.9 && b < 20.1) }' ||
  fail "the events are not where the ruler was clicked: $(cat "$work/made.txt")"
[ "$(selected "$work/band.txt")" = "1 2" ] || fail "the band selected $(selected "$work/band.txt"), not the Bloom and the Contour"
[ "$(selected "$work/added.txt")" = "1 2 3" ] || fail "Shift and a band gave $(selected "$work/added.txt"), not 1 2 3"
[ "$(selected "$work/zoomed.txt")" = "2" ] || fail "zoomed and scrolled, the band selected $(selected "$work/zoomed.txt")"
awk '$1 == "playhead" { exit !($2 > 24.8 && $2 < 25.2) }' "$work/clicked.txt" ||
  fail "a click in the lanes put the playhead at $(value "$work/clicked.txt" playhead), not 25 s"
[ "$(scenes "$work/scene.txt")" = "5.0 13.0 Scene 1" ] || fail "Ctrl+B saved $(scenes "$work/scene.txt")"
[ -z "$(scenes "$work/scene-undone.txt")" ] || fail "undo left the scene: $(scenes "$work/scene-undone.txt")"
[ "$(field "$work/scene-undone.txt" 2 folder)" = Group_1 ] || fail "undoing the scene also undid the grouping before it"
[ "$(scenes "$work/scene-redone.txt")" = "5.0 13.0 Scene 1" ] || fail "redo did not bring the scene back"
[ "$(scenes "$work/refused.txt")" = "5.0 13.0 Scene 1" ] || fail "Ctrl+B with nothing to cover changed the scenes"
[ -z "$(scenes "$work/refused-undone.txt")" ] ||
  fail "the refused Ctrl+B left an undo step: one undo kept $(scenes "$work/refused-undone.txt")"
printf '5.0 13.0 Scene 1\n20.0 25.0 Scene 2\n' > "$work/want-scenes.txt"
scenes "$work/scenes.txt" | cmp -s - "$work/want-scenes.txt" ||
  fail "the work area scene or the text field's Ctrl+B went wrong: $(scenes "$work/scenes.txt" | tr '\n' ';')"
saved="$work/films/Cut 1.mvproj"
python3 - "$saved" <<'PY' || fail "the saved project does not hold the two scenes"
import json, sys
scenes = json.load(open(sys.argv[1]))["scenes"]
got = [(s["name"], round(s["inTime"], 1), round(s["outTime"], 1)) for s in scenes]
assert got == [("Scene 1", 5.0, 13.0), ("Scene 2", 20.0, 25.0)], got
PY

# 2. Reopened, the scenes are there.
cat > "$work/reopen.script" <<'SCRIPT'
wait 3
dump-state WORK/reopened.txt
SCRIPT
run reopen "$saved"
scenes "$work/reopened.txt" | cmp -s - "$work/want-scenes.txt" || fail "reopened, the scenes are $(scenes "$work/reopened.txt" | tr '\n' ';')"

# 3. Keywords: the distinct words of the events, cut to a scene's 127 bytes between
#    words, and a single over-long word cut between whole UTF-8 characters.
words=$(printf 'word%02d ' $(seq 1 30))
long=$(printf 'é%.0s' $(seq 1 100))
printf '{"format": "Morvane", "version": 5, "minReaderVersion": 1, "linkedGroups": ["Group 1"], "events": [
 {"time": 1, "duration": 2, "keywords": "door slam", "folder": "Group 1"},
 {"time": 6, "duration": 1, "keywords": "Slam, wood", "folder": "Group 1"},
 {"time": 4, "duration": 1, "keywords": "%s"},
 {"time": 10, "duration": 1, "keywords": "%s"}]}\n' "$words" "$long" > "$work/films/words.mvproj"
cat > "$work/words.script" <<'SCRIPT'
wait 3
expect-events 4
# A band over the Bloom-to-be at 6 s takes its linked partner at 1 s.
drag @row:0:5.5 40 15
expect-selected 2
key ctrl+b
click @event:3
expect-selected 1
key ctrl+b
key ctrl+a
key ctrl+b
key ctrl+s
expect-status Project saved
SCRIPT
run words "$work/films/words.mvproj"
python3 - "$work/films/words.mvproj" "$words" <<'PY' || fail "the scenes' keywords are wrong"
import json, sys
raw = open(sys.argv[1], "rb").read()
scenes = json.loads(raw.decode("utf-8"))["scenes"]  # strict: a cut character fails here
assert [(s["inTime"], s["outTime"]) for s in scenes] == [(1, 7), (10, 11), (1, 11)], scenes
assert scenes[0]["keywords"] == "door slam wood", scenes[0]["keywords"]
one = scenes[1]["keywords"]
assert one == "é" * 63, (len(one.encode()), one)
every = scenes[2]["keywords"]
want = "door slam wood " + sys.argv[2].strip()
assert len(every.encode()) <= 127 and want.startswith(every) and want[len(every)] == " ", every
assert len(every.encode()) > 120, every
PY

[ -n "${MORVANE_SMOKE_KEEP:-}" ] && mkdir -p "$MORVANE_SMOKE_KEEP" && cp "$work"/shots/*.png "$MORVANE_SMOKE_KEEP"/
if [ $failures -eq 0 ]; then echo "app selection: all checks passed"; exit 0; fi
echo "app selection: $failures check(s) failed"
exit 1
