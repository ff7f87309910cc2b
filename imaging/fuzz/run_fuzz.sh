#!/usr/bin/env bash
# Builds the picture loader's libFuzzer target with clang (ASan + UBSan) and runs it on the
# committed seed corpus. Usage: imaging/fuzz/run_fuzz.sh [SECONDS] (default 60).
# Anything it finds is kept in $build_dir/fuzz-artifacts/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
build_dir=${QUILLMERE_FUZZ_BUILD_DIR:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMERE_FUZZ=ON -DQUILLMERE_TESTS=OFF -DQUILLMERE_BENCH=OFF
cmake --build "$build_dir" -j2 --target loader_fuzz

# The corpus grows while fuzzing; keep the committed seeds untouched.
corpus=$(mktemp -d /tmp/quillmere-fuzz-corpus.XXXXXX)
trap 'rm -rf "$corpus"' EXIT
cp imaging/fuzz/seeds/* "$corpus"/
artifacts="$build_dir/fuzz-artifacts"
mkdir -p "$artifacts"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}:detect_leaks=1
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
"$build_dir/imaging/loader_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus"
