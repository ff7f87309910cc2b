# Installs the Debian packages the build and the tests need, printing what it installs.
# Sourced by run.sh and test.sh; works as root or through sudo, never prompts.

# Build and run.
QUILLMERE_BUILD_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-wayland libqt6opengl6-dev qt6-l10n-tools qt6-tools-dev
  libpng-dev libjpeg62-turbo-dev libgif-dev libstb-dev
  zlib1g-dev
  libwebp-dev libtiff-dev libheif-dev libavif-dev libjxl-dev
  libcli11-dev nlohmann-json3-dev liblcms2-dev libxcb1-dev libisal-dev
  fonts-wqy-microhei
)

# Only for bench/compare.sh: the tools quillmere-avg is measured against (djpeg, vips and igzip among
# them), and GNU time.
QUILLMERE_COMPARE_PACKAGES=(python3-pil imagemagick time libjpeg-turbo-progs libvips-tools isal)

# Tests and benchmarks.
QUILLMERE_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  webp libheif-examples libavif-bin libjxl-tools
  clang libclang-rt-14-dev
  xvfb xdotool x11-xserver-utils x11-utils icewm xclip
  dbus python3 python3-dbus valgrind
  dpkg-dev file desktop-file-utils appstream
  libgs-common  # Ghostscript's ICC profiles, for the colour conversion tests
)

# Only for the real Wayland session test: a headless sway desktop with the wlr screenshot portal,
# and the Wayland client library and scanner for its virtual pointer tool.
QUILLMERE_WAYLAND_TEST_PACKAGES=(
  sway swaybg grim pipewire xdg-desktop-portal xdg-desktop-portal-wlr
  libwayland-dev libwayland-bin
)

# Only for the Windows build of quillmere-avg (scripts/build-windows.sh): the MinGW-w64 cross
# compiler (its -posix variant has std::thread), NASM for libjpeg-turbo's SIMD, zlib for MinGW,
# dpkg-dev to unpack the other libraries' Debian sources, and Wine and GoogleTest's source to run
# the tests (.ci/run).
QUILLMERE_WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix nasm libz-mingw-w64-dev dpkg-dev
  wine wine64 googletest
)

quillmere_missing_packages() {
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed$' \
      || printf '%s\n' "$pkg"
  done
}

quillmere_install_packages() {
  local missing
  mapfile -t missing < <(quillmere_missing_packages "$@")
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}
