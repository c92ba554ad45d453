#!/usr/bin/env bash
# Installs every Debian package Morvane needs to build, test and run.
# Idempotent: when everything is present it prints nothing and returns at once.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # tests and benchmarks (libxml2 reads back the iXML the export writes)
  libgtest-dev libgmock-dev libbenchmark-dev libebur128-dev libxml2-dev
  # core libraries
  libsndfile1-dev libfftw3-dev libsoxr-dev libcurl4-openssl-dev libgsf-1-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  librtaudio-dev
  # desktop app
  libsdl2-dev libimgui-dev libstb-dev libgl1-mesa-dri fonts-roboto-unhinted python3-markdown
  # packaging and its checks
  dpkg-dev desktop-file-utils appstream
  # tools the tests and the demo drive: video generation, a headless display, a sound server
  ffmpeg xvfb xauth xdotool pulseaudio pulseaudio-utils sox python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q >/dev/null
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
