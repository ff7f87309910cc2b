#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillmere.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
quillmere_install_packages "${QUILLMERE_BUILD_PACKAGES[@]}"

build_dir=${QUILLMERE_BUILD_DIR:-build-run}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLMERE_BENCH=OFF \
  -DQUILLMERE_TESTS=OFF
cmake --build "$build_dir" -j2 --target quillmere
exec "$build_dir/app/quillmere"
