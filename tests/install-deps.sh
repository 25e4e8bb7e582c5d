#!/usr/bin/env bash
# Installs what building and testing Quorvane needs on Debian 12: the native toolchain and test
# libraries, the console decoder's audio libraries (libsndfile, libsoxr) and sox (the audio round
# trip converts its recordings with it, the rescue tally makes its lossy tapes with it), the 32-bit
# Windows cross compilers, Wine with a headless X server, PulseAudio for the live-recording test,
# clang's fuzzing and sanitizer runtimes. Run as root. Quick when all is there.
set -euo pipefail

native=(cmake g++ make python3 libgtest-dev libbenchmark-dev libsndfile1-dev libsoxr-dev sox)
windows=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine32:i386 wine64 fonts-wine xvfb xauth xdotool
         x11-utils imagemagick pulseaudio pulseaudio-utils libpulse0:i386 locales clang libclang-rt-14-dev
         dpkg-dev zip unzip)
want=("${native[@]}")
[ "${1:-}" = "--native-only" ] || want+=("${windows[@]}")

missing=()
for package in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
# The Windows trees build their audio libraries from Debian's source packages, which apt-get
# source fetches only with a deb-src entry.
if [ "${1:-}" != "--native-only" ] && [ "$(id -u)" -eq 0 ]; then
    bash "$(dirname "$0")/../tools/winlibs.sh" --add-sources
fi
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages (${missing[*]}); run this script as root" >&2
    exit 1
fi
echo "install-deps: installing ${missing[*]}"
if printf '%s\n' "${missing[@]}" | grep -q ':i386'; then
    dpkg --add-architecture i386
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
