#!/usr/bin/env bash
# Exporting from the window, as a user does: the demo project (made by morvane-cli) is
# opened and its audio rendered; in the Export tab the four WAV kinds, the -23 LUFS
# target and the 5.1 layout are chosen, a work area is set and some AAF options
# switched on; the export writes exactly the files morvane-cli export writes for the
# same project and options (same names, same samples, same time references). The
# project is saved and reopened: every export choice comes back. Two events are bounced
# to a clip from the menu and reverted, and the project holds its events again;
# variations of an event are written from the tab.
#   app_export.sh PATH/TO/morvane PATH/TO/morvane-cli
. "$(dirname "$0")/app_env.sh" "$1"
cli="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
"$cli" demo --out "$work/demo" > "$work/make-demo.log" 2>&1 || { fail "morvane-cli demo failed"; cat "$work/make-demo.log"; exit 1; }
project="$work/demo/Morvane Demo Mix.mvproj"
# export-line STATE: the export choices of a dump, without the folder (which is the
# session's, not the project's).
export_line() { grep '^export ' "$1" | sed 's/ folder .*//'; }
# events STATE: the event lines without the selection flag.
events() { grep '^event ' "$1" | sed 's/ selected [01]//'; }

cat > "$work/choose.script" <<'SCRIPT'
wait 3
wait-audio 120
click @tab:Export
wait 2
screenshot export-tab
click @export:stems
click @export:tracks
click @export:clips
reveal @export:layout
wait 2
click @export:loudness
wait 2
click @export:loudness:-23 LUFS (EBU R128)
wait 2
click @export:layout
wait 2
click @export:layout:5.1
wait 2
screenshot export-choices
# A work area from 2 s to 14 s.
click @ruler:2
menu set-in
click @ruler:14
menu set-out
wait 2
# The AAF options are kept with the project even while only WAV files are written.
reveal @export:aaf
wait 2
click @export:aaf
wait 2
reveal @export:handles
wait 2
click @export:handles
wait 2
reveal @export:snap
wait 2
click @export:snap
reveal @export:markers
wait 2
click @export:markers
wait 2
screenshot export-aaf
reveal @export:aaf
wait 2
click @export:aaf
wait 2
key ctrl+s
wait 5
dump-state WORK/chosen.txt
SCRIPT
run choose "$project"

expected_export="export exportFormatWAV 1 exportFormatAAF 0 exportWavMixdown 1 exportWavStems 1 exportWavTracks 1 exportWavClips 1 exportReverbStem 0 exportWithHandles 1 handleDuration 1.00 handleFullSource 0 fadeInDuration 0.00 fadeOutDuration 0.00 snapToFrames 1 exportAAFMarkers 1 exportAAFVolAuto 0 exportAAFSourceChannels 0 exportFillVirtual 0 exportWavLUFSIndex 4 exportWavLayout 1"
[ "$(export_line "$work/chosen.txt")" = "$expected_export" ] || fail "the choices made in the tab are $(export_line "$work/chosen.txt")"

# Reopened: the choices come back, and the export writes what they say. Then two
# events are bounced from the menu and reverted, and variations of the door slam are
# written from the tab.
cat > "$work/export.script" <<'SCRIPT'
wait 3
wait-audio 120
dump-state WORK/reopened.txt
click @tab:Export
wait 2
reveal @export:folder
wait 2
click @export:folder
expect-text-focus
key ctrl+a
type WORK/window
key enter
wait 2
reveal @export:start
wait 2
click @export:start
wait 2
screenshot export-running
wait-export 180
wait 3
screenshot export-done
click @event:1
hold shift
click @event:2
hold none
wait 2
expect-selected 2
menu bounce
wait 2
wait-export 120
wait-audio 120
wait 3
dump-state WORK/bounced.txt
screenshot bounced
menu revert-bounce
wait 2
wait-audio 120
wait 3
dump-state WORK/reverted.txt
click @event:2
click @tab:Export
wait 2
reveal @var:start
wait 3
screenshot variations
click @var:start
wait 2
wait-export 180
expect-status Exported 5 variations
screenshot variations-done
click @var:advanced
wait 2
reveal @var:name-style
wait 3
screenshot variations-advanced
SCRIPT
run export "$project"
[ "$(export_line "$work/reopened.txt")" = "$expected_export" ] || fail "reopened, the export choices are $(export_line "$work/reopened.txt")"

[ -d "$work/window" ] || fail "the window wrote no export folder"
work_in=$(awk '$1 == "workarea" { print $2 }' "$work/reopened.txt")
work_out=$(awk '$1 == "workarea" { print $3 }' "$work/reopened.txt")
awk -v a="$work_in" -v b="$work_out" 'BEGIN { exit !(a > 1.5 && a < 2.5 && b > 13.5 && b < 14.5) }' ||
  fail "the work area is $work_in .. $work_out, not about 2 .. 14"
