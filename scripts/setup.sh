#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Skinwork
# need, when any is missing. Safe to run again: it installs only what is absent.
# Packages named as arguments are checked and installed with the rest
# (bench/setup.sh adds the comparison's own).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl1-mesa-dev
  libpng-dev zlib1g-dev libjpeg-dev libstb-dev
  libopenal-dev libopenal1
  libassimp-dev
  xvfb xauth x11-apps imagemagick xdotool
  desktop-file-utils shared-mime-info
  python3
)

packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: all packages present"
