#!/usr/bin/env bash
# The desktop program as a user meets it, under a virtual X display with Mesa's software
# OpenGL: scripted menus and keys, screenshots, a failing check, and the hand-over of a
# project from a second start to the running copy.
#   app_smoke.sh PATH/TO/morvane
. "$(dirname "$0")/app_env.sh" "$1"
without_demo_content
# MORVANE_SMOKE_KEEP=DIR keeps the screenshots there for a look.
xrun() { xvfb-run -a -s "-screen 0 1600x900x24" "$@"; }

# PNG signature and the size in its header.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print ($1*16777216+$2*65536+$3*256+$4) "x" ($5*16777216+$6*65536+$7*256+$8)}'; }
is_png() { [ "$(od -An -tx1 -N8 "$1" | tr -d ' \n')" = "89504e470d0a1a0a" ]; }

# 1. Menus, the title bar, a text field with the keyboard, accelerators, shortcuts, a fault.
mkdir -p "$XDG_CONFIG_HOME/Morvane"
printf 'recentProject=/films/a.mvproj\nrecentProject=/films/b.mvproj\n' > "$XDG_CONFIG_HOME/Morvane/com.morvane.prefs"
mkdir -p "$work/drop/Foley"
touch "$work/drop/door.WAV" "$work/drop/notes.txt" "$work/drop/rain.flac"
cat > "$work/menu.script" <<'SCRIPT'
wait 3
screenshot start
# The custom title bar: empty caption moves the window, menus and buttons are controls.
expect-hit 700 17 caption
expect-hit 98 17 normal
expect-hit 1257 17 normal
expect-hit 1165 17 normal
expect-hit 400 400 normal
expect-hit 640 2 resize
expect-hit 0 400 resize
expect-hit 1279 719 resize
# Alt and a menu's mnemonic open it, without choosing the item of the same letter;
# then an item's letter chooses it.
key alt+c
expect-popup-open
wait 2
expect-command none
key r
expect-command render
open-menu File
expect-popup-open
screenshot file-menu
move @submenu:Open Recent
wait 3
screenshot recent-menu
click @item:/films/b.mvproj
expect-command open-recent:1
expect-status File not found
open-menu Composition
move @submenu:Place Recipe
wait 3
screenshot composition-menu
click @video
# The eleven accelerators act while a text field has the keyboard.
click @description
expect-text-focus
type Door slams, then rain
key ctrl+n
expect-command new
key ctrl+o
expect-command open
key ctrl+shift+s
expect-command save-as
key ctrl+w
expect-command close
key ctrl+shift+1
expect-command project-launcher
key ctrl+equals
expect-command zoom-in
key ctrl+minus
expect-command zoom-out
key ctrl+0
expect-command zoom-fit
key f1
expect-command user-guide
# The interface's own shortcuts leave a text field its Ctrl+Z.
key ctrl+z
wait 3
expect-command user-guide
expect-text-focus
screenshot typed
key ctrl+comma
expect-command settings
key ctrl+shift+e
expect-command export
# Open and Save As left their file browser up; Escape closes it.
key escape
wait 2
# Outside a text field they are menu commands. Saving an untitled project asks where.
click @video
key ctrl+s
expect-command save
expect-popup-open
key escape
wait 2
key ctrl+shift+z
expect-command redo
# Dropped from the desktop: the folder goes to the library, which scans it (it is
# empty), the two sound files become Clips at the playhead, the text file is ignored.
drop DROPDIR/Foley DROPDIR/door.WAV DROPDIR/notes.txt DROPDIR/rain.flac
expect-dropped 0 0
expect-events 2
wait-ms 1000
expect-status No audio files found.
# A fault in the interface code of one frame is dropped; the program goes on.
throw
wait 3
key ctrl+z
expect-command undo
open-menu Help
move @item:About Morvane
wait 1
click @item:About Morvane
wait 3
screenshot about
key escape
wait 2
open-menu File
move @submenu:Open Recent
wait 2
click @item:Clear Menu
wait 2
quit
SCRIPT
sed -i "s|DROPDIR|$work/drop|g" "$work/menu.script"
mkdir -p "$work/shots"
xrun "$app" --ui-script "$work/menu.script" --screenshot "$work/shots" > "$work/menu.log" 2>&1
rc=$?
[ $rc -eq 0 ] || { fail "scripted session exited $rc"; cat "$work/menu.log"; }
for name in start file-menu recent-menu composition-menu typed about; do
  shot="$work/shots/$name.png"
  if [ ! -s "$shot" ] || ! is_png "$shot"; then fail "no screenshot $name.png"; continue; fi
  [ "$(png_size "$shot")" = "1280x720" ] || fail "$name.png is $(png_size "$shot"), not 1280x720"
