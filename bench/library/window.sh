#!/usr/bin/env bash
# The Library tab with a generated 100,000-file library, driven as a user would under a
# virtual display: open the tab, switch to the library, search, scroll the list, open
# Similar. Prints the frame times of each step (median, 95th percentile, longest) and
# the frame time of an idle window for comparison; never part of the test run.
#   bench/library/window.sh build/release/src/morvane build/release/bench/bench_library
set -euo pipefail
app="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
bench="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config" MV_UPDATE_URL=""
export LIBGL_ALWAYS_SOFTWARE=1 LP_NUM_THREADS=0 MORVANE_DATA_DIR="$work/shipped" TMPDIR="$work"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$MORVANE_DATA_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
"$bench" --write-index "$HOME/Documents/Morvane/Libraries"
cat > "$work/browse.script" <<'SCRIPT'
wait 5
frame-times start
wait 60
frame-times idle
frame-times start
click @tab:Library
wait-ms 2000
frame-times opening the tab, first 2 s (the libraries are read in the background)
frame-times start
wait-ms 2000
frame-times the tab open, next 2 s
wait 5
click @lib:search
frame-times start
type +slam -metal
wait 30
frame-times searching "+slam -metal" as it is typed
key ctrl+a
frame-times start
type door*
wait 30
frame-times searching "door*"
click @lib:file:3
frame-times start
click @lib:similar
wait 30
frame-times Similar
click @lib:similar:close
wait 5
move @lib:file:3
frame-times start
wheel -10
wait 5
wheel -10
wait 5
wheel -10
wait 5
wheel -10
wait 5
wheel -10
wait 20
frame-times scrolling the list
screenshot library-100k
dump-state WORK/state.txt
quit
SCRIPT
sed -i "s|WORK|$work|g" "$work/browse.script"
xvfb-run -a -s "-screen 0 1600x900x24" "$app" --ui-script "$work/browse.script" --screenshot "$work" \
  > "$work/app.log" 2>&1 || { tail -20 "$work/app.log"; exit 1; }
grep '^\[Frames\]' "$work/app.log"
awk '$1 == "library" { print "library in the window:", $2, $3, $4 }' "$work/state.txt"
