#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for SECONDS (default 60) from its seed
# corpus, as many at once as there are cores. The corpus in the repository is only
# read; new inputs go to a scratch folder.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/install-deps.sh
MORVANE_TARGETS=fuzz_all scripts/build.sh fuzz
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

run_one() {  # run_one BINARY SECONDS SCRATCH
  local bin="$1" seconds="$2" scratch="$3"
  local name what seeds log execs
  name="$(basename "$bin")"; what="${name#fuzz_}"
  seeds="tests/fuzz/corpus/$what"; log="$scratch/$what.log"
  mkdir -p "$scratch/$what"
  local corpora=("$scratch/$what")
  [ -d "$seeds" ] && corpora+=("$seeds")
  if "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 \
        -artifact_prefix="$scratch/$what-" "${corpora[@]}" >"$log" 2>&1; then
    execs="$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')"
    echo "fuzz $what: ok, ${execs:-?} executions in ${seconds}s"
  else
    echo "fuzz $what: FAILED"; grep -m1 'INFO: Seed:' "$log"; tail -n 60 "$log"
    # The input itself, so a finding on a machine that is gone can be replayed here.
    for input in "$scratch/$what"-*; do
      [ -f "$input" ] || continue
      echo "failing input $(basename "$input") ($(stat -c %s "$input") bytes, base64):"
      head -c 8192 "$input" | base64 -w 0; echo
    done
    return 1
  fi
}
export -f run_one

ls build/fuzz/tests/fuzz/fuzz_* | xargs -P "$(nproc)" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$scratch"
