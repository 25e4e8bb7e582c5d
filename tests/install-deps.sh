#!/usr/bin/env bash
# Installs what building and testing Quorvane needs on Debian 12, in groups, each one apt-get call:
#   native   the toolchain and test libraries, the console decoder's audio libraries (libsndfile,
#            libsoxr) and zlib (the CSW writer), sox (the audio round trip and the rescue tally
#            convert with it), an SVG renderer: required;
#   tapetools  fuse-emulator-utils (tzxlist, tape2wav: the real clients that read the TZX and CSW
#            files written), Python's headers and setuptools (SkoolKit's C simulator, ten times
#            faster than its Python one): optional; the tests that need the tools say in one line
#            that they skipped, and the simulated loads run on the Python simulator;
#   fuzz     clang with its fuzzing and sanitizer runtimes: required for the tests;
#   windows  the Windows cross compilers, Wine's 64-bit half, a headless X server, PulseAudio for the
#            live recording, the Russian locale's tools, dpkg-dev (the Windows trees' audio libraries
#            are built from Debian's source packages, for which a deb-src entry is added too; the
#            Debian package), zip and unzip (the release zip): required for the stages under Wine;
#   wine32   Wine's 32-bit half: optional. On some days the i386 index of the security suite cannot
#            be fetched (a mirror mid-sync) and these cannot be installed; the checks under Wine then
#            run the 64-bit build, as on a kernel without ia32 emulation.
# `--native-only` installs the first group alone (all the bundled sample needs). Run as root; quick when all is there.
# QV_FAIL_WINE32=1 treats the optional group as failing (to show that the rest goes on without it).
# Exit status: 0 when the required groups are there, 1 when one of them cannot be installed.
set -uo pipefail

native=(cmake g++ make python3 git libgtest-dev libbenchmark-dev libsndfile1-dev libsoxr-dev zlib1g-dev sox)
tapetools=(fuse-emulator-utils python3-dev python3-setuptools)
fuzz=(clang libclang-rt-14-dev)
windows=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 fonts-wine
         xvfb xauth xdotool x11-utils imagemagick pulseaudio pulseaudio-utils locales dpkg-dev zip unzip)
wine32=(wine32:i386 libpulse0:i386)
# rsvg-convert: the half-waves picture's check renders the SVG quorvane-decode draws.
native+=(librsvg2-bin)

say() { echo "install-deps: $*"; }

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# The packages of the named group that are not installed yet, one a line.
missing_of() {
    local -n group=$1
    local package
    for package in "${group[@]}"; do
        installed "$package" || echo "$package"
    done
}

updated=0
# apt-get update, tried three times. An index that cannot be fetched leaves apt with the lists it
# had, and an i386 index alone matters only to the optional group, so a failure here is reported
# and the installs below decide.
update() {
    [ $updated -eq 1 ] && return 0
    updated=1
    local try
    for try in 1 2 3; do
        if apt-get update -qq >/tmp/qv-apt-update.log 2>&1; then
            return 0
        fi
        if ! grep -q '^E:' /tmp/qv-apt-update.log; then
            return 0
        fi
        [ $try -lt 3 ] && sleep 5
    done
    say "apt-get update reported: $(grep '^E:' /tmp/qv-apt-update.log | head -n 2 | tr '\n' ' ')"
}

# Installs group $1; when that fails, returns 1 with apt's reason in $why.
why=""
install_group() {
    local name=$1
    local missing
    why=""
    mapfile -t missing < <(missing_of "$name")
    if [ "$name" = wine32 ] && [ "${QV_FAIL_WINE32:-0}" = 1 ]; then
        why="QV_FAIL_WINE32=1 makes this group fail"
        return 1
    fi
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        why="missing packages (${missing[*]}); run this script as root"
        return 1
    fi
    if [ "$name" = wine32 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        updated=0
    fi
    say "installing $name: ${missing[*]}"
    update
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        >/tmp/qv-apt-install.log 2>&1 && return 0
    why=$(grep -E '^E:|^ [a-z0-9.+:-]+ : Depends' /tmp/qv-apt-install.log | head -n 3 | tr '\n' ' ')
    return 1
}

install_group native || { say "the native group cannot be installed: $why"; exit 1; }
[ "${1:-}" = "--native-only" ] && exit 0
install_group tapetools || say "the tape tools are not all installed, the checks with tzxlist and tape2wav may skip: $why"
install_group fuzz || { say "the fuzzing group cannot be installed: $why"; exit 1; }
install_group windows || { say "the Windows group cannot be installed: $why"; exit 1; }
if [ "$(id -u)" -eq 0 ]; then
    bash "$(dirname "$0")/../tools/winlibs.sh" --add-sources
fi
install_group wine32 ||
    say "Wine's 32-bit half is not installed, the checks under Wine use the 64-bit build: $why"
exit 0
