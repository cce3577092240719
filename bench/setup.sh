#!/usr/bin/env bash
# Installs what the comparison with other software (bench/compare.sh) needs
# beyond the build's own packages, when any is missing: EGL and OpenGL ES
# with Mesa's software rasteriser (llvmpipe), ImageMagick, pngquant and a
# Debian package of desktop background photographs.
set -euo pipefail

packages=(
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
  imagemagick pngquant mate-backgrounds
  python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "bench setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "bench setup: all packages present"
