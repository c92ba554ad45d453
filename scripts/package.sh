#!/usr/bin/env bash
# Makes the Debian package from the release build: build/package/morvane_<version>_amd64.deb,
# its dependencies worked out by dpkg-shlibdeps from the libraries the programs link.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release
out="$PWD/build/package"
rm -rf "$out"; mkdir -p "$out"
(cd build/release && cpack -G DEB -B "$out" > "$out/cpack.log") || { cat "$out/cpack.log" >&2; exit 1; }
rm -rf "$out/_CPack_Packages"
ls "$out"/morvane_*_amd64.deb
