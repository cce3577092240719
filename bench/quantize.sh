#!/usr/bin/env bash
# Palette export of real photographs: the skin writer (bin/skinquant),
# ImageMagick's "-colors 256 +dither" and "pngquant --nofs" on the same
# 1024 x 1024 crops of photographs from Debian's mate-backgrounds package,
# each single-threaded. Prints one line per photograph and program:
#   PHOTO PROGRAM MILLISECONDS MSE
# (best of three whole runs of the program, file reading and writing
# included; MSE is the mean squared error per pixel summed over red, green
# and blue). Usage: bench/quantize.sh BIN_DIR [WORK_DIR]
set -euo pipefail

bin=${1:?usage: quantize.sh BIN_DIR [WORK_DIR]}
work=${2:-$(mktemp -d)}
mkdir -p "$work"
photos=(/usr/share/backgrounds/mate/nature/Dune.jpg
        /usr/share/backgrounds/mate/nature/RainDrops.jpg
        /usr/share/backgrounds/mate/nature/Storm.jpg)
export OMP_NUM_THREADS=1 MAGICK_THREAD_LIMIT=1

# Milliseconds of the best of three runs of the command.
best_ms() {
  local best="" start end ms
  for _ in 1 2 3; do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

for photo in "${photos[@]}"; do
  name=$(basename "$photo" .jpg)
  crop="$work/$name.ppm"
  # The centre of the photograph, scaled down only when a side is under 1024.
  convert "$photo" -resize '1024x1024^<' -gravity center -crop 1024x1024+0+0 +repage -depth 8 "ppm:$crop"
  convert "$crop" "$work/$name.png"

  ms=$(best_ms "$bin/skinquant" write "$crop" "$work/$name-skinwork.bmp")
  convert "$work/$name-skinwork.bmp" -depth 8 "ppm:$work/$name-skinwork.ppm"
  echo "$name skinwork $ms $("$bin/skinquant" mse "$crop" "$work/$name-skinwork.ppm")"

  ms=$(best_ms convert "$crop" -colors 256 +dither "BMP3:$work/$name-imagemagick.bmp")
  convert "$work/$name-imagemagick.bmp" -depth 8 "ppm:$work/$name-imagemagick.ppm"
  echo "$name imagemagick $ms $("$bin/skinquant" mse "$crop" "$work/$name-imagemagick.ppm")"

  ms=$(best_ms pngquant --nofs --force --output "$work/$name-pngquant.png" 256 "$work/$name.png")
  convert "$work/$name-pngquant.png" -depth 8 "ppm:$work/$name-pngquant.ppm"
  echo "$name pngquant $ms $("$bin/skinquant" mse "$crop" "$work/$name-pngquant.ppm")"
done
