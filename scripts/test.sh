#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test.
#   scripts/test.sh            release build, all tests
#   scripts/test.sh asan       the same tests under AddressSanitizer + UBSan
#   scripts/test.sh tsan       the same tests under ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
flavour="${1:-release}"
scripts/install-deps.sh
scripts/check_includes.sh
scripts/build.sh "$flavour"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir "build/$flavour" --output-on-failure -j "$(nproc)" --timeout 900
# The release build is also what users install: make its package and try it out.
if [ "$flavour" = release ]; then
  deb="$(scripts/package.sh | tail -1)"
  tests/package/installed_package.sh "$deb"
fi
