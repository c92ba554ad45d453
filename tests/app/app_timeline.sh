#!/usr/bin/env bash
# The timeline and the project commands as a user drives them, under a virtual X
# display with Mesa's software OpenGL: events made from the Composition menu, dragged,
# undone, grouped, locked and deleted; Save As through the file browser, the saved file
# read back, the project reopened; an accelerator while a text field has the keyboard;
# the "Unsaved" card when closing and when starting a new project.
#   app_timeline.sh PATH/TO/morvane
. "$(dirname "$0")/app_env.sh" "$1"
without_demo_content
# field STATE INDEX KEY: a value of one event line of a dump-state file.
field() { awk -v i="$2" -v k="$3" '$1 == "event" && $2 == i { for (n = 3; n < NF; n += 2) if ($n == k) print $(n + 1) }' "$1"; }

# 1. Make, drag, undo, save through the browser.
cat > "$work/edit.script" <<'SCRIPT'
wait 3
screenshot empty
menu create-spot
expect-events 1
# A click in the empty lanes puts the playhead there; the next event starts at it.
click @lane:23
wait 2
menu create-bloom
expect-events 2
expect-selected 1
dump-state WORK/made.txt
drag @event:0 80 0
wait 3
dump-state WORK/dragged.txt
key ctrl+z
wait 2
dump-state WORK/undone.txt
key ctrl+shift+z
wait 2
dump-state WORK/redone.txt
key ctrl+z
wait 2
# Select both, group them, and a click on one selects its whole folder.
key ctrl+a
key ctrl+g
click @lane:23
expect-selected 0
click @event:1
expect-selected 2
# Locked events survive a delete.
key ctrl+l
key delete
expect-status Locked events are not deleted
expect-events 2
key ctrl+l
key delete
expect-events 0
key ctrl+z
expect-events 2
dump-state WORK/grouped.txt
# Dragging an event's right end changes its length; the ruler moves the playhead, and
# the work area's ends are set at it.
drag @event-end:1 40 0
click @ruler:10
menu set-in
click @ruler:20
menu set-out
wait 2
dump-state WORK/resized.txt
# Copy and paste at the playhead (20 s), keeping the events' spacing; undo takes it back.
click @event:0
key ctrl+c
key ctrl+v
expect-events 4
dump-state WORK/pasted.txt
key ctrl+z
expect-events 2
# Ctrl+S on an untitled project asks for a place.
key ctrl+s
expect-popup-open
wait 2
screenshot save-as
key ctrl+a
type WORK/films/Reel 1
key enter
expect-status Project saved
wait 2
dump-state WORK/saved.txt
SCRIPT
run edit
made="$work/made.txt"; dragged="$work/dragged.txt"; undone="$work/undone.txt"; redone="$work/redone.txt"
[ "$(field "$made" 0 shape)" = Spot ] && [ "$(field "$made" 1 shape)" = Bloom ] ||
  fail "the menu did not make a Spot and a Bloom: $(cat "$made")"
[ "$(field "$made" 0 time)" = 0.000 ] || fail "the first event is not at the playhead 0: $(field "$made" 0 time)"
t1=$(field "$made" 1 time)
awk -v t="$t1" 'BEGIN { exit !(t > 15 && t < 30) }' || fail "the second event is not at the clicked playhead: $t1"
[ "$(field "$made" 1 selected)" = 1 ] && [ "$(field "$made" 0 selected)" = 0 ] || fail "a new event is not selected alone"
td=$(field "$dragged" 0 time)
awk -v t="$td" 'BEGIN { exit !(t > 1.0 && t < 3.0) }' || fail "dragging 80 pixels moved the Spot to $td s"
[ "$(field "$dragged" 1 time)" = "$t1" ] || fail "the drag moved an event that was not selected"
[ "$(field "$undone" 0 time)" = 0.000 ] || fail "undo left the Spot at $(field "$undone" 0 time)"
[ "$(field "$redone" 0 time)" = "$td" ] || fail "redo did not bring the drag back"
grouped="$work/grouped.txt"
[ "$(field "$grouped" 0 folder)" = Group_1 ] && [ "$(field "$grouped" 1 folder)" = Group_1 ] ||
  fail "grouping did not put both events in one folder: $(cat "$grouped")"
[ "$(field "$grouped" 0 locked)" = 0 ] || fail "the lock did not toggle back"
resized="$work/resized.txt"
awk -v d="$(field "$resized" 1 duration)" 'BEGIN { exit !(d > 2.8 && d < 3.2) }' ||
  fail "dragging the end 40 pixels made the Bloom $(field "$resized" 1 duration) s long"
[ "$(field "$resized" 0 duration)" = 1.000 ] || fail "the resize changed another event"
awk '$1 == "workarea" { exit !($2 > 9.8 && $2 < 10.2 && $3 > 19.8 && $3 < 20.2) }' "$resized" ||
  fail "the work area is not 10..20 s: $(grep workarea "$resized")"
pasted="$work/pasted.txt"
p0=$(field "$pasted" 2 time); p1=$(field "$pasted" 3 time)
awk -v a="$p0" -v b="$p1" -v t="$t1" 'BEGIN { exit !(a > 19.8 && a < 20.2 && b - a > t - 0.01 && b - a < t + 0.01) }' ||
  fail "pasted events at $p0 and $p1, not at the playhead with their spacing"
[ "$(field "$pasted" 2 selected)" = 1 ] && [ "$(field "$pasted" 0 selected)" = 0 ] || fail "the pasted events are not the selection"
[ "$(field "$pasted" 2 folder)" = Group_2 ] && [ "$(field "$pasted" 3 folder)" = Group_2 ] ||
  fail "the pasted copies of a group are not a group of their own: $(field "$pasted" 2 folder)"
