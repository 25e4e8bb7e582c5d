#!/usr/bin/env bash
# What a user downloads: dist/quorvane-VERSION-win32.zip (the 32-bit quorvane.exe and
# quorvane-decode.exe, README.txt, the licences of what is linked into them) and
# dist/quorvane-decode_VERSION_amd64.deb (the native console decoder, its library dependencies
# declared). VERSION is the one in CMakeLists.txt's project().
#
#   release.sh [DIST]     (DIST defaults to dist/ in the source tree)
#
# Builds what is missing of build/ and build-win32/ first (the Windows tree builds its audio
# libraries on the first configure). Prints the two files' paths and sizes; exits 1 when a build or
# a step fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
dist="${1:-$root/dist}"
mkdir -p "$dist"
dist="$(cd "$dist" && pwd)"
jobs=${QV_JOBS:-2}

version="$(sed -nE 's/^project\(quorvane +VERSION +([0-9][0-9A-Za-z.+~-]*).*/\1/p' CMakeLists.txt)"
[[ -n $version ]] || { echo "release.sh: no VERSION in CMakeLists.txt's project()" >&2; exit 1; }

cmake -S . -B build >/dev/null
cmake --build build -j"$jobs" --target quorvane-decode >/dev/null
# The toolchain is named at the first configure only (CMake warns when it is given again).
if [[ -f build-win32/CMakeCache.txt ]]; then
    cmake -S . -B build-win32 >/dev/null
else
    cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake >/dev/null
fi
cmake --build build-win32 -j"$jobs" --target quorvane quorvane-decode >/dev/null

work="$(mktemp -d /tmp/qv-release.XXXXXX)"
trap 'rm -rf "$work"' EXIT

# ---- the zip
name="quorvane-$version-win32"
stage="$work/$name"
mkdir -p "$stage/licences"
for program in quorvane quorvane-decode; do
    i686-w64-mingw32-strip -o "$stage/$program.exe" "build-win32/app/$program.exe"
done
# Notepad of older Windows shows a text without carriage returns on one line.
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' tools/release/README.txt >"$stage/README.txt"
# The audio libraries' licences lie where the tree built them (QV_WINLIBS: its own winlibs/, or a
# cache named at the configure); a zip without them would ship the libraries unlicensed.
winlibs="$(sed -n 's/^QV_WINLIBS:PATH=//p' build-win32/CMakeCache.txt)"
licences=("${winlibs:-build-win32/winlibs}"/prefix/licences/*.txt)
[[ -f ${licences[0]} ]] || { echo "release.sh: no licences of the audio libraries in ${winlibs:-build-win32/winlibs}/prefix/licences" >&2; exit 1; }
for licence in "${licences[@]}"; do
    sed 's/$/\r/' "$licence" >"$stage/licences/$(basename "$licence")"
done
# The MinGW-w64 runtime (winpthreads among it) and GCC's runtime libraries are linked in too.
sed 's/$/\r/' /usr/share/doc/mingw-w64-common/copyright >"$stage/licences/mingw-w64.txt"
sed 's/$/\r/' /usr/share/doc/gcc-mingw-w64-base/copyright >"$stage/licences/gcc-runtime.txt"
rm -f "$dist/$name.zip"
(cd "$work" && TZ=UTC zip -qrX "$dist/$name.zip" "$name")

# ---- the Debian package
deb="$work/deb"
mkdir -p "$deb/DEBIAN" "$deb/usr/bin" "$deb/usr/share/doc/quorvane-decode"
strip -o "$deb/usr/bin/quorvane-decode" build/app/quorvane-decode
cat >"$deb/usr/share/doc/quorvane-decode/copyright" <<'EOF'
quorvane-decode: the console decoder of Quorvane, which turns ZX Spectrum cassette recordings into
TAP files. It links libsndfile, libsoxr and zlib, whose licences are in /usr/share/doc/libsndfile1,
/usr/share/doc/libsoxr0 and /usr/share/doc/zlib1g.
EOF
# dpkg-shlibdeps works out the dependencies from the program's libraries; it wants a source
# package's control file to stand in.
mkdir -p "$work/shlibs/debian"
printf 'Source: quorvane\n\nPackage: quorvane-decode\nArchitecture: amd64\n' >"$work/shlibs/debian/control"
depends="$(cd "$work/shlibs" && dpkg-shlibdeps -O "$deb/usr/bin/quorvane-decode" 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p')"
[[ -n $depends ]] || { echo "release.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
cat >"$deb/DEBIAN/control" <<EOF
Package: quorvane-decode
Version: $version
Architecture: amd64
Maintainer: The Quorvane developers <quorvane@invalid>
Depends: $depends
Section: utils
Priority: optional
Installed-Size: $(du -sk "$deb/usr" | cut -f1)
Description: ZX Spectrum cassette recordings into TAP files
 quorvane-decode reads a recording of a ZX Spectrum tape (WAV, FLAC, Ogg, MP3 and
 every other format libsndfile reads, or a raw 8-bit recording) and writes every block
 into its own TAP file in TAPE/, with a time-stamped log; --rescue reads damaged tapes.
EOF
debname="quorvane-decode_${version}_amd64.deb"
dpkg-deb --root-owner-group -Zxz --build "$deb" "$dist/$debname" >/dev/null

ls -l "$dist/$name.zip" "$dist/$debname" | awk '{ print $9 ": " $5 " bytes" }'
