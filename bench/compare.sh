#!/usr/bin/env bash
# Times quillmere-avg against Pillow (ImageStat mean) and ImageMagick (scale to one pixel) on a
# 6000 x 4000 JPEG and PNG made here, side by side, median of 5 runs each, and prints the ratios
# and peak memory. Usage: bench/compare.sh [RUNS] (default 5). Builds quillmere-avg in
# $QUILLMERE_BUILD_DIR (default build) and installs Pillow and ImageMagick if they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
quillmere_install_packages "${QUILLMERE_BUILD_PACKAGES[@]}" "${QUILLMERE_COMPARE_PACKAGES[@]}"

runs=${1:-5}
build_dir=${QUILLMERE_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target quillmere-avg >/dev/null
avg="$build_dir/tools/quillmere-avg"
# Debian's interpreter, which has python3-pil (a python3 earlier in PATH may not).
python=/usr/bin/python3

work=$(mktemp -d /tmp/quillmere-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "Making a 6000 x 4000 test picture (JPEG quality 90 and PNG level 6)..."
"$python" - "$work" <<'PY'
import sys
from PIL import Image, ImageChops, ImageFilter

# Photo-like content: smooth gradients, sharp structure and sensor-like noise, so that neither
# format compresses unrealistically well.
W, H = 6000, 4000
out = sys.argv[1]
structure = Image.effect_mandelbrot((W, H), (-2.2, -1.3, 0.9, 1.3), 60).filter(ImageFilter.BoxBlur(2))
noise = Image.effect_noise((W, H), 10)
linear = Image.linear_gradient("L").resize((W, H))
radial = Image.radial_gradient("L").resize((W, H))
red = ImageChops.add(ImageChops.multiply(structure, radial.transpose(Image.FLIP_LEFT_RIGHT)), noise, 2.0, 0)
green = ImageChops.add(linear, noise, 2.0, -10)
blue = ImageChops.add(structure.transpose(Image.FLIP_LEFT_RIGHT), radial, 2.0, 10)
picture = Image.merge("RGB", (red, green, blue))
picture.save(out + "/photo.jpg", quality=90)
picture.save(out + "/photo.png", compress_level=6)
PY

pillow_script='import sys
from PIL import Image, ImageStat
im = Image.open(sys.argv[1])
if im.mode != "RGB":
    im = im.convert("RGB")
print(ImageStat.Stat(im).mean)'

# Runs a command $runs times; prints "median_seconds peak_kib" (peak over the runs).
measure() {
  local times=() peak=0 start end kib
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$work/rss" "$@" >"$work/out" 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
    kib=$(tail -n 1 "$work/rss")
    ((kib > peak)) && peak=$kib
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  printf '%s %s\n' "$(awk -v us="$median" 'BEGIN { printf "%.3f", us / 1e6 }')" "$peak"
}

report() {
  local format=$1 file=$2 target=$3
  local q p m
  q=($(measure "$avg" "$file"))
  local q_line
  q_line=$(cat "$work/out")
  p=($(measure "$python" -c "$pillow_script" "$file"))
  local p_line
  p_line=$(cat "$work/out")
  m=($(measure convert "$file" -scale '1x1!' txt:))
  local m_line
  m_line=$(tail -n 1 "$work/out")
  echo
  echo "== $format $(stat -c %s "$file") bytes, median of $runs =="
  printf '%-14s %8s s %8s MB   %s\n' quillmere-avg "${q[0]}" "$((q[1] / 1024))" "$q_line"
  printf '%-14s %8s s %8s MB   %s\n' Pillow "${p[0]}" "$((p[1] / 1024))" "$p_line"
  printf '%-14s %8s s %8s MB   %s\n' ImageMagick "${m[0]}" "$((m[1] / 1024))" "$m_line"
  awk -v q="${q[0]}" -v p="${p[0]}" -v m="${m[0]}" -v t="$target" -v f="$format" 'BEGIN {
    printf "%s: quillmere-avg / Pillow = %.2f (target <= %.2f: %s), / ImageMagick = %.2f\n",
      f, q / p, t, (q / p <= t ? "met" : "MISSED"), q / m }'
  # One 32-bit raster of 6000 x 4000 is 96,000,000 bytes; the goal allows 30 MB on top.
  awk -v kib="${q[1]}" 'BEGIN { limit = (96000000 + 30000000) / 1024;
    printf "peak memory %.1f MB (goal <= 126.0 MB: %s)\n", kib * 1024 / 1e6,
      (kib <= limit ? "met" : "MISSED") }'
}

report JPEG "$work/photo.jpg" 0.60
report PNG "$work/photo.png" 0.85
