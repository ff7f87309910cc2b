#!/usr/bin/env bash
# Builds quillmere-avg.exe for 64-bit Windows on Debian: fetches the picture libraries' sources
# from Debian's archive, cross-builds them as static libraries with MinGW-w64, then the program
# and its formats module.
# usage: scripts/build-windows.sh [BUILD_DIR]     (default: build-windows)
# With QUILLMERE_WINDOWS_TESTS=1 it also builds GoogleTest (Debian's googletest source) and
# imaging_windows_tests.exe beside the program, which .ci/run runs under Wine.
# The program is BUILD_DIR/avg/tools/quillmere-avg.exe, with quillmere-formats.dll (WebP, TIFF)
# beside it. The fetched sources and the libraries stay in BUILD_DIR/deps, so a second run only
# builds the program again.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
# The header-only pieces (CLI11, JSON, stb, Qt's QSize and QRgb) are the host's own headers.
quillmere_install_packages "${QUILLMERE_WINDOWS_PACKAGES[@]}" \
  libcli11-dev nlohmann-json3-dev libstb-dev qt6-base-dev cmake ninja-build pkg-config

source_dir=$PWD
build=$(realpath -m "${1:-build-windows}")
deps=$build/deps
prefix=$deps/prefix
toolchain=$source_dir/cmake/mingw-w64-x86_64.cmake
triplet=x86_64-w64-mingw32
mkdir -p "$deps/src" "$prefix/include" "$prefix/lib"

# Pinned to the point release: every one of them builds this way. Name, version, build function.
LIBRARIES=(
  "libjpeg-turbo 1:2.1.5-2 BuildJpeg"
  "libpng1.6 1.6.39-2+deb12u5 BuildPng"
  "giflib 5.2.1-2.5+deb12u1 BuildGif"
  "lcms2 2.14-2+deb12u1 BuildLcms"
  "libwebp 1.2.4-0.2+deb12u1 BuildWebp"
  "tiff 4.5.0-6+deb12u4 BuildTiff"
)

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# The archive this machine already installs from, for a private apt configuration with a deb-src
# line: the machine's own apt lists and settings stay as they are.
ArchiveUri() {
  local uri
  uri=$(grep -hoE '(https?|file)://[^ ]+/debian/?( |$)' /etc/apt/sources.list \
    /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1 || true)
  echo "${uri:-http://deb.debian.org/debian}" | tr -d ' '
}

PrepareApt() {
  local apt=$deps/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d" \
    "$apt/preferences.d"
  local codename
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(ArchiveUri)" \
    "$codename main" >"$apt/sources.list"
  cat >"$apt/apt.conf" <<EOF
Dir::Etc::SourceList "$apt/sources.list";
Dir::Etc::SourceParts "$apt/sources.list.d";
Dir::Etc::Preferences "$apt/preferences";
Dir::Etc::PreferencesParts "$apt/preferences.d";
Dir::State::Lists "$apt/lists";
Dir::Cache "$apt/cache";
EOF
  export APT_CONFIG=$apt/apt.conf
  if ! ls "$apt/lists/"*Sources* >/dev/null 2>&1; then
    apt-get update -qq
  fi
}

