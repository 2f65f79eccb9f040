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
  locales
)

# A comma-decimal locale: the tests check that numbers keep their '.' under it.
test_locale=de_DE.UTF-8

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

have_locale() {
  # locale -a spells it de_DE.utf8.
  locale -a 2>/dev/null | grep -qix "${test_locale/UTF-8/utf8}"
}

if [ ${#missing[@]} -eq 0 ] && have_locale; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ! have_locale; then
  echo "Generating the locale $test_locale"
  # Listed in /etc/locale.gen, so that a later locale-gen (the locales
  # package runs it on upgrades) keeps it.
  if ! grep -qx "$test_locale UTF-8" /etc/locale.gen 2>/dev/null; then
    echo "$test_locale UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen
fi
