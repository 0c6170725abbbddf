#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test Quillon.
# Usage: scripts/install-deps.sh [--test]   (--test adds the oracles and tools used by the tests)
set -euo pipefail

build_pkgs=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev libgl-dev fonts-dejavu-core
  libopenjp2-7-dev libgdcm-dev zlib1g-dev libcharls-dev libjxl-dev
  libjpeg62-turbo-dev
  python3-pydicom nlohmann-json3-dev
)
test_pkgs=(
  libgtest-dev libgmock-dev libbenchmark-dev libopenjph-dev
  clang libclang-rt-14-dev
  python3 python3-numpy dicom3tools dcmtk libgdcm-tools openjph-tools libjxl-tools
  xvfb xauth imagemagick xdotool desktop-file-utils
)

pkgs=("${build_pkgs[@]}")
if [[ "${1:-}" == "--test" ]]; then
  pkgs+=("${test_pkgs[@]}")
fi

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
