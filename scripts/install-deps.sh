#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Does nothing when everything is already present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev libqt5opengl5-dev
  libopencv-dev
  libminizip-dev zlib1g-dev libspdlog-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wqy-microhei
  libxcb1-dev libxcb-shm0-dev
  xvfb xauth libgl1-mesa-dri
  g++-mingw-w64-x86-64-posix
  clang libclang-rt-14-dev
  wine64
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
