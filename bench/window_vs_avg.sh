#!/usr/bin/env bash
# Times the window against quillmere-avg on the same 6000 x 4000 (24-megapixel) JPEG and PNG:
# the window's time runs from the start of opening the picture given on its command line until
# its results are painted on a private Xvfb display (the program reports it and ends when
# QUILLMERE_EXIT_WHEN_SHOWN is set); quillmere-avg's is its whole run. The two take turns, so a
# change in the machine's load hits them alike. Prints the medians and their ratio.
# Usage: bench/window_vs_avg.sh [RUNS] (default 7). Builds in $QUILLMERE_BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
quillmere_install_packages "${QUILLMERE_BUILD_PACKAGES[@]}" python3-pil xvfb x11-utils

runs=${1:-7}
build_dir=${QUILLMERE_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target quillmere quillmere-avg >/dev/null
window="$build_dir/app/quillmere"
avg="$build_dir/tools/quillmere-avg"

work=$(mktemp -d /tmp/quillmere-window-bench.XXXXXX)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo "Making a 6000 x 4000 test picture (JPEG quality 90 and PNG level 6)..."
/usr/bin/python3 - "$work/photo.jpg" <<'PY'
import sys
from PIL import Image, ImageChops, ImageFilter

# Photo-like content (smooth gradients, sharp structure, noise), so the JPEG is of a usual size.
W, H = 6000, 4000
structure = Image.effect_mandelbrot((W, H), (-2.2, -1.3, 0.9, 1.3), 60).filter(ImageFilter.BoxBlur(2))
noise = Image.effect_noise((W, H), 10)
linear = Image.linear_gradient("L").resize((W, H))
radial = Image.radial_gradient("L").resize((W, H))
red = ImageChops.add(ImageChops.multiply(structure, radial), noise, 2.0, 0)
green = ImageChops.add(linear, noise, 2.0, -10)
blue = ImageChops.add(structure.transpose(Image.FLIP_LEFT_RIGHT), radial, 2.0, 10)
picture = Image.merge("RGB", (red, green, blue))
picture.save(sys.argv[1], quality=90)
picture.save(sys.argv[1][:-4] + ".png", compress_level=6)
PY

# A display of our own: the first free one from a number that depends on this shell's pid.
display=
for ((n = 100 + $$ % 300, tries = 0; tries < 50; n++, tries++)); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
      display=":$n"
      break 2
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"

median() {
  printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"
}

# Times the two on one picture, taking turns, and prints the medians and their ratio.
measure() {
  local picture=$1 format=$2
  local avg_ms=() shown_ms=() process_ms=() start end shown
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$avg" "$picture" >"$work/avg.out"
    end=$(date +%s%N)
    avg_ms+=("$(awk -v ns=$((end - start)) 'BEGIN { printf "%.1f", ns / 1e6 }')")

    start=$(date +%s%N)
    env -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS HOME="$work/home" \
      XDG_RUNTIME_DIR="$work/runtime" DISPLAY="$display" QT_QPA_PLATFORM=xcb \
      QUILLMERE_EXIT_WHEN_SHOWN=1 timeout 60 "$window" "$picture" 2>"$work/window.err"
    end=$(date +%s%N)
    process_ms+=("$(awk -v ns=$((end - start)) 'BEGIN { printf "%.1f", ns / 1e6 }')")
    shown=$(sed -n 's/^quillmere: shown after \([0-9.]*\) ms$/\1/p' "$work/window.err")
    [ -n "$shown" ] || { echo "the window did not report its time:" >&2; cat "$work/window.err" >&2; exit 1; }
    shown_ms+=("$shown")
  done

  local a s p
  a=$(median "${avg_ms[@]}")
  s=$(median "${shown_ms[@]}")
  p=$(median "${process_ms[@]}")
  echo
  echo "== 24-megapixel $format, $(stat -c %s "$picture") bytes, median of $runs =="
  echo "quillmere-avg, whole run:                $a ms   ($(cut -c1-7 "$work/avg.out"))"
  echo "window, open to results painted:         $s ms"
  echo "window, whole run up to results painted: $p ms"
  awk -v a="$a" -v s="$s" -v p="$p" 'BEGIN {
    printf "window / quillmere-avg = %.2f (target <= 1.10: %s); whole window run / quillmere-avg = %.2f\n",
      s / a, (s / a <= 1.10 ? "met" : "MISSED"), p / a }'
}

measure "$work/photo.jpg" JPEG
measure "$work/photo.png" PNG
