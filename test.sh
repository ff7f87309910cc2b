#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
quillmere_install_packages "${QUILLMERE_BUILD_PACKAGES[@]}" "${QUILLMERE_TEST_PACKAGES[@]}" \
  "${QUILLMERE_WAYLAND_TEST_PACKAGES[@]}"

build_dir=${QUILLMERE_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$build_dir" -j2
# Tests that need a display start their own servers; a private runtime dir keeps Qt quiet.
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/quillmere-runtime.XXXXXX)}
chmod 700 "$XDG_RUNTIME_DIR"
ctest --test-dir "$build_dir" --output-on-failure -j2 --timeout 300
