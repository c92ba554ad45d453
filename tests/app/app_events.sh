#!/usr/bin/env bash
# The layers of an event in the Events tab, as a user works with them: the demo
# project (made by morvane-cli) is opened and its audio rendered; an event is
# selected and one of its layers is given a fresh sound, stepped back to the old one
# and forward again; another layer's file is banned (it leaves the event at once) and
# a third is liked; after Composition > Render the liked file is still there and the
# banned one is nowhere. An edit of the event's keywords is heard without a Render.
#   app_events.sh PATH/TO/morvane PATH/TO/morvane-cli
. "$(dirname "$0")/app_env.sh" "$1"
cli="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
"$cli" demo --out "$work/demo" > "$work/make-demo.log" 2>&1 || { fail "morvane-cli demo failed"; cat "$work/make-demo.log"; exit 1; }
project="$work/demo/Morvane Demo Mix.mvproj"
# layer-file STATE EVENT K: the file of the event's K-th layer (from 0).
layer_file() { awk -v e="$2" -v k="$3" '$1 == "layer" && $4 == e { if (n++ == k) print $12 }' "$1"; }
# event-files STATE EVENT: the files of the event's layers, one a line.
event_files() { awk -v e="$2" '$1 == "layer" && $4 == e { print $12 }' "$1"; }
# layer-field STATE EVENT K NAME: a value on the event's K-th layer line.
layer_field() { awk -v e="$2" -v k="$3" -v f="$4" '$1 == "layer" && $4 == e { if (n++ == k) for (i = 1; i < NF; ++i) if ($i == f) print $(i + 1) }' "$1"; }

# The door slam (event 2, a Spot) is the event worked on.
cat > "$work/layers.script" <<'SCRIPT'
wait 3
wait-audio 120
click @tab:Events
click @event:2
expect-selected 1
# The layers are below the event's settings: scroll the tab down to them.
move @keywords
wheel -11
wait 3
dump-state WORK/start.txt
screenshot layers
# A fresh sound for the first layer.
click @layer:0:next
wait 2
wait-audio 60
wait 3
dump-state WORK/next.txt
screenshot next-sound
# Back to the sound before, and forward again through the history.
click @layer:0:prev
wait-audio 60
wait 2
dump-state WORK/back.txt
click @layer:0:next
wait-audio 60
wait 2
dump-state WORK/forward.txt
# The second layer's file is banned: the event is built again without it.
click @layer:1:ban
wait 2
dump-state WORK/ban-made.txt
wait-audio 60
wait 3
dump-state WORK/banned.txt
# The first layer's sound is liked, then the whole timeline is rendered again.
click @layer:0:like
wait 2
dump-state WORK/liked.txt
screenshot liked
menu render
wait 2
wait-audio 120
wait 3
dump-state WORK/rendered.txt
screenshot rendered
# Undo takes the render back; once more takes the like back.
key ctrl+z
key ctrl+z
wait 2
dump-state WORK/unliked.txt
# New keywords for the event: it is built again and heard without a Render.
move @layer:0:prev
wheel 30
wait 2
click @keywords
key ctrl+a
type metal clang
key enter
wait 2
wait-audio 60
wait 3
dump-state WORK/keywords.txt
SCRIPT
MV_RENDER_TIMING=1 run layers "$project"

start_file=$(layer_file "$work/start.txt" 2 0)
next_file=$(layer_file "$work/next.txt" 2 0)
[ -n "$start_file" ] && [ "$start_file" != - ] || fail "the demo's door slam has no built layers: $(grep '^layer' "$work/start.txt" | head -3)"
[ -n "$next_file" ] && [ "$next_file" != "$start_file" ] || fail "Next sound kept $start_file"
event_files "$work/start.txt" 2 | grep -qxF "$next_file" && fail "Next sound chose $next_file, which the event already played"
[ "$(layer_field "$work/next.txt" 2 0 history)" -ge 1 ] || fail "the old sound is not in the layer's history"
[ "$(layer_file "$work/back.txt" 2 0)" = "$start_file" ] || fail "Previous sound gave $(layer_file "$work/back.txt" 2 0), not $start_file"
[ "$(layer_file "$work/forward.txt" 2 0)" = "$next_file" ] || fail "Next sound (history) gave $(layer_file "$work/forward.txt" 2 0), not $next_file"

banned=$(layer_file "$work/forward.txt" 2 1)
grep -qxF "banned $banned" "$work/ban-made.txt" || fail "the ban of $banned is not in the project: $(grep '^banned' "$work/ban-made.txt")"
event_files "$work/banned.txt" 2 | grep -qxF "$banned" && fail "the banned $banned is still in the event after its rebuild"
liked=$(layer_file "$work/liked.txt" 2 0)
[ "$(layer_field "$work/liked.txt" 2 0 pinned)" = 1 ] || fail "Like did not pin $liked"
event_files "$work/rendered.txt" 2 | grep -qxF "$liked" || fail "the liked $liked left the event in a full render"
awk '$1 == "layer" { print $12 }' "$work/rendered.txt" | grep -qxF "$banned" && fail "the banned $banned came back in a full render"
[ "$(layer_field "$work/unliked.txt" 2 0 pinned)" = 0 ] || fail "undo did not take the like back"
[ "$(grep -c "EDIT-TO-SOUND | 1 event" "$work/layers.log")" -ge 1 ] || fail "the keyword edit was not built and heard on its own"
[ "$(event_files "$work/keywords.txt" 2 | wc -l)" -ge 3 ] || fail "the event lost its layers after the keyword edit"
grep "RenderTiming" "$work/layers.log" | sed 's/^/  /'

[ -n "${MORVANE_SMOKE_KEEP:-}" ] && mkdir -p "$MORVANE_SMOKE_KEEP" && cp "$work"/shots/*.png "$MORVANE_SMOKE_KEEP"/
if [ $failures -eq 0 ]; then echo "app events: all checks passed"; exit 0; fi
echo "app events: $failures check(s) failed"
exit 1
