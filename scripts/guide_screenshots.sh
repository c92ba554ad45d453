#!/usr/bin/env bash
# Redraws the user guide's pictures (docs/guide/*.png) from the program itself: the
# demo project opened in the window under a virtual display, each view reached through
# the scripted interface as a user would reach it.
#   scripts/guide_screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh release > /dev/null
bin="$PWD/build/release/src"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config" MV_UPDATE_URL=""
export LIBGL_ALWAYS_SOFTWARE=1 LP_NUM_THREADS=0
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/shots"; chmod 700 "$XDG_RUNTIME_DIR"
"$bin/morvane-cli" demo --out "$work/demo" > "$work/demo.log" 2>&1 || { cat "$work/demo.log"; exit 1; }
cat > "$work/guide.script" <<'SCRIPT'
wait 3
wait-audio 120
click @ruler:28.0
wait 8
click @tab:Events
click @event:2
move @video
wait 5
screenshot events-selected
click @tab:Trace
wait 3
screenshot trace-tab
click @tab:Library
wait 5
screenshot library-tab
click @tab:Mixer
wait 3
screenshot mixer-tab
click @tab:Export
wait 3
screenshot export-tab
click @tab:Settings
wait 3
screenshot settings-tab
quit
SCRIPT
xvfb-run -a -s "-screen 0 1600x900x24" "$bin/morvane" "$work/demo/Morvane Demo Mix.mvproj" \
  --ui-script "$work/guide.script" --screenshot "$work/shots" > "$work/app.log" 2>&1 || { tail -20 "$work/app.log"; exit 1; }
mkdir -p docs/guide
cp "$work/shots"/*.png docs/guide/
ls docs/guide