# Unpacks the source package into deps/src once; prints its folder.
FetchSource() {
  local name=$1 version=$2 upstream=${2#*:}
  upstream=${upstream%-*}
  local folder=$deps/src/$name-$upstream
  if [ ! -d "$folder" ]; then
    PrepareApt >&2
    (cd "$deps/src" && apt-get source -qq "$name=$version" >&2)
  fi
  echo "$folder"
}

CMakeLibrary() {
  local src=$1 out=$2
  shift 2
  cmake -S "$src" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" "${launcher[@]}" -Wno-dev "$@" >/dev/null
  cmake --build "$out" -j2 >/dev/null
  cmake --install "$out" >/dev/null
}

BuildJpeg() {
  CMakeLibrary "$1" "$deps/build/jpeg" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF
}

# Debian's zlib source has no Windows resource file; Debian's MinGW zlib is used instead.
BuildPng() {
  CMakeLibrary "$1" "$deps/build/png" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY=/usr/$triplet/lib/libz.a \
    -DZLIB_INCLUDE_DIR=/usr/$triplet/include
}

BuildGif() {
  make -C "$1" -j2 libgif.a CC="$triplet-gcc-posix" AR="$triplet-ar" >/dev/null
  cp "$1/libgif.a" "$prefix/lib/"
  cp "$1/gif_lib.h" "$prefix/include/"
}

# lcms2 is its src/*.c and nothing else: they are compiled here with the definitions its configure
# script arrives at for MinGW, since that script alone took longer than the compilation.
BuildLcms() {
  local out=$deps/build/lcms2 cc=("$triplet-gcc-posix") upstream=${2#*:}
  if command -v ccache >/dev/null; then
    cc=(ccache "${cc[@]}")
  fi
  mkdir -p "$out" "$prefix/lib/pkgconfig"
  (cd "$1/src" && printf '%s\n' *.c | xargs -P 2 -I{} "${cc[@]}" -O2 -fvisibility=hidden \
    -DHAVE_FUNC_ATTRIBUTE_VISIBILITY=1 -DHAVE_GMTIME_S=1 -DHAVE_PTHREAD=1 -DHasTHREADS=1 \
    -DHAVE_STDINT_H=1 -DHAVE_INTTYPES_H=1 -DHAVE_UNISTD_H=1 -I../include -c {} -o "$out/{}.o")
  rm -f "$prefix/lib/liblcms2.a"
  "$triplet-ar" rcs "$prefix/lib/liblcms2.a" "$out"/*.o
  cp "$1/include/lcms2.h" "$1/include/lcms2_plugin.h" "$prefix/include/"
  cat >"$prefix/lib/pkgconfig/lcms2.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: lcms2
Description: LCMS Color Management Library
Version: ${upstream%-*}
Libs: -L\${libdir} -llcms2
Cflags: -I\${includedir}
EOF
}

BuildWebp() {
  CMakeLibrary "$1" "$deps/build/webp" -DBUILD_SHARED_LIBS=OFF -DWEBP_BUILD_ANIM_UTILS=OFF \
    -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF \
    -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF \
    -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_LIBWEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF
}

# Deflate through MinGW's zlib and JPEG through the libjpeg-turbo above; the codecs whose
# libraries are not cross-built stay off. The loader hands libtiff C-runtime descriptors, which
# its Win32 file calls cannot take.
BuildTiff() {
  CMakeLibrary "$1" "$deps/build/tiff" -DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF \
    -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dcxx=OFF -Dwin32-io=OFF \
    -Dzlib=ON -Djpeg=ON -Dold-jpeg=ON -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF \
    -Dlibdeflate=OFF -Dpixarlog=ON \
    -DZLIB_LIBRARY=/usr/$triplet/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$triplet/include \
    -DJPEG_LIBRARY="$prefix/lib/libjpeg.a" -DJPEG_INCLUDE_DIR="$prefix/include"
}

# GoogleTest's source comes with Debian's googletest package, not through apt-get source.
BuildGoogleTest() {
  CMakeLibrary /usr/src/googletest "$deps/build/googletest" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON
}

tests=${QUILLMERE_WINDOWS_TESTS:-0}
if [ "$tests" = 1 ] && [ ! -f "$prefix/.built-googletest" ]; then
  echo "== GoogleTest for Windows =="
  started=$SECONDS
  BuildGoogleTest
  touch "$prefix/.built-googletest"
  echo "   $((SECONDS - started)) s"
fi

for library in "${LIBRARIES[@]}"; do
  read -r name version build_function <<<"$library"
  stamp=$prefix/.built-$name-${version//:/_}
  if [ -f "$stamp" ]; then
    continue
  fi
  echo "== $name $version for Windows =="
  started=$SECONDS
  folder=$(FetchSource "$name" "$version")
  "$build_function" "$folder" "$version"
  touch "$stamp"
  echo "   $((SECONDS - started)) s"
done

echo "== quillmere-avg.exe and quillmere-formats.dll =="
# libtiff's package file names MinGW's zlib package.
PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig:/usr/$triplet/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR= \
  cmake -S . -B "$build/avg" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_FIND_ROOT_PATH="$prefix" "${launcher[@]}" \
  -DQUILLMERE_AVG_ONLY=ON -DQUILLMERE_WINDOWS_TESTS=$([ "$tests" = 1 ] && echo ON || echo OFF) \
  >/dev/null
targets=(quillmere-avg quillmere_formats)
if [ "$tests" = 1 ]; then
  targets+=(imaging_windows_tests)
fi
cmake --build "$build/avg" -j2 --target "${targets[@]}"
ls -l "$build/avg/tools/quillmere-avg.exe" "$build/avg/tools/quillmere-formats.dll"
