#!/usr/bin/env bash
# Builds the picture loader's libFuzzer targets with clang (ASan + UBSan) and runs them on the
# committed seed corpus: the loader on every format for three quarters of the time, then the two
# PNG readers against each other on the PNG seeds for the rest.
# Usage: imaging/fuzz/run_fuzz.sh [SECONDS] (default 60, in all).
# Anything they find is kept in $build_dir/fuzz-artifacts/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
loader_seconds=$((seconds * 3 / 4))
png_seconds=$((seconds - loader_seconds))
build_dir=${QUILLMERE_FUZZ_BUILD_DIR:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMERE_FUZZ=ON -DQUILLMERE_TESTS=OFF -DQUILLMERE_BENCH=OFF
cmake --build "$build_dir" -j2 --target loader_fuzz png_differential_fuzz

# The corpora grow while fuzzing; keep the committed seeds untouched.
corpus=$(mktemp -d /tmp/quillmere-fuzz-corpus.XXXXXX)
png_corpus=$(mktemp -d /tmp/quillmere-fuzz-png-corpus.XXXXXX)
trap 'rm -rf "$corpus" "$png_corpus"' EXIT
cp imaging/fuzz/seeds/* "$corpus"/
# The differential target reads its first byte as options: each PNG seed goes in with and without
# its CRCs mended, converted and raw.
for seed in imaging/fuzz/seeds/*.png; do
  for option in 0 1 2 3; do
    { printf "\\x$option"; cat "$seed"; } >"$png_corpus/$option-$(basename "$seed")"
  done
done
artifacts="$build_dir/fuzz-artifacts"
mkdir -p "$artifacts"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}:detect_leaks=1
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
"$build_dir/imaging/loader_fuzz" -max_total_time="$loader_seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus"
"$build_dir/imaging/png_differential_fuzz" -max_total_time="$png_seconds" -timeout=10 \
  -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts/png-" \
  "$png_corpus"
