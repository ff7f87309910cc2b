#!/usr/bin/env bash
# Times quillmere-avg against Pillow (ImageStat mean), ImageMagick (scale to one pixel), libvips
# (vips stats, the same statistics) and, for JPEG, djpeg's plain decode on a 6000 x 4000 JPEG and
# PNG made here, and for the PNG igzip -d on the picture's own compressed data; side by side,
# median of 5 runs each, with the ratios and peak memory. Then the same picture as WebP, HEIC and
# AVIF against the format's own decoder tool and ImageMagick; then -j 2 against -j 1 on a folder
# of 12-megapixel photos. Usage: bench/compare.sh [RUNS] (default 5); QUILLMERE_BENCH_PHOTOS sets
# the number of photos (default 100). Builds quillmere-avg in $QUILLMERE_BUILD_DIR (default build)
# and installs the tools compared with if they are missing.
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
# 12 megapixels for the parallel run: the middle of the same picture.
picture.crop((1000, 500, 5000, 3500)).save(out + "/photo12.jpg", quality=90)
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

# The tools take turns, so a change in the machine's load hits them alike. djpeg only decodes:
# quillmere-avg's JPEG time is held against it.
report() {
  local format=$1 file=$2 target=$3 vips_target=$4
  local q_times=() p_times=() m_times=() d_times=() v_times=() q_peak=0 p_peak=0 m_peak=0 d_peak=0
  local v_peak=0
  local q_line p_line m_line
  for ((i = 0; i < runs; i++)); do
    time_once q_times q_peak "$avg" "$file"
    q_line=$(cat "$work/out")
    time_once p_times p_peak "$python" -c "$pillow_script" "$file"
    p_line=$(cat "$work/out")
    time_once m_times m_peak convert "$file" -scale '1x1!' txt:
    m_line=$(tail -n 1 "$work/out")
    time_once v_times v_peak vips stats "$file" "$work/stats.csv"
    if [[ $format == JPEG ]]; then
      time_once d_times d_peak djpeg -outfile /dev/null "$file"
    fi
  done
  local q p m d v
  q=$(median_seconds "${q_times[@]}")
  p=$(median_seconds "${p_times[@]}")
  m=$(median_seconds "${m_times[@]}")
  v=$(median_seconds "${v_times[@]}")
  echo
  echo "== $format, $(stat -c %s "$file") bytes, median of $runs =="
  row quillmere-avg "$q" "$q_peak" "$q_line"
  row Pillow "$p" "$p_peak" "$p_line"
  row ImageMagick "$m" "$m_peak" "$m_line"
  row "vips stats" "$v" "$v_peak" ""
  awk -v q="$q" -v p="$p" -v m="$m" -v t="$target" -v f="$format" 'BEGIN {
    printf "%s: quillmere-avg / Pillow = %.2f (target <= %.2f: %s), / ImageMagick = %.2f\n",
      f, q / p, t, (q / p <= t ? "met" : "MISSED"), q / m }'
  awk -v q="$q" -v v="$v" -v t="$vips_target" -v f="$format" 'BEGIN {
    printf "%s: quillmere-avg / vips stats = %.2f (target <= %.2f: %s)\n", f, q / v, t,
      (q / v <= t ? "met" : "MISSED") }'
  if [[ $format == JPEG ]]; then
    d=$(median_seconds "${d_times[@]}")
    row djpeg "$d" "$d_peak" "(decode only)"
    awk -v q="$q" -v d="$d" 'BEGIN {
      printf "JPEG: quillmere-avg / djpeg = %.2f (target <= 1.05: %s)\n", q / d,
        (q / d <= 1.05 ? "met" : "MISSED") }'
  fi
  # Rows are summed as they arrive: no raster of the picture is ever held.
  awk -v kib="$q_peak" 'BEGIN { mb = kib * 1024 / 1e6;
    printf "quillmere-avg peak memory %.1f MB (goal <= 20.0 MB: %s)\n", mb,
      (mb <= 20.0 ? "met" : "MISSED") }'
}

report JPEG "$work/photo.jpg" 0.60 0.60
report PNG "$work/photo.png" 0.85 0.50

# The PNG's image data alone: its IDAT chunks joined and rewrapped as gzip for igzip -d, which
# inflates with the same library the PNG reader uses; the reader's inflate share comes from perf.
"$python" - "$work/photo.png" "$work/idat.gz" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
at, stream = 8, b""
while at < len(data):
    (length,) = struct.unpack(">I", data[at:at + 4])
    if data[at + 4:at + 8] == b"IDAT":
        stream += data[at + 8:at + 8 + length]
    at += 12 + length
raw = zlib.decompress(stream)
gzip = b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03" + stream[2:-4]
open(sys.argv[2], "wb").write(gzip + struct.pack("<II", zlib.crc32(raw), len(raw) & 0xFFFFFFFF))
PY
i_times=() i_peak=0
for ((i = 0; i < runs; i++)); do
  time_once i_times i_peak igzip -d -f -o /dev/null "$work/idat.gz"
done
echo
echo "== PNG image data alone, $(stat -c %s "$work/idat.gz") bytes, median of $runs =="
row "igzip -d" "$(median_seconds "${i_times[@]}")" "$i_peak" "(inflate and CRC only)"

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
# The parallel run: the same 12-megapixel photo under many names (hard links, so no extra disk),
# all of them in one call, -j 1 and -j 2 in turns.
photos=${QUILLMERE_BENCH_PHOTOS:-100}
mkdir "$work/photos"
for ((i = 0; i < photos; i++)); do
  ln "$work/photo12.jpg" "$work/photos/$(printf 'p%03d.jpg' "$i")"
done
one_times=() two_times=() one_peak=0 two_peak=0
for ((i = 0; i < runs; i++)); do
  time_once one_times one_peak "$avg" -j 1 -r "$work/photos"
  time_once two_times two_peak "$avg" -j 2 -r "$work/photos"
done
one=$(median_seconds "${one_times[@]}")
two=$(median_seconds "${two_times[@]}")
echo
echo "== $photos photos of 12 megapixels (JPEG), median of $runs =="
row "-j 1" "$one" "$one_peak" ""
row "-j 2" "$two" "$two_peak" ""
awk -v one="$one" -v two="$two" -v n="$(nproc)" 'BEGIN {
  printf "-j 2 / -j 1 = %.2f (target <= 0.60 on 2 cores; this machine has %d: %s)\n", two / one,
    n, (two / one <= 0.60 ? "met" : "MISSED") }'
# Each file in flight costs its own streaming peak; the libraries are mapped once.
awk -v one="$one_peak" -v two="$two_peak" 'BEGIN {
  printf "-j 2 peak memory %.1f MB, -j 1 %.1f MB: %.1f MB for the second file in flight\n",
    two * 1024 / 1e6, one * 1024 / 1e6, (two - one) * 1024 / 1e6 }'
