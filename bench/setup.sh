#!/usr/bin/env bash
# Installs what the comparison with other software (bench/compare.sh) needs
# beyond the build's own packages, when any is missing: EGL and OpenGL ES
# with Mesa's software rasteriser (llvmpipe), ImageMagick, pngquant and a
# Debian package of desktop background photographs.
set -euo pipefail
exec bash "$(dirname "$0")/../scripts/setup.sh" \
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri \
  imagemagick pngquant mate-backgrounds python3