saved="$work/films/Reel 1.mvproj"
[ -f "$saved" ] || fail "Save As did not write $saved (the extension is added)"
[ "$(value "$work/saved.txt" modified)" = 0 ] || fail "the project is still modified after saving"
grep -q "^project $saved\$" "$work/saved.txt" || fail "the saved path is not the project path"
# The file holds what the timeline showed.
python3 - "$saved" "$t1" <<'PY' || fail "the saved project does not hold the two events"
import json, sys
doc = json.load(open(sys.argv[1]))
events = doc["events"]
assert [e["shape"] for e in events] == [0, 1], events
assert abs(events[0]["time"]) < 1e-6 and abs(events[1]["time"] - float(sys.argv[2])) < 2e-3
assert all(e.get("folder") == "Group 1" for e in events)
assert abs(doc["workAreaIn"] - 10) < 0.3 and abs(doc["workAreaOut"] - 20) < 0.3, doc.get("workAreaIn")
PY

# 2. Reopen from the menu; an accelerator while the keywords field has the keyboard;
#    closing with unsaved changes shows the card, and Discard keeps the file.
cp "$saved" "$work/saved-copy.mvproj"
cat > "$work/reopen.script" <<'SCRIPT'
wait 3
menu open
expect-popup-open
wait 2
type WORK/films/missing.mvproj
key enter
wait 2
screenshot open-missing
expect-popup-open
key ctrl+a
type WORK/films/Reel 1.mvproj
key enter
expect-status Project opened
expect-events 2
click @event:0
expect-selected 2
click @keywords
expect-text-focus
type door slam
key ctrl+equals
expect-command zoom-in
expect-text-focus
type , wood
click @video
wait 2
screenshot events-selected
dump-state WORK/reopened.txt
quit
wait 3
expect-popup-open
screenshot unsaved
click @Discard
SCRIPT
run reopen
reopened="$work/reopened.txt"
[ "$(field "$reopened" 0 label)" = Door ] || fail "typing into the keywords field gave the label '$(field "$reopened" 0 label)'"
grep -q 'label Door Slam Wood$' "$reopened" || fail "the keywords typed after the accelerator were lost: $(cat "$reopened")"
[ "$(value "$reopened" modified)" = 1 ] || fail "editing keywords did not mark the project modified"
cmp -s "$saved" "$work/saved-copy.mvproj" || fail "Discard changed the project file"
cmp -s "$work/shots/events-selected.png" "$work/shots/unsaved.png" && fail "the Unsaved card did not show"

# 3. New with unsaved changes asks; Save writes the project, then the new one starts.
cat > "$work/new.script" <<'SCRIPT'
wait 3
expect-events 2
menu create-fill
expect-events 3
key ctrl+n
expect-popup-open
click @Save
wait 3
expect-events 0
dump-state WORK/new.txt
# Markers from a session text export join the new project (read on the job's thread).
menu import-markers
expect-popup-open
wait 2
type WORK/films/session.txt
key enter
expect-status 2  markers imported from Pro Tools, review on the timeline
expect-events 2
dump-state WORK/markers.txt
# Save As onto a file that exists asks for a second press before replacing it.
key ctrl+shift+s
wait 2
key ctrl+a
type WORK/films/other
key enter
wait 3
expect-popup-open
dump-state WORK/not-replaced.txt
screenshot replace
key enter
expect-status Project saved
SCRIPT
printf '{"format": "Morvane", "version": 5, "minReaderVersion": 1, "events": []}\n' > "$work/films/other.mvproj"
printf 'SAMPLE RATE:\t48000.000000\n\nM A R K E R S  L I S T I N G\n#   \tLOCATION     \tTIME REFERENCE    \tUNITS    \tNAME\n1\t00:00:01:00\t48000\tSamples\tDoor slam\n2\t00:00:02:12\t\tSamples\tGlass\n' \
  > "$work/films/session.txt"
run new "$saved"
markers="$work/markers.txt"
[ "$(field "$markers" 0 time)" = 1.000 ] && [ "$(field "$markers" 1 time)" = 2.500 ] ||
  fail "the markers landed at $(field "$markers" 0 time) and $(field "$markers" 1 time), not 1 and 2.5 s"
grep -q '^project -$' "$work/not-replaced.txt" || fail "the first Save onto an existing file saved"
python3 - "$work/films/other.mvproj" <<'PY' || fail "the second Save did not replace the existing file"
import json, sys
assert len(json.load(open(sys.argv[1]))["events"]) == 2
PY
python3 - "$saved" <<'PY' || fail "Save on the card did not write the third event"
import json, sys
assert [e["shape"] for e in json.load(open(sys.argv[1]))["events"]] == [0, 1, 3]
PY
grep -q '^project -$' "$work/new.txt" || fail "the new project kept the old path"

# 4. Far-out times from a damaged or foreign file are drawn without hanging the window:
#    the view fits them, scrolls to them and zooms in on them.
printf '{"format": "Morvane", "version": 5, "minReaderVersion": 1, "events": [{"time": 1e9, "duration": 1e9}, {"time": 2, "duration": 1e-9}]}\n' \
  > "$work/films/far.mvproj"
cat > "$work/far.script" <<'SCRIPT'
wait 3
key ctrl+0
wait 2
key ctrl+equals
key ctrl+equals
click @ruler
wait 2
screenshot far
expect-events 2
SCRIPT
run far "$work/films/far.mvproj"

[ -n "${MORVANE_SMOKE_KEEP:-}" ] && mkdir -p "$MORVANE_SMOKE_KEEP" && cp "$work"/shots/*.png "$MORVANE_SMOKE_KEEP"/
if [ $failures -eq 0 ]; then echo "app timeline: all checks passed"; exit 0; fi
echo "app timeline: $failures check(s) failed"
exit 1
