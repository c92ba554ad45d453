#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs Morvane on the bundled demo content.
#   scripts/demo.sh [arguments for "morvane-cli demo"]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The command-line tool (which makes the demo content) and the desktop app that opens the result.
MORVANE_TARGETS="morvane-cli morvane" scripts/build.sh release
exec build/release/src/morvane-cli demo "$@"
