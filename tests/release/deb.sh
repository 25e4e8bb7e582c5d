#!/usr/bin/env bash
# The Debian package of the console decoder: it declares libsndfile and libsoxr among its
# dependencies, installs with dpkg (which refuses it when a dependency is missing), and the
# installed /usr/bin/quorvane-decode turns a 16-bit stereo WAV into the right TAP files. The package
# is removed again afterwards. Run as root.
#
#   deb.sh DEB NATIVE_BUILD      (NATIVE_BUILD holds tools/quorvane-tapgen)
#
# Prints what failed; exits 0 when all held, 1 otherwise, 2 on bad usage.
set -u -o pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [[ $# -ne 2 || ! -f $1 || ! -f $2/tools/quorvane-tapgen ]]; then
    echo "usage: deb.sh DEB NATIVE_BUILD" >&2
    exit 2
fi
deb="$(realpath "$1")"
tapgen="$(realpath "$2")/tools/quorvane-tapgen"
tmp="$(mktemp -d /tmp/qv-deb.XXXXXX)"
cleanup() {
    dpkg -r quorvane-decode >/dev/null 2>&1
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "deb.sh: $*" >&2
    exit 1
}

depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
[[ $depends == *libsndfile1* && $depends == *libsoxr0* ]] || fail "the package does not depend on libsndfile1 and libsoxr0"
dpkg -i "$deb" >"$tmp/dpkg.log" 2>&1 || fail "dpkg -i failed: $(tail -n 3 "$tmp/dpkg.log")"
/usr/bin/quorvane-decode --version | grep -q libsndfile || fail "the installed quorvane-decode --version names no libsndfile"

python3 "$here/../wine/harness.py" make "$tmp" >/dev/null && "$tapgen" "$tmp/mixed.tap" "$tmp/mixed.pcm" >/dev/null &&
    sox -D -t raw -r 44100 -e unsigned -b 8 -c 1 "$tmp/mixed.pcm" -r 48000 -b 16 -c 2 "$tmp/tape.wav" ||
    fail "the test recording could not be made"
mkdir -p "$tmp/run"
(cd "$tmp/run" && /usr/bin/quorvane-decode ../tape.wav >out 2>err) || fail "quorvane-decode tape.wav: $(head -c 200 "$tmp/run/err")"
python3 "$here/../wine/harness.py" blocks "$tmp/mixed.tap" "$tmp/run/TAPE" 1 99 >"$tmp/verify" || fail "$(cat "$tmp/verify")"
echo "the installed quorvane-decode decoded a 16-bit stereo WAV into the right TAP files"
