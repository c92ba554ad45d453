#!/usr/bin/env bash
# The Trace tab as a user drives it: the demo project (made by morvane-cli, with its
# reel) is opened, the picture is read from the tab and its proposals imported; then a
# session text export is imported twice from the File menu (the second replaces the
# first), with a bars|beats session starting at 01:00:00:00 and names saved in Mac Roman.
# Last, the command line refuses a session text without markers and changes nothing.
#   app_trace.sh PATH/TO/morvane PATH/TO/morvane-cli
. "$(dirname "$0")/app_env.sh" "$1"
cli="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
command -v xvfb-run > /dev/null || { echo "SKIP: xvfb-run is not installed"; exit 0; }

"$cli" demo --out "$work/demo" > "$work/make-demo.log" 2>&1 || { fail "morvane-cli demo failed"; cat "$work/make-demo.log"; exit 1; }
project="$work/demo/Morvane Demo Mix.mvproj"
video="$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["videoPath"])' "$project")"
[ -f "$video" ] || { fail "the demo project has no reel at $video"; exit 1; }
trace_files="$(dirname "$project")/$(basename "${video%.*}")_trace"
rm -f "$trace_files.mvtrace" "$trace_files.mvtrace.csv"

# A music session from 01:00:00:00: references in bars|beats, names in Mac Roman
# ("Door…", "Hit — big", "Bob’s car"), and a marker two minutes in, past the demo's end.
printf 'SESSION NAME:\tReel 1\nSAMPLE RATE:\t48000.000000\nSESSION START TIMECODE:\t01:00:00:00\nTIMECODE FORMAT:\t25 Frame\n\nM A R K E R S  L I S T I N G\n#   \tLOCATION     \tTIME REFERENCE    \tUNITS    \tNAME                             \tCOMMENTS\n1\t01:00:02:00\t58|4\tBars|Beats\tDoor\xc9\t\n2\t01:00:03:12\t58|4| 735\tBars|Beats\tHit \xd1 big\t\n3\t01:02:00:00\t3|3\tBars|Beats\tBob\xd5s car\t\n' \
  > "$work/films/reel1.txt"

cat > "$work/trace.script" <<'SCRIPT'
wait 5
dump-state WORK/opened.txt
menu tab-trace
wait 3
screenshot trace-tab
click @read-picture
wait 3
screenshot trace-reading
wait-ms 20000
wait 3
screenshot trace-read
click @import-trace-events
wait 3
dump-state WORK/imported.txt
screenshot trace-imported
click @trace-flip
wait 1
click @pending:0
wait 1
screenshot trace-review
click @proposal-accept
wait 1
click @pending:0
wait 1
click @proposal-reject
wait 1
dump-state WORK/judged.txt
key ctrl+s
wait 3
menu import-markers
expect-popup-open
wait 2
type WORK/films/reel1.txt
key enter
expect-status 3  markers imported from Pro Tools, review on the timeline
wait 3
dump-state WORK/markers1.txt
menu import-markers
expect-popup-open
wait 2
type WORK/films/reel1.txt
key enter
expect-status 3  markers imported from Pro Tools, review on the timeline
wait 3
dump-state WORK/markers2.txt
screenshot trace-markers
key ctrl+s
wait 5
SCRIPT
run trace "$project"
count() { grep -c '^event ' "$1"; }
opened=$(count "$work/opened.txt")
imported=$(count "$work/imported.txt")
[ "$imported" -gt "$opened" ] || fail "importing the picture read added no events ($opened before, $imported after)"
[ -s "$trace_files.mvtrace" ] && [ -s "$trace_files.mvtrace.csv" ] || fail "the read wrote no trace files at $trace_files"
# The trace lane: the slice flipped, one proposal accepted (one more event) and one
# rejected (one proposal fewer), and the model learned from them in the preferences.
judged=$(count "$work/judged.txt")
[ "$judged" -eq $((imported + 1)) ] || fail "accepting a proposal gave $judged events, not $((imported + 1))"
python3 - "$project" "$work/opened.txt" << 'PY' || fail "the project does not hold the judged read"
import json, sys
optical = json.load(open(sys.argv[1]))["optical"]
assert optical["traceKeepAbove"] in (False, 0), "the slice was not flipped: %r" % optical["traceKeepAbove"]
events = optical["events"]
accepted = [e for e in events if e.get("accepted")]
print("trace lane: %d proposals kept after the rejection, %d accepted" % (len(events), len(accepted)))
assert len(events) >= 1 and len(accepted) >= 2, (len(events), len(accepted))
PY
prefs=$(grep -rl "^tm_valid=" "$HOME" 2> /dev/null | head -1)
if [ -z "$prefs" ]; then
  fail "no preferences file holds the trace model"
else
  grep -q "^tm_valid=1$" "$prefs" || fail "the trace model is not valid: $(grep '^tm_valid' "$prefs")"
  for key in tm_totalSpots tm_w0 tm_w4 tm_posCount tm_negCount tm_posMean0 tm_negMean4; do
    grep -q "^$key=" "$prefs" || fail "the preferences lack $key"
  done
  grep -q "^tm_negCount=1$" "$prefs" || fail "the rejection is not in the model: $(grep '^tm_negCount' "$prefs")"
fi
m1=$(count "$work/markers1.txt"); m2=$(count "$work/markers2.txt")
[ "$m1" -eq $((judged + 3)) ] || fail "the first marker import gave $m1 events, not $((judged + 3))"
[ "$m2" -eq "$m1" ] || fail "the second import of the same file gave $m2 events, not $m1"
grep -q "^event .* time 2.000 .*label Door…" "$work/markers2.txt" || fail "Door… is not at 2 s: $(grep Door "$work/markers2.txt")"
grep -qi "^event .* time 3.480 .*label Hit — big" "$work/markers2.txt" || fail "Hit — big is not at 3.48 s"
grep -qi "^event .* time 120.000 .*label Bob’s car" "$work/markers2.txt" || fail "Bob’s car is not at 120 s"
python3 - "$project" <<'PY' || fail "the saved project is not valid UTF-8 JSON or too short for its markers"
import json, sys
data = open(sys.argv[1], "rb").read().decode("utf-8")
project = json.loads(data)
text = json.dumps(project, ensure_ascii=False)
assert "Bob\u2019s car" in text, "name"
duration = project.get("timeline", project).get("totalDuration", project.get("totalDuration"))
assert duration is None or duration >= 123, duration
PY

# The command line: a text without markers is refused and the project stays as it was.
printf 'SESSION NAME:\tEmpty\nSAMPLE RATE:\t48000\n\nT R A C K  L I S T I N G\n' > "$work/films/empty.txt"
cp "$project" "$work/before.mvproj"
"$cli" import-markers "$work/films/empty.txt" --project "$project" > "$work/empty.out" 2> "$work/empty.err"
[ $? -eq 1 ] || fail "a session text without markers did not exit 1"
grep -q "there are no markers in" "$work/empty.err" || fail "no word about missing markers: $(cat "$work/empty.err")"
cmp -s "$project" "$work/before.mvproj" || fail "a session text without markers changed the project"
# ...and a second import of a file from the command line does not double it either.
"$cli" import-markers "$work/films/reel1.txt" --project "$project" > /dev/null 2>&1 || fail "the command-line import failed"
python3 - "$project" "$m2" <<'PY' || fail "the command-line import of the same file doubled its markers"
import json, sys
events = json.load(open(sys.argv[1]))["events"]
assert len(events) == int(sys.argv[2]), len(events)
PY
[ "$failures" -eq 0 ] && echo "app trace: all checks passed"
exit $((failures > 0))
