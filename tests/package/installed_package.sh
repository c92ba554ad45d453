#!/usr/bin/env bash
# What a user gets from the Debian package, checked from the package alone: extracted into
# an empty root, the installed programs run from there with no build tree around them.
#   tests/package/installed_package.sh build/package/morvane_<version>_amd64.deb
set -uo pipefail
deb="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
root="$work/root"
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb cannot extract $deb"; exit 1; }
echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q 'libsndfile1' || fail "the dependencies do not name libsndfile1"
dpkg-deb -f "$deb" Depends | grep -q 'libavcodec' || fail "the dependencies do not name libavcodec"

# Nothing of the build tree may be found: a private home, no data-folder override.
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config" MV_UPDATE_URL=""
unset MORVANE_DATA_DIR
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
cli="$root/usr/bin/morvane-cli"
"$cli" --version | grep -q "$(dpkg-deb -f "$deb" Version)" || fail "morvane-cli --version does not give the package's version"
"$cli" demo --out "$work/demo" > "$work/demo.log" 2>&1 || { fail "the installed morvane-cli demo failed"; tail -5 "$work/demo.log"; }
ls "$work/demo"/*.wav > /dev/null 2>&1 || fail "the installed demo wrote no mixdown"

# The desktop's view of the package: menu entry, file types, store listing, icons.
desktop-file-validate "$root/usr/share/applications/org.morvane.Morvane.desktop" || fail "the menu entry does not validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.morvane.Morvane.metainfo.xml" > "$work/appstream.log" 2>&1 ||
  { fail "the metainfo does not validate"; cat "$work/appstream.log"; }
cp -r "$root/usr/share/mime" "$work/mime"
update-mime-database "$work/mime" 2> /dev/null
grep -q 'application/x-morvane-project:\*\.mvproj' "$work/mime/globs2" || fail "*.mvproj is not a Morvane project to the desktop"
grep -q 'application/x-morvane-library:\*\.mvlib' "$work/mime/globs2" || fail "*.mvlib is not a Morvane library to the desktop"
for size in 16 32 48 256 512; do
  [ -s "$root/usr/share/icons/hicolor/${size}x${size}/apps/org.morvane.Morvane.png" ] || fail "no ${size} px icon"
done

# The installed window starts, draws with its own fonts, and Help > User Guide hands the
# installed guide to the desktop (xdg-open is replaced by one that writes down what it got).
mkdir -p "$work/bin"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s/opened"\n' "$work" > "$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
printf 'wait 10\nmenu user-guide\nwait 10\ndump-state %s/state\nscreenshot installed\nquit\n' "$work" > "$work/guide.script"
mkdir -p "$work/shots"
PATH="$work/bin:$PATH" LIBGL_ALWAYS_SOFTWARE=1 LP_NUM_THREADS=0 \
  xvfb-run -a -s "-screen 0 1600x900x24" "$root/usr/bin/morvane" --ui-script "$work/guide.script" \
  --screenshot "$work/shots" > "$work/app.log" 2>&1 || { fail "the installed window exited with an error"; tail -20 "$work/app.log"; }
font="$(awk '$1 == "font" { print $2 }' "$work/state" 2> /dev/null)"
[ "$font" = "Roboto-Regular.ttf" ] || fail "the installed window draws with '$font', not its own font"
guide="$(head -1 "$work/opened" 2> /dev/null)"
[ "$guide" = "$root/usr/share/morvane/Guide/user-guide.html" ] || fail "Help > User Guide opened '$guide'"
grep -q '<h1' "$guide" 2> /dev/null || fail "the installed guide is not a web page"

[ $failures -eq 0 ] && echo "installed package: all checks passed"
exit $((failures > 0))
