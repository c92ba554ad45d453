#!/usr/bin/env bash
# The threaded subsystems under ThreadSanitizer: their whole test programs, built with
# -fsanitize=thread. A reported race fails the run.
#   scripts/tsan.sh [TEST_PROGRAM...]    (default: the library and audio tests)
set -euo pipefail
cd "$(dirname "$0")/.."
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=(test_library test_audio)
scripts/install-deps.sh
MORVANE_TARGETS="${programs[*]}" scripts/build.sh tsan
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp}"
for program in "${programs[@]}"; do
  echo "tsan $program"
  "build/tsan/tests/$program"
done
