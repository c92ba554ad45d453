#!/usr/bin/env bash
# The Events tab's settings as a user works with them: the demo project (made by
# morvane-cli) has its door slam given unusual settings; the user saves them as a
# recipe, saves again under the same name (and is asked before the file is replaced),
# applies the recipe to another event and saves the project: every setting a recipe
# carries arrived. The project's scale is changed in the Project view and the project
# saved: the file holds the new scale and the built layers were rendered again. A
# scene is renamed and given a background from the Lists view. Screenshots of the
# inspector, the lists and the project settings are kept for a look.
#   app_inspector.sh PATH/TO/morvane PATH/TO/morvane-cli
. "$(dirname "$0")/app_env.sh" "$1"
cli="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
"$cli" demo --out "$work/demo" > "$work/make-demo.log" 2>&1 || { fail "morvane-cli demo failed"; cat "$work/make-demo.log"; exit 1; }
project="$work/demo/Morvane Demo Mix.mvproj"

# The door slam (event 2) gets settings no demo event has, and the project a scene.
python3 - "$project" <<'PY' || { fail "the demo project could not be prepared"; exit 1; }
import json, sys
path = sys.argv[1]
doc = json.load(open(path))
e = doc["events"][2]
e.update({"keywords": "door slam heavy", "syncOffset": 0.125, "weightOffset": -0.25, "intensityMode": 2,
          "groupOverride": 2, "reverbSend": 0.4, "fillLayers": 5, "libFilter": "Demo Foley", "pitchVariation": 0.5,
          "spread": 0.61, "weightCenter": 0.42, "intensityScale": 1.5, "alloyMorph": 0.7, "stereo": True,
          "weight": [0.1 + 0.003 * i for i in range(256)], "intensity": [0.9 - 0.003 * i for i in range(256)]})
doc.setdefault("scenes", []).append({"name": "Street", "inTime": 4.0, "outTime": 9.0, "keywords": "traffic rain"})
json.dump(doc, open(path, "w"), indent=1)
PY

cat > "$work/inspector.script" <<'SCRIPT'
wait 3
wait-audio 120
click @tab:Events
click @event:2
expect-selected 1
wait 3
screenshot inspector-top
move @keywords
wheel -6
wait 3
screenshot inspector-middle
wheel -60
wait 3
screenshot inspector-recipes
click @recipe:name
type Door test
click @recipe:save
wait 3
# The same name again: the user is asked before the recipe file is replaced.
click @recipe:save
wait 2
expect-popup-open
screenshot recipe-overwrite
click @confirm:yes
wait 2
# The recipe goes to the bird (event 3).
click @event:3
expect-selected 1
wait 3
move @keywords
wheel -60
wait 3
click @recipe:Door test:apply
wait 3
dump-state WORK/applied.txt
key ctrl+s
wait 3
# The project's scale, from the Project view.
click @events:project
wait 3
click @settings:scale
wait 2
click @settings:scale:1
wait 3
screenshot project-settings
wait-audio 120
wait 3
key ctrl+s
wait 3
# The scene gets a new name and a Fill background from the Lists view.
click @events:lists
wait 3
click @scene:1:name
key ctrl+a
type Night street
key enter
wait 2
click @scene:1:Fill
wait 3
dump-state WORK/scene.txt
click @events:lists
wait 2
screenshot lists
key ctrl+s
wait 3
# A typed timecode moves the playhead; the arrows nudge the whoosh by frames and,
# with Shift, by a second; undo takes one nudge back.
click @goto
type 00:00:12:10
key enter
wait 2
dump-state WORK/goto.txt
click @event:1
wait 2
key right
key right
key shift+right
key left
wait 2
dump-state WORK/nudged.txt
key ctrl+z
wait 2
dump-state WORK/nudge-undone.txt
# The work area from 2 s to 3 s plays in a loop.
click @goto
key ctrl+a
type 00:00:02:00
key enter
menu set-in
click @goto
key ctrl+a
type 00:00:03:00
key enter
menu set-out
click @transport:loop
click @goto
key ctrl+a
type 00:00:02:00
key enter
click @transport:play
wait-ms 4000
dump-state WORK/looping.txt
click @transport:play
SCRIPT
MV_RENDER_TIMING=1 run inspector "$project"

found=$(find "$HOME" -name 'Door test.mvrecipe' | head -1)
[ -n "$found" ] || fail "the recipe file was not written under $HOME"
[ "$(find "$HOME" -name 'Door test*' | wc -l)" -eq 1 ] || fail "saving twice under one name made $(find "$HOME" -name 'Door test*' | wc -l) files"

