#!/usr/bin/env bash
# The Library tab as a user drives it, under a virtual X display: a folder of sounds
# added through the file browser and scanned in the background, a second folder
# dropped on the window, a search, a file dragged onto the timeline (a Clip appears at
# the drop time), a palette saved from the selection, and a library removed after its
# confirmation card (its index goes, its sound files stay).
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
[ -f "$work/shots/library.png" ] || fail "no screenshot"
[ -n "${SHOTS_OUT:-}" ] && cp "$work/shots/"*.png "$SHOTS_OUT/"
[ $failures -eq 0 ] && echo "app_library: all checks passed"
exit $((failures > 0))