done
# An open menu changes the picture; identical pictures would mean the click did nothing.
cmp -s "$work/shots/start.png" "$work/shots/file-menu.png" && fail "the File menu did not open"
grep -q '^\[UI\] uiScale=1.00, autoFontPreset=Medium$' "$work/menu.log" || fail "no uiScale line"
# "Clear Menu" emptied the recent list that was saved.
grep -q '^recentProject=' "$XDG_CONFIG_HOME/Morvane/com.morvane.prefs" && fail "Clear Menu left recent projects"
# The preferences were read on the first frame and written at shutdown.
[ -f "$XDG_CONFIG_HOME/Morvane/com.morvane.prefs" ] || fail "preferences not saved at shutdown"
[ -e "$XDG_RUNTIME_DIR/morvane.sock" ] && fail "socket left behind after a clean exit"

# 2. Closing with unsaved changes to a project with events asks first; with no events
#    it quits at once. "Discard" then quits.
printf '{"format": "Morvane", "version": 5, "minReaderVersion": 1,\n "events": [{"time": 1.5, "duration": 2.0}]}\n' \
  > "$work/Cue 7.mvproj"
cat > "$work/unsaved.script" <<'SCRIPT'
wait 3
click @description
type changed
click @video
quit
wait 3
expect-popup-open
screenshot unsaved
click @Discard
SCRIPT
xrun "$app" "$work/Cue 7.mvproj" --ui-script "$work/unsaved.script" --screenshot "$work/shots" > "$work/unsaved.log" 2>&1
rc=$?
[ $rc -eq 0 ] || { fail "the unsaved-changes session exited $rc"; cat "$work/unsaved.log"; }
[ -s "$work/shots/unsaved.png" ] || fail "no screenshot of the Unsaved card"
cmp -s "$work/Cue 7.mvproj" <(printf '{"format": "Morvane", "version": 5, "minReaderVersion": 1,\n "events": [{"time": 1.5, "duration": 2.0}]}\n') ||
  fail "Discard changed the project file"

# 3. A check that does not hold fails the run with exit code 3 and names the line.
printf 'wait 2\nkey ctrl+n\nexpect-command open\n' > "$work/bad.script"
xrun "$app" --ui-script "$work/bad.script" > "$work/bad.log" 2>&1
rc=$?
[ $rc -eq 3 ] || fail "a failed expectation exited $rc, not 3"
grep -q 'script line 3: expected command open, last was new' "$work/bad.log" || { fail "no failure line"; cat "$work/bad.log"; }

# 4. A second start with a project hands it over and exits 0 at once, without a display.
printf 'wait-ms 6000\nquit\n' > "$work/wait.script"
xrun "$app" --ui-script "$work/wait.script" > "$work/first.log" 2>&1 &
first=$!
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/morvane.sock" ] && break; sleep 0.1; done
[ -S "$XDG_RUNTIME_DIR/morvane.sock" ] || fail "the running copy made no socket"
project="$work/Reel 2/Sc"$'\xc3\xa8'"ne.MVPROJ"   # UTF-8, a space, the extension in capitals
start=$(date +%s%N)
DISPLAY= timeout 10 "$app" "$project" > "$work/second.log" 2>&1
rc=$?
took=$(( ($(date +%s%N) - start) / 1000000 ))
[ $rc -eq 0 ] || { fail "the second start exited $rc"; cat "$work/second.log"; }
[ $took -lt 3000 ] || fail "the second start took ${took} ms"
# A relative path means the second start's folder, not the running copy's.
(cd "$work/drop" && DISPLAY= timeout 10 "$app" "../Reel 3.mvproj" > "$work/third.log" 2>&1) ||
  fail "the relative hand-over exited $?"
wait $first
rc=$?
[ $rc -eq 0 ] || fail "the first copy exited $rc"
grep -qF "[UI] project handed over by a second start: $project" "$work/first.log" ||
  { fail "the running copy did not receive the project"; cat "$work/first.log"; }
grep -qF "[UI] project handed over by a second start: $work/Reel 3.mvproj" "$work/first.log" ||
  fail "a relative project path was not made absolute"

# 5. A socket left by a copy that died does not stop the next start.
python3 -c "import socket,sys; s=socket.socket(socket.AF_UNIX); s.bind(sys.argv[1])" "$XDG_RUNTIME_DIR/morvane.sock"
printf 'wait 2\nquit\n' > "$work/quit.script"
xrun "$app" --ui-script "$work/quit.script" > "$work/stale.log" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "start over a stale socket exited $rc"
grep -q "another Morvane is running" "$work/stale.log" && fail "a stale socket was taken for a running copy"

[ -n "${MORVANE_SMOKE_KEEP:-}" ] && mkdir -p "$MORVANE_SMOKE_KEEP" && cp "$work"/shots/*.png "$MORVANE_SMOKE_KEEP"/
if [ $failures -eq 0 ]; then echo "app smoke: all checks passed"; exit 0; fi
echo "app smoke: $failures check(s) failed"
exit 1