# Every setting a recipe carries arrived at the bird; its place stayed.
python3 - "$project" <<'PY' || fail "the recipe did not carry the door slam's settings over"
import json, sys
doc = json.load(open(sys.argv[1]))
door, bird = doc["events"][2], doc["events"][3]
keys = ["keywords", "shape", "intensityMode", "duration", "syncOffset", "spread", "weightCenter", "intensityScale",
        "weightOffset", "alloyMorph", "pitchVariation", "reverbSend", "fillLayers", "groupOverride", "stereo",
        "libFilter", "weight", "intensity"]
bad = [k for k in keys if door.get(k) != bird.get(k)]
if bad:
    for k in bad: print("  %s: door %r, bird %r" % (k, str(door.get(k))[:60], str(bird.get(k))[:60]))
    sys.exit(1)
if bird.get("presetName") != "Door test":
    print("  the bird does not name its recipe: %r" % bird.get("presetName")); sys.exit(1)
if abs(bird["time"] - door["time"]) < 1e-6:
    print("  the bird moved onto the door slam"); sys.exit(1)
if doc.get("scaleType") != 1:
    print("  the saved scale is %r, not Major (1)" % doc.get("scaleType")); sys.exit(1)
scene = doc["scenes"][-1]
if scene["name"] != "Night street":
    print("  the scene is named %r" % scene["name"]); sys.exit(1)
fills = [e for e in doc["events"] if e.get("sceneFill") == 1 and e.get("sceneLink") == len(doc["scenes"]) - 1]
if len(fills) != 1 or fills[0]["shape"] != 3 or abs(fills[0]["time"] - scene["inTime"]) > 1e-4:
    print("  the scene's background is %r" % fills); sys.exit(1)
PY
# The new scale was heard: the built events were rendered again after it.
[ "$(grep -c 'RenderTiming' "$work/inspector.log")" -ge 2 ] || fail "nothing was rendered after the scale changed"

# event-time STATE N: the start of event N.
event_time() { awk -v n="$2" '$1 == "event" && $2 == n { print $4 }' "$1"; }
[ "$(value "$work/goto.txt" playhead)" = 12.400 ] || fail "Go to 00:00:12:10 put the playhead at $(value "$work/goto.txt" playhead)"
whoosh=$(event_time "$work/scene.txt" 1)
python3 - "$whoosh" "$(event_time "$work/nudged.txt" 1)" "$(event_time "$work/nudge-undone.txt" 1)" <<'PY' ||
import sys
before, nudged, undone = map(float, sys.argv[1:])
frame = 1 / 25
ok = abs(nudged - (before + 1 + frame)) < 0.002 and abs(undone - (before + 1 + 2 * frame)) < 0.002
if not ok: print("  whoosh at %.3f, nudged to %.3f, after one undo %.3f" % (before, nudged, undone))
sys.exit(0 if ok else 1)
PY
  fail "the arrow keys did not nudge the whoosh by frames and a second, one undo step each"

awk '$1 == "workarea" { exit !($2 == "2.000" && $3 == "3.000") }' "$work/looping.txt" ||
  fail "the work area is not 2 s to 3 s: $(grep workarea "$work/looping.txt")"
awk '$1 == "playhead" { exit !($2 >= 2.0 && $2 <= 3.1) }' "$work/looping.txt" ||
  fail "playing the looped work area left it: playhead $(value "$work/looping.txt" playhead)"

# The largest text: the Clip's and the Bed's inspectors and the whole project card, to
# look at for clipped labels.
mkdir -p "$XDG_CONFIG_HOME/Morvane"
printf 'fontSizePreset=2\nfontSizeAuto=0\n' > "$XDG_CONFIG_HOME/Morvane/com.morvane.prefs"
cat > "$work/large.script" <<'SCRIPT'
wait 3
wait-audio 120
click @tab:Events
click @event:6
wait 3
move @keywords
wheel -4
wait 3
screenshot large-clip
click @event:0
wait 3
move @keywords
wheel -8
wait 3
screenshot large-bed
click @events:project
wait 3
move @settings:scale
wheel -10
wait 3
screenshot large-project-settings
SCRIPT
run large "$project"
for shot in large-clip large-bed large-project-settings; do
  [ -s "$work/shots/$shot.png" ] || fail "no screenshot $shot"
done

[ -n "${MORVANE_SMOKE_KEEP:-}" ] && mkdir -p "$MORVANE_SMOKE_KEEP" && cp "$work"/shots/*.png "$MORVANE_SMOKE_KEEP"/
if [ $failures -eq 0 ]; then echo "app inspector: all checks passed"; exit 0; fi
echo "app inspector: $failures check(s) failed"
exit 1
