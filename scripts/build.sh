#!/usr/bin/env bash
# Configures and builds one build flavour into build/<flavour>.
#   scripts/build.sh [release|asan|tsan|fuzz] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
flavour="${1:-release}"; shift || true
jobs="$(nproc)"
args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$flavour" in
  release) ;;
  asan) args+=(-DMORVANE_SANITIZE=address,undefined -DMORVANE_BENCH=OFF -DMORVANE_APP=OFF) ;;
  tsan) args+=(-DMORVANE_SANITIZE=thread -DMORVANE_BENCH=OFF -DMORVANE_APP=OFF) ;;
  fuzz) args+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMORVANE_FUZZ=ON
               -DMORVANE_SANITIZE=address,undefined -DMORVANE_BENCH=OFF -DMORVANE_APP=OFF
               -DMORVANE_TESTS=OFF) ;;
  *) echo "build.sh: unknown flavour '$flavour' (release, asan, tsan, fuzz)" >&2; exit 2 ;;
esac
dir="build/$flavour"
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" "${args[@]}" "$@" >/dev/null
fi
cmake --build "$dir" -j "$jobs" ${MORVANE_TARGETS:+--target $MORVANE_TARGETS}
