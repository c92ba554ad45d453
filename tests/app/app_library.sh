#!/usr/bin/env bash
# The Library tab as a user drives it, under a virtual X display: a folder of sounds
# added through the file browser and scanned in the background, a second folder
# dropped on the window, a search, a file dragged onto the timeline (a Clip appears at
# the drop time), a palette saved from the selection, a file dragged from the list of
# similar files, and a library removed after its confirmation card (its index goes,
# its sound files stay). Then, with the program started again: a library switched off
# gives no sound to a render, and a missing file located at a file of other content
# asks first ("Cancel" keeps it missing, "Use anyway" relinks it).
#   app_library.sh PATH/TO/morvane
. "$(dirname "$0")/app_env.sh" "$1"
without_demo_content

# sounds FOLDER NAME...: one short mono 48 kHz tone per name.
sounds() {
  local folder=$1; shift
  mkdir -p "$folder"
  python3 - "$folder" "$@" <<'PY'
import math, struct, sys, wave
folder = sys.argv[1]
for i, name in enumerate(sys.argv[2:]):
    with wave.open(f"{folder}/{name}.wav", "wb") as w:
        w.setnchannels(1); w.setsampwidth(2); w.setframerate(48000)
        frames = 24000 + 4800 * i
        w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * (220 + 90 * i) * n / 48000)))
                               for n in range(frames)))
PY
}
sounds "$work/sounds" DOORWood_Creak DOORWood_Slam_01 DOORWood_Slam_02 METLImpt_Clang WINDGust_Howl
sounds "$work/more" AMBForst_Birds FOLYCloth_Rustle
echo "not a sound" > "$work/sounds/notes.txt"

cat > "$work/library.script" <<'SCRIPT'
wait 3
menu tab-library
wait 2
click @lib:add-folder
wait 2
click @browser:name
type WORK/sounds
click @browser:accept
wait-ms 3000
expect-status Done! 5 files indexed.
drop WORK/more
wait-ms 3000
expect-status Done! 2 files indexed.
dump-state WORK/scanned.txt
# Only the slams: the first row is now the first slam, whatever the sort.
click @lib:search
type +slam -02
wait 3
screenshot library
press @lib:file:0
wait 2
move @lane:1
wait 2
move @lane:2
wait 2
release
wait 3
expect-events 1
dump-state WORK/placed.txt
click @lib:file:0
wait 2
click @lib:save-palette
wait 3
dump-state WORK/palette.txt
click @lib:similar
wait 3
screenshot similar
press @lib:similar:0
wait 2
move @lane:1
wait 2
move @lane:3
wait 2
release
wait 3
expect-events 2
dump-state WORK/similar.txt
click @lib:more:menu
wait 2
click @lib:more:remove
wait 3
click @lib:confirm-remove
wait 3
dump-state WORK/removed.txt
screenshot after
SCRIPT
run library

line() { grep "^library $2 " "$1"; }
[ -n "$(line "$work/scanned.txt" sounds | grep 'files 5 enabled 1')" ] || fail "the added folder is not a library of 5 files: $(cat "$work/scanned.txt")"
[ -n "$(line "$work/scanned.txt" more | grep 'files 2 ')" ] || fail "the dropped folder was not scanned"
clip=$(grep '^event 0 ' "$work/placed.txt")
echo "$clip" | grep -q 'shape Clip' || fail "no Clip after the drag: $clip"
echo "$clip" | grep -q 'DOORWood_Slam_01' || fail "the Clip is not the searched file: $clip"
time=$(echo "$clip" | awk '{ print $4 }')
awk -v t="$time" 'BEGIN { exit !(t > 1.5 && t < 2.5) }' || fail "the Clip starts at $time, not at the drop time 2"
[ -n "$(grep '^library sounds_Palette files 1 enabled 1 weight -1 palette 1' "$work/palette.txt")" ] \
  || fail "no palette: $(cat "$work/palette.txt")"
[ -z "$(line "$work/removed.txt" more)" ] || fail "the removed library is still listed"
[ -f "$work/more/AMBForst_Birds.wav" ] || fail "removing the library touched its sound files"
index=$(find "$HOME" -name 'more.mvlib' | head -1)
[ -z "$index" ] || fail "the removed library's index is still there: $index"
[ -n "$(find "$HOME" -name 'sounds.mvlib')" ] || fail "no index for the added folder"
grep -q '^libraryEx=.*/sounds|1|-1' "$XDG_CONFIG_HOME"/*/* "$HOME"/.*/* 2>/dev/null || \
  grep -rq 'libraryEx=.*sounds|1|-1' "$HOME" || fail "the added folder is not in the preferences"
similar=$(grep '^event 1 ' "$work/similar.txt")
echo "$similar" | grep -q 'shape Clip' || fail "no Clip after dragging a similar file: $similar"
echo "$similar" | grep -q 'DOORWood_Slam_01' && fail "the file itself is listed as similar to itself: $similar"

# Started again over the same libraries. The added folder is switched off in the tab
# (its index file still says enabled), events are made and the timeline rendered: only
# the palette's one file may sound. Then a missing file is located at another file.
mv "$work/sounds/WINDGust_Howl.wav" "$work/gone.wav"
sounds "$work/other" A_Different_Sound
cat > "$work/relink.script" <<'SCRIPT'
wait 3
menu tab-library
wait 3
click @lib:sounds:enabled
wait 2
menu create-spot
wait 2
menu render
wait-audio 120
wait 3
dump-state WORK/disabled.txt
# The missing file is below the browser: scroll the tab down to it.
move @lib:add-folder
wheel -10
wait 2
screenshot missing
click @lib:locate:0
wait 2
click @browser:name
type WORK/other/A_Different_Sound.wav
click @browser:accept
wait 3
expect-popup-open
screenshot different-content
click @lib:locate-cancel
wait 2
dump-state WORK/cancelled.txt
move @lib:add-folder
wheel -10
wait 2
click @lib:locate:0
wait 2
click @browser:name
type WORK/other/A_Different_Sound.wav
click @browser:accept
wait 3
click @lib:use-anyway
wait 3
dump-state WORK/located.txt
SCRIPT
run relink

grep -q '^library sounds .*enabled 0' "$work/disabled.txt" || fail "the library was not switched off: $(grep '^library' "$work/disabled.txt")"
built=$(awk '$1 == "layer" && $12 != "-" { print $12 }' "$work/disabled.txt")
[ -n "$built" ] || fail "the render built no layers: $(grep '^event\|^layer' "$work/disabled.txt" | head -3)"
echo "$built" | grep -v 'DOORWood_Slam_01' | grep -q . && fail "a switched-off library's file was built: $(echo "$built" | sort -u | tr '\n' ' ')"
grep -q "^missing $work/sounds/WINDGust_Howl.wav" "$work/disabled.txt" || fail "the moved file is not missing: $(grep '^missing' "$work/disabled.txt")"
grep -q "^missing $work/sounds/WINDGust_Howl.wav" "$work/cancelled.txt" || fail "Cancel on the different-content card relinked the file"
grep -q '^missing' "$work/located.txt" && fail "Use anyway left the file missing: $(grep '^missing' "$work/located.txt")"
[ -f "$work/shots/different-content.png" ] || fail "no screenshot of the different-content card"

[ -f "$work/shots/library.png" ] || fail "no screenshot"
[ -n "${SHOTS_OUT:-}" ] && cp "$work/shots/"*.png "$SHOTS_OUT/"
[ $failures -eq 0 ] && echo "app_library: all checks passed"
exit $((failures > 0))
