#!/usr/bin/env bash
# Builds the Debian package from a finished build and checks it as a user's machine would see it:
# its name and fields, its file list, the desktop entry and AppStream data as installed, and
# quillmere-avg run from the unpacked files.
# Usage: check_package.sh BUILD_DIR APP_ID VERSION
set -euo pipefail
build_dir=$1 app_id=$2 version=$3

scratch=$(mktemp -d /tmp/quillmere-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

cpack -G DEB -B "$scratch/out" --config "$build_dir/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb="$scratch/out/quillmere_${version}-1_amd64.deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); made: $(ls "$scratch/out")"

[ "$(dpkg-deb -f "$deb" Package)" = quillmere ] || fail "wrong package name"
[ "$(dpkg-deb -f "$deb" Version)" = "${version}-1" ] || fail "wrong version"
depends=$(dpkg-deb -f "$deb" Depends)
# Found by the library scan, not written by hand.
# The formats module's libraries count too. PNG is read through ISA-L; libpng is only the tests' reference.
for library in libqt6widgets6 libqt6gui6 libisal2 libjpeg62-turbo libc6 libheif1 libjxl0.7 \
  libwebp7; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

# Exactly these files, nothing from the tests or benchmarks.
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./||' | sort >"$scratch/files"
sort >"$scratch/expected" <<LIST
usr/bin/quillmere
usr/bin/quillmere-avg
usr/lib/quillmere/libquillmere-formats.so
usr/share/applications/${app_id}.desktop
usr/share/icons/hicolor/16x16/apps/quillmere.png
usr/share/icons/hicolor/24x24/apps/quillmere.png
usr/share/icons/hicolor/32x32/apps/quillmere.png
usr/share/icons/hicolor/48x48/apps/quillmere.png
usr/share/man/man1/quillmere-avg.1
usr/share/man/man1/quillmere.1
usr/share/metainfo/${app_id}.metainfo.xml
LIST
diff -u "$scratch/expected" "$scratch/files" || fail "unexpected file list"

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/${app_id}.desktop" \
  || fail "desktop entry invalid"
appstreamcli validate --no-net "$root/usr/share/metainfo/${app_id}.metainfo.xml" \
  || fail "AppStream data invalid"
grep -q "<release version=\"${version}\"" "$root/usr/share/metainfo/${app_id}.metainfo.xml" \
  || fail "AppStream release is not ${version}"

# A 2 x 1 BMP, (10, 20, 30) and (30, 40, 50), as the unpacked program reads it.
printf 'BM\x3e\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x02\0\0\0\x01\0\0\0\x01\0\x18\0\0\0\0\0\x08\0\0\0\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0\x1e\x14\x0a\x32\x28\x1e\0\0' \
  >"$scratch/two.bmp"
line=$("$root/usr/bin/quillmere-avg" "$scratch/two.bmp")
[[ $line == "#141E28 "* ]] || fail "unpacked quillmere-avg printed: $line"
# The same pixels as WebP: the program finds the formats module in the package's own folder.
printf 'P6\n2 1\n255\n\x0a\x14\x1e\x1e\x28\x32' >"$scratch/two.ppm"
cwebp -quiet -lossless "$scratch/two.ppm" -o "$scratch/two.webp" || fail "cwebp failed"
line=$("$root/usr/bin/quillmere-avg" "$scratch/two.webp")
[[ $line == "#141E28 "* ]] || fail "unpacked quillmere-avg printed for WebP: $line"
# Without the module the newer formats are a load error with its reason, and the rest still works.
rm "$root/usr/lib/quillmere/libquillmere-formats.so"
status=0
"$root/usr/bin/quillmere-avg" "$scratch/two.webp" "$scratch/two.bmp" >"$scratch/out.txt" \
  2>"$scratch/err.txt" || status=$?
[ "$status" = 1 ] || fail "a missing module gave exit status $status"
grep -q "^Error loading picture $scratch/two.webp" "$scratch/out.txt" "$scratch/err.txt" \
  || fail "a missing module gave no load error: $(cat "$scratch/out.txt" "$scratch/err.txt")"
grep -q "libquillmere-formats.so" "$scratch/err.txt" || fail "a missing module was not named"
grep -q "^#141E28 " "$scratch/out.txt" || fail "the BMP failed without the module"
# Start-up is most of a small picture's time: the command-line program must not map Qt or the
# newer formats' codecs until a picture needs them.
needed=$(readelf -d "$root/usr/bin/quillmere-avg" | grep NEEDED || true)
if grep -E -q 'Qt6|heif|avif|jxl|webp|tiff' <<<"$needed"; then
  fail "quillmere-avg loads at start: $needed"
fi
echo "package check passed: $(basename "$deb")"
