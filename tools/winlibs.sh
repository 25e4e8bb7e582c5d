#!/usr/bin/env bash
# The libraries of the Windows programs, built from Debian's source packages as static libraries
# with the mingw -posix compilers: the console decoder's audio libraries (libogg, libvorbis, FLAC,
# Opus, mpg123, LAME, libsoxr and libsndfile) and zlib (the CSW writer's compression), the versions
# bookworm ships.
#
#   winlibs.sh --add-sources      (as root) adds the deb-src entry `apt-get source` needs
#   winlibs.sh i686|x86_64 DIR    builds them into DIR/prefix (include/, lib/, licences/)
#
# Called by the Windows trees' configure step with DIR inside the build tree. Each library is built
# once: a stamp per library (its version and the checksum of this script's build steps) makes a
# second run cost nothing, and a run cut short goes on with the library it was building. The sources are checked
# against checksums kept here, not against their signatures: apt-get source exits 100 because
# mpg123's .asc is missing on the mirror, and dpkg-source is told not to look for it.
# Each library's build output goes to DIR/logs/NAME.log; on failure its tail is printed and the
# script exits 1.
set -euo pipefail

# name, Debian version, SHA-256 of the .dsc (whose checksums of the tarballs are then checked).
PACKAGES=(
    "libogg 1.3.5-3 dd0bac7c6961f95290250f82940aba93582edc3924372afc8fd310af5db995a0"
    "libvorbis 1.3.7-1 b25d27beb9162607c95cf58aa2b764d110bd1a1568d3926a96c523320b49171f"
    "flac 1.4.2+ds-2 2f855e77c68e3e9818b47553bb4f33918fb558fe9cf58b30a089a99f811d3beb"
    "opus 1.3.1-3 c373ac82a1afb824819618c12e279ee47b6ac2fa18083b9ef2bb9e8e9e588419"
    "mpg123 1.31.2-1+deb12u1 a67b2daf33ecf2d2a720e0cd721ac44828f1edee644abac34d8022819abbbb1a"
    "lame 3.100-6 6a402771625fa80785a2b904697ba9c7e74a1ee4fa536354e9e88f08e2a4073b"
    "libsoxr 0.1.3-4 ce1af0b2dda238ffb7ad2ccea606d132d4153a2bf1b63994fcebc7e0a8db8970"
    "libsndfile 1.2.0-1+deb12u1 74686b038b925f4b238d0a37e36671e5b924fe1678083037494923140403fa8e"
    "zlib 1:1.2.13.dfsg-1 3fa1e6b2fc525062aa88207dda52fed8e045373c809d362fe8a2bfbf7cf515a8"
)
SOURCES_LIST=/etc/apt/sources.list.d/quorvane-src.sources

if [[ ${1:-} == --add-sources ]]; then
    if ! apt-cache showsrc libogg >/dev/null 2>&1; then
        cat >"$SOURCES_LIST" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
        apt-get update -qq || true
    fi
    exit 0
