#!/usr/bin/env bash
# Times quillmere-avg against Pillow (ImageStat mean) and ImageMagick (scale to one pixel) on a
# 6000 x 4000 JPEG and PNG made here, side by side, median of 5 runs each, and prints the ratios
# and peak memory. The same picture as WebP, HEIC and AVIF is timed against the format's own
# decoder tool and ImageMagick. Usage: bench/compare.sh [RUNS] (default 5). Builds quillmere-avg in
# $QUILLMERE_BUILD_DIR (default build) and installs the tools compared with if they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
quillmere_install_packages "${QUILLMERE_BUILD_PACKAGES[@]}" "${QUILLMERE_COMPARE_PACKAGES[@]}" \
  webp libheif-examples libavif-bin

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

# Runs a command once; appends its wall time (microseconds) to the array named $1 and raises the
# peak named $2 to its peak resident memory (KiB). Its output is left in $work/out.
time_once() {
  local -n times_ref=$1 peak_ref=$2
  shift 2
  local start end kib
  start=$(date +%s%N)
  /usr/bin/time -f %M -o "$work/rss" "$@" >"$work/out" 2>&1
  end=$(date +%s%N)
  times_ref+=($(((end - start) / 1000)))
  kib=$(tail -n 1 "$work/rss")
  ((kib > peak_ref)) && peak_ref=$kib
  return 0
}

median_seconds() {
  printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p" | awk '{ printf "%.3f", $1 / 1e6 }'
}

row() {
  awk -v n="$1" -v s="$2" -v kib="$3" -v l="$4" \
    'BEGIN { printf "%-14s %7.3f s %7.1f MB   %s\n", n, s, kib * 1024 / 1e6, l }'
}

# The three tools take turns, so a change in the machine's load hits them alike.
report() {
  local format=$1 file=$2 target=$3
  local q_times=() p_times=() m_times=() q_peak=0 p_peak=0 m_peak=0 q_line p_line m_line
  for ((i = 0; i < runs; i++)); do
    time_once q_times q_peak "$avg" "$file"
    q_line=$(cat "$work/out")
    time_once p_times p_peak "$python" -c "$pillow_script" "$file"
    p_line=$(cat "$work/out")
    time_once m_times m_peak convert "$file" -scale '1x1!' txt:
    m_line=$(tail -n 1 "$work/out")
  done
  local q p m
  q=$(median_seconds "${q_times[@]}")
  p=$(median_seconds "${p_times[@]}")
  m=$(median_seconds "${m_times[@]}")
  echo
  echo "== $format, $(stat -c %s "$file") bytes, median of $runs =="
  row quillmere-avg "$q" "$q_peak" "$q_line"
  row Pillow "$p" "$p_peak" "$p_line"
  row ImageMagick "$m" "$m_peak" "$m_line"
  awk -v q="$q" -v p="$p" -v m="$m" -v t="$target" -v f="$format" 'BEGIN {
    printf "%s: quillmere-avg / Pillow = %.2f (target <= %.2f: %s), / ImageMagick = %.2f\n",
      f, q / p, t, (q / p <= t ? "met" : "MISSED"), q / m }'
  # One 32-bit raster of 6000 x 4000 is 96,000,000 bytes; the goal allows 30 MB on top.
  awk -v kib="$q_peak" 'BEGIN { mb = kib * 1024 / 1e6;
    printf "quillmere-avg peak memory %.1f MB (goal <= 126.0 MB: %s)\n", mb,
      (mb <= 126.0 ? "met" : "MISSED") }'
}

report JPEG "$work/photo.jpg" 0.60
report PNG "$work/photo.png" 0.85

echo
echo "Encoding the picture as WebP (quality 90), HEIC (quality 90) and AVIF (quantizer 20-30)..."
cwebp -quiet -q 90 "$work/photo.png" -o "$work/photo.webp"
heif-enc -q 90 "$work/photo.png" -o "$work/photo.heic" >/dev/null
avifenc --speed 8 --jobs 2 --min 20 --max 30 "$work/photo.png" "$work/photo.avif" >/dev/null

# The format's own decoder against quillmere-avg and ImageMagick, taking turns like above. The
# decoder tools write no RGB picture: dwebp without -o only decodes, and heif-convert and avifdec
# write the decoded YUV planes as they are (y4m), which leaves out the colour conversion that
# quillmere-avg does on top.
report_library() {
  local format=$1 file=$2 name=$3
  shift 3
  local q_times=() l_times=() m_times=() q_peak=0 l_peak=0 m_peak=0 q_line m_line
  for ((i = 0; i < runs; i++)); do
    time_once q_times q_peak "$avg" "$file"
    q_line=$(cat "$work/out")
    time_once l_times l_peak "$@"
    time_once m_times m_peak convert "$file" -scale '1x1!' txt:
    m_line=$(tail -n 1 "$work/out")
  done
  rm -f "$work/decoded.y4m"
  local q l m
  q=$(median_seconds "${q_times[@]}")
  l=$(median_seconds "${l_times[@]}")
  m=$(median_seconds "${m_times[@]}")
  echo
  echo "== $format, $(stat -c %s "$file") bytes, median of $runs =="
  row quillmere-avg "$q" "$q_peak" "$q_line"
  row "$name" "$l" "$l_peak" ""
  row ImageMagick "$m" "$m_peak" "$m_line"
  awk -v q="$q" -v l="$l" -v m="$m" -v f="$format" -v n="$name" 'BEGIN {
    printf "%s: quillmere-avg / %s = %.2f (target <= 1.15: %s), / ImageMagick = %.2f (target < 1: %s)\n",
      f, n, q / l, (q / l <= 1.15 ? "met" : "MISSED"), q / m, (q / m < 1 ? "met" : "MISSED") }'
}

report_library WebP "$work/photo.webp" dwebp dwebp -quiet "$work/photo.webp"
report_library HEIC "$work/photo.heic" heif-convert heif-convert "$work/photo.heic" "$work/decoded.y4m"
report_library AVIF "$work/photo.avif" avifdec avifdec --jobs all "$work/photo.avif" "$work/decoded.y4m"
