#!/usr/bin/env bash
# Times quillmere-avg against Pillow (ImageStat mean), ImageMagick (scale to one pixel), libvips
# (vips stats, the same statistics) and, for JPEG, djpeg's plain decode on a 6000 x 4000 JPEG and
# PNG made here, and for the PNG igzip -d on the picture's own compressed data; side by side,
# median of 5 runs each, with the ratios and peak memory. Then the same picture as WebP, HEIC and
# AVIF against the format's own decoder tool and ImageMagick; then -j 2 against -j 1 on a folder
# of 12-megapixel photos. Usage: bench/compare.sh [RUNS] (default 5); QUILLMERE_BENCH_PHOTOS sets
# the number of photos (default 100). The parts of a picture (--region, --grid, --edges) and the
# main colours of --json are timed against the plain mean on the same JPEG;
# QUILLMERE_BENCH_ONLY=parts times those alone. Builds quillmere-avg in $QUILLMERE_BUILD_DIR
# (default build)
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

echo "Tagging a copy of the JPEG as Display P3 (the same coded picture, with a profile)..."
"$python" - "$work" <<'PY'
import ctypes, sys

# A Display P3 profile made by lcms2 itself: the sRGB curve, P3 primaries, D65 white.
lcms = ctypes.CDLL("liblcms2.so.2")
class xyY(ctypes.Structure):
    _fields_ = [("x", ctypes.c_double), ("y", ctypes.c_double), ("Y", ctypes.c_double)]
lcms.cmsBuildParametricToneCurve.restype = ctypes.c_void_p
lcms.cmsBuildParametricToneCurve.argtypes = [ctypes.c_void_p, ctypes.c_int,
    ctypes.POINTER(ctypes.c_double)]
lcms.cmsCreateRGBProfile.restype = ctypes.c_void_p
lcms.cmsCreateRGBProfile.argtypes = [ctypes.POINTER(xyY), ctypes.c_void_p,
    ctypes.POINTER(ctypes.c_void_p)]
lcms.cmsSaveProfileToMem.argtypes = [ctypes.c_void_p, ctypes.c_void_p,
    ctypes.POINTER(ctypes.c_uint32)]
params = (ctypes.c_double * 5)(2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045)
curve = lcms.cmsBuildParametricToneCurve(None, 4, params)
primaries = (xyY * 3)(xyY(0.680, 0.320, 1), xyY(0.265, 0.690, 1), xyY(0.150, 0.060, 1))
profile = lcms.cmsCreateRGBProfile(ctypes.byref(xyY(0.3127, 0.3290, 1)), primaries,
    (ctypes.c_void_p * 3)(curve, curve, curve))
size = ctypes.c_uint32(0)
lcms.cmsSaveProfileToMem(profile, None, ctypes.byref(size))
icc = ctypes.create_string_buffer(size.value)
lcms.cmsSaveProfileToMem(profile, icc, ctypes.byref(size))
payload = b"ICC_PROFILE\0\x01\x01" + icc.raw[: size.value]
data = open(sys.argv[1] + "/photo.jpg", "rb").read()
segment = b"\xff\xe2" + (len(payload) + 2).to_bytes(2, "big") + payload
open(sys.argv[1] + "/photo_p3.jpg", "wb").write(data[:2] + segment + data[2:])
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

# Each command of the list against the first, in turns on the same file; prints each median and
# its ratio to the first's against the target.
report_against_first() {
  local title=$1 target=$2 file=$3
  shift 3
  local names=("$@") count=$#
  declare -A times_by
  local peak=0
  for ((i = 0; i < runs; i++)); do
    for ((k = 0; k < count; k++)); do
      local -a these=()
      read -r -a these <<<"${times_by[$k]:-}"
      # shellcheck disable=SC2086
      time_once these peak "$avg" ${names[$k]} "$file"
      times_by[$k]="${these[*]}"
    done
  done
  echo
  echo "== $title, median of $runs =="
  local first
  # shellcheck disable=SC2086
  first=$(median_seconds ${times_by[0]})
  for ((k = 0; k < count; k++)); do
    local m
    # shellcheck disable=SC2086
    m=$(median_seconds ${times_by[$k]})
    awk -v n="${names[$k]}" -v m="$m" -v f="$first" -v t="$target" -v k="$k" 'BEGIN {
      if (k == 0) printf "%-40s %7.3f s\n", n, m;
      else printf "%-40s %7.3f s  ratio %.3f (target <= %.2f: %s)\n", n, m, m / f, t,
        (m / f <= t ? "met" : "MISSED") }'
  done
}

# The 64 x 64 grid also prints 4,096 lines instead of one, which is part of what it costs.
report_parts() {
  report_against_first "Parts of the 24-megapixel JPEG against its plain mean" 1.05 \
    "$work/photo.jpg" "--format info" "--region 10%,10%,80%,80%" "--grid 4x3" "--grid 64x64" \
    "--edges 100"
  report_against_first "--json with the main colours against without" 1.20 "$work/photo.jpg" \
    "--json --colours 0" "--json" "--json --colours 16"
}

if [[ ${QUILLMERE_BENCH_ONLY:-} == parts ]]; then
  report_parts
  exit 0
fi

report JPEG "$work/photo.jpg" 0.60 0.60
report PNG "$work/photo.png" 0.85 0.50
report_parts

# The colour conversion's cost: the same coded picture untagged and tagged Display P3, in turns.
u_times=() t_times=() u_peak=0 t_peak=0
for ((i = 0; i < runs; i++)); do
  time_once u_times u_peak "$avg" "$work/photo.jpg"
  time_once t_times t_peak "$avg" "$work/photo_p3.jpg"
  t_line=$(cat "$work/out")
done
untagged=$(median_seconds "${u_times[@]}")
tagged=$(median_seconds "${t_times[@]}")
echo
echo "== JPEG tagged Display P3 against the same JPEG untagged, median of $runs =="
row untagged "$untagged" "$u_peak" ""
row "Display P3" "$tagged" "$t_peak" "$t_line"
awk -v u="$untagged" -v t="$tagged" -v up="$u_peak" -v tp="$t_peak" 'BEGIN {
  printf "Display P3 / untagged = %.2f (target <= 1.15: %s); peak memory %+.1f MB\n", t / u,
    (t / u <= 1.15 ? "met" : "MISSED"), (tp - up) * 1024 / 1e6 }'

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

# The window's main colours of a 24-megapixel picture, headless: how long after the mean is shown
# the row of main colours appears.
cmake --build "$build_dir" -j2 --target quillmere-window-bench >/dev/null
echo
echo "== The window's main colours, 6000 x 4000 =="
line=$(XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=offscreen \
  "$build_dir/bench/quillmere-window-bench" "$runs")
echo "$line"
delay=$(echo "$line" | sed -n 's/.*) \([0-9.]*\) ms after the mean.*/\1/p')
awk -v d="$delay" 'BEGIN { printf "main colours after the mean: target <= 100 ms: %s\n",
  (d <= 100 ? "met" : "MISSED") }'