fi
if [[ $# -ne 2 || ! $1 =~ ^(i686|x86_64)$ ]]; then
    echo "usage: winlibs.sh --add-sources | winlibs.sh i686|x86_64 DIR" >&2
    exit 2
fi
# ---- the builds (a library is built again when anything from here on changes)
arch=$1
mkdir -p "$2"
dir="$(cd "$2" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
host=$arch-w64-mingw32
prefix="$dir/prefix"
jobs=${QV_JOBS:-2}
mkdir -p "$dir/src" "$dir/logs" "$prefix/licences"
script_sum="$(sed -n '/^# ---- the builds/,$p' "$0" | sha256sum | cut -d' ' -f1)"

# CMake projects find each other in the prefix and nothing of the host.
toolchain="$dir/toolchain.cmake"
cat >"$toolchain" <<EOF
include($here/../cmake/toolchain-$arch-mingw.cmake)
list(APPEND CMAKE_FIND_ROOT_PATH "$prefix")
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR "")
EOF
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig"
unset PKG_CONFIG_PATH
cflags="-O2"
[[ $arch == i686 ]] && cflags+=" -msse2"

fail() {
    echo "winlibs: $*" >&2
    exit 1
}

# The unpacked source tree of package $1 at version $2, its .dsc checked against $3 and its files
# against the .dsc.
fetch() {
    local name=$1 version=$2 sum=$3 dsc file want
    dsc="$dir/src/${name}_${version#*:}.dsc"
    if [[ ! -f $dsc ]]; then
        (cd "$dir/src" && apt-get source --download-only -qq "$name=$version" >/dev/null 2>&1) || true
    fi
    [[ -f $dsc ]] ||
        fail "apt-get source $name=$version fetched nothing (is there a deb-src entry? run tools/winlibs.sh --add-sources as root)"
    [[ $(sha256sum "$dsc" | cut -d' ' -f1) == "$sum" ]] || fail "$dsc does not have the checksum kept for it"
    while read -r want _ file; do
        # The signatures are not checked (the pinned checksum of the .dsc stands for them), and
        # mpg123's is not on the mirror.
        [[ $file == *.asc ]] && continue
        [[ $(sha256sum "$dir/src/$file" 2>/dev/null | cut -d' ' -f1) == "$want" ]] ||
            fail "$dir/src/$file is missing or does not match $dsc"
    done < <(sed -n '/^Checksums-Sha256:/,/^[^ ]/{/^ /p}' "$dsc")
    rm -rf "$dir/src/$name"
    dpkg-source --no-check -x "$dsc" "$dir/src/$name" >/dev/null || fail "dpkg-source cannot unpack $dsc"
}

cmake_build() {
    local source=$1 build=$2
    shift 2
    rm -rf "$build"
    cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_C_FLAGS="$cflags" -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF "$@" &&
        cmake --build "$build" -j"$jobs" && cmake --install "$build"
}

build_one() {
    local name=$1 src="$dir/src/$1" b="$dir/build-$1"
    case $name in
    libogg) cmake_build "$src" "$b" -DINSTALL_DOCS=OFF ;;
    libvorbis) cmake_build "$src" "$b" ;;
    flac)
        cmake_build "$src" "$b" -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF \
            -DINSTALL_MANPAGES=OFF -DWITH_OGG=ON -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF
        ;;
    opus)
        # The release tarball lacks this file its CMake build includes; nothing in it is needed.
        [[ -f $src/opus_buildtype.cmake ]] || : >"$src/opus_buildtype.cmake"
        cmake_build "$src" "$b" -DOPUS_STACK_PROTECTOR=OFF -DOPUS_BUILD_PROGRAMS=OFF
        ;;
    mpg123) cmake_build "$src/ports/cmake" "$b" -DBUILD_PROGRAMS=OFF -DBUILD_LIBOUT123=OFF ;;
    lame)
        # No CMake build; the frontend is not needed.
        rm -rf "$b" && cp -a "$src" "$b" &&
            (cd "$b" && ./configure --host="$host" --prefix="$prefix" --disable-shared --enable-static \
                --disable-frontend --disable-decoder CFLAGS="$cflags" && make -j"$jobs" && make install)
        ;;
    libsoxr)
        cmake_build "$src" "$b" -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF
        ;;
    libsndfile)
        # Its own Find modules, and the libraries' own config files first, so that FLAC's
        # static-library define reaches it.
        cmake_build "$src" "$b" -DCMAKE_MODULE_PATH="$src/cmake" -DCMAKE_FIND_PACKAGE_PREFER_CONFIG=ON \
            -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DENABLE_CPACK=OFF -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=ON \
            -DENABLE_PACKAGE_CONFIG=OFF -DINSTALL_PKGCONFIG_MODULE=OFF
        ;;
    zlib)
        # Its CMake build for mingw wants the resource file that Debian's tarball leaves out, and
        # only the static library is needed: the library's sources compiled and archived as they are.
        rm -rf "$b" && mkdir -p "$b" "$prefix/lib" "$prefix/include" && (
            cd "$b"
            for unit in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
                inftrees trees uncompr zutil; do
                "$host-gcc-posix" $cflags -c "$src/$unit.c" -o "$unit.o" || exit 1
            done
            "$host-ar" rcs libz.a ./*.o && cp libz.a "$prefix/lib/" && cp "$src/zlib.h" "$src/zconf.h" "$prefix/include/"
        )
        ;;
    esac
}

# The licence texts go with the programs: Debian's copyright file of each package.
for entry in "${PACKAGES[@]}"; do
    read -r name version sum <<<"$entry"
    stamp="$prefix/.$name.done"
    [[ -f $stamp && $(cat "$stamp") == "$version $script_sum" ]] && continue
    start=$SECONDS
    echo "winlibs: $name $version for $arch" >&2
    fetch "$name" "$version" "$sum"
    if ! build_one "$name" >"$dir/logs/$name.log" 2>&1; then
        tail -n 30 "$dir/logs/$name.log" >&2
        fail "$name did not build for $arch (all of it in $dir/logs/$name.log)"
    fi
    cp "$dir/src/$name/debian/copyright" "$prefix/licences/$name.txt"
    rm -rf "$dir/build-$name" "$dir/src/$name"
    echo "$version $script_sum" >"$stamp"
    echo "winlibs: $name built in $((SECONDS - start)) s" >&2
done