"$cli" export "$project" --out "$work/cli" --mix --stems --tracks --clips --lufs -23 --layout 5.1 \
  > "$work/cli-export.log" 2>&1 || { fail "morvane-cli export failed"; cat "$work/cli-export.log"; }

# Every file of the two exports: the same names, the same format and samples, the same
# bext time reference; the mix starts at the project's timecode start plus the work area's in.
python3 - "$work/window" "$work/cli" "$project" "$work_in" > "$work/compare.txt" 2>&1 <<'PY' || { fail "the window's export differs from morvane-cli's"; cat "$work/compare.txt"; }
import json, os, struct, sys
window, cli, project, work_in = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])

def files(root):
    names = (os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs)
    return sorted(n for n in names if not n.startswith("Variations/"))

def chunks(path):
    data = open(path, "rb").read()
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", path + ": not a WAV file"
    out, i = {}, 12
    while i + 8 <= len(data):
        cid, size = data[i:i + 4], struct.unpack("<I", data[i + 4:i + 8])[0]
        out[cid.decode("latin-1")] = data[i + 8:i + 8 + size]
        i += 8 + size + (size & 1)
    return out

def time_reference(c):
    low, high = struct.unpack("<II", c["bext"][338:346])
    return low | high << 32

problems = []
a, b = files(window), files(cli)
if a != b:
    problems.append("names differ: window only %s, cli only %s" % (sorted(set(a) - set(b)), sorted(set(b) - set(a))))
for name in sorted(set(a) & set(b)):
    x, y = chunks(os.path.join(window, name)), chunks(os.path.join(cli, name))
    if x["fmt "] != y["fmt "]: problems.append(name + ": formats differ")
    if x["data"] != y["data"]: problems.append(name + ": samples differ")
    if time_reference(x) != time_reference(y):
        problems.append("%s: time reference %d, cli %d" % (name, time_reference(x), time_reference(y)))
mix = os.path.join(window, "Morvane Demo Mix.wav")
if os.path.exists(mix):
    c = chunks(mix)
    rate = struct.unpack("<I", c["fmt "][4:8])[0]
    channels = struct.unpack("<H", c["fmt "][2:4])[0]
    start = json.load(open(project)).get("startTC", 0.0) + work_in
    if abs(time_reference(c) / rate - start) > 0.001:  # the dump gives the in point to the millisecond
        problems.append("the mix starts at %.4f s, not %.4f s" % (time_reference(c) / rate, start))
    if channels != 6: problems.append("the mix has %d channels, not 6 (5.1)" % channels)
else:
    problems.append("no mix was written")
if not any(n.startswith("Clips/") for n in a): problems.append("no clips were written")
if not any(n.startswith("Tracks/") for n in a): problems.append("no tracks were written")
print("\n".join(problems) if problems else "%d files alike" % len(a))
sys.exit(1 if problems else 0)
PY
written=$(find "$work/window" -name '*.wav' -not -path '*/Variations/*' | wc -l)
grep -q "Export complete — $written files" "$work/export.log" ||
  fail "the window did not report \"Export complete — $written files\": $(grep '\[Export\]' "$work/export.log")"

before=$(grep -c '^event ' "$work/reopened.txt")
[ "$(grep -c '^event ' "$work/bounced.txt")" -eq $((before - 1)) ] || fail "the bounce did not replace two events by one: $(grep -c '^event ' "$work/bounced.txt") of $before"
grep -q '^event 1 .* shape Clip ' "$work/bounced.txt" || fail "no Clip event took the bounced events' place: $(grep '^event 1 ' "$work/bounced.txt")"
ls "$work/demo/Bounce/"*.wav > /dev/null 2>&1 || fail "no bounced file beside the project"
[ "$(events "$work/reverted.txt")" = "$(events "$work/reopened.txt")" ] || {
  fail "Revert to Source did not bring the events back"
  diff <(events "$work/reopened.txt") <(events "$work/reverted.txt")
}
[ "$(awk '$1 == "layer" && ($4 == 1 || $4 == 2)' "$work/reverted.txt" | wc -l)" -gt 0 ] || fail "the reverted events were not built again"
takes=$(find "$work/window/Variations" -name '*_0[1-5].wav' 2> /dev/null | wc -l)
[ "$takes" -eq 5 ] || fail "variations wrote $takes takes, not 5: $(ls "$work/window/Variations" 2>&1)"

[ -n "${MORVANE_SMOKE_KEEP:-}" ] && mkdir -p "$MORVANE_SMOKE_KEEP" && cp "$work"/shots/*.png "$MORVANE_SMOKE_KEEP"/
if [ $failures -eq 0 ]; then echo "app export: all checks passed"; exit 0; fi
echo "app export: $failures check(s) failed"
exit 1
