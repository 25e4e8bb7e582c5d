#!/usr/bin/env bash
# The Windows console decoder under Wine on audio files: the audio unit's tests built for Windows,
# the audio round trip of the native build (every format, depth and rate it reads, damaged files
# refused by name, --channel, --report, --join) run against quorvane-decode.exe, and --rescue on
# damaged 16-bit tapes, whose TAP files and status.log (time stamps aside) must be those of the
# native decoder on the same file.
#
#   audio.sh NATIVE_BUILD WINDOWS_BUILD [unittest arguments for the round trip]
#
# NATIVE_BUILD holds tools/quorvane-tapgen, tests/rescue/qv-tapesim and app/quorvane-decode;
# WINDOWS_BUILD holds app/quorvane-decode.exe, 32- or 64-bit (a 64-bit one runs on Wine's 64-bit
# loader, for machines that cannot run 32-bit processes). Wine runs in a private prefix (env.sh, no
# X server), removed at the end. Prints "PASS name"/"FAIL name" per check and "N passed, M failed";
# exits 1 when a check failed, 2 when a program is missing.
set -u -o pipefail
here="$(cd "$(dirname "$0")" && pwd)"
[[ $# -ge 2 ]] || { echo "usage: audio.sh NATIVE_BUILD WINDOWS_BUILD [unittest arguments]" >&2; exit 2; }
source "$here/harness.sh"
qv_programs audio.sh "$1" "$2"
windows="$(cd "$2" && pwd)"
shift 2
qv_env_up --console || exit 2
# The round trip calls the decoder as a program of its own.
printf '#!/bin/sh\nexec timeout 300 wine "%s" "$@"\n' "$DECODE" >"$QV_TMP/decode"
chmod +x "$QV_TMP/decode"

# The unit tests of the audio unit (format recognition, samples at full precision, MP3 and RF64
# tapes written through the library), when the tree has them.
audio_unit_tests() {
    timeout 600 ctest --test-dir "$windows" -R '^audio_test$' --output-on-failure >"$QV_TMP/audio_test.log" 2>&1 ||
        { tail -n 30 "$QV_TMP/audio_test.log"; why "audio_test failed"; }
}
[[ ! -f $windows/audio/audio_test.exe ]] || check audio-unit-tests audio_unit_tests

roundtrip() {
    python3 "$here/../roundtrip/audio_roundtrip.py" --tapgen "$TAPGEN" --decode "$QV_TMP/decode" "$@"
}
# Most of the time goes into Wine starting each run, so the formats and the rest run side by side.
roundtrip_in_two() {
    local formats
    roundtrip EveryFormat >"$QV_TMP/formats.log" 2>&1 &
    formats=$!
    roundtrip Precision Channels Damage ReportAndJoin CommandLine >"$QV_TMP/rest.log" 2>&1
    echo $? >"$QV_TMP/rest.rc"
    wait "$formats"
}
roundtrip_rest() { cat "$QV_TMP/formats.log" "$QV_TMP/rest.log" && (($(cat "$QV_TMP/rest.rc") == 0)); }
if [[ $# -gt 0 ]]; then
    check audio-round-trip roundtrip "$@"
else
    check audio-round-trip-formats roundtrip_in_two
    check audio-round-trip-damage-channels-report roundtrip_rest
fi

# --rescue on damaged tapes: the same files as the native decoder, byte for byte.
tapes make "$QV_TMP" >/dev/null || exit 2
rescue_same() {
    local family=$1 strength=$2 rate=$3 dir="$QV_TMP/rescue-$1-$2-$3" side native rc
    mkdir -p "$dir/native" "$dir/windows"
    "$TAPESIM" "$QV_TMP/mixed.tap" "$dir/tape.wav" --family "$family" --strength "$strength" --seed 3 --rate "$rate" \
        >/dev/null || why "qv-tapesim failed" || return 1
    ln -s ../tape.wav "$dir/native/" && ln -s ../tape.wav "$dir/windows/"
    (cd "$dir/native" && "$NATIVE_DECODE" --rescue tape.wav >out 2>err)
    native=$?
    (cd "$dir/windows" && "$QV_TMP/decode" --rescue tape.wav >out 2>err)
    rc=$?
    ((rc == native)) || why "exit status $rc, the native decoder's $native" || return 1
    ls "$dir/native/TAPE"/out*.tap >/dev/null 2>&1 || why "the native decoder left no TAP file" || return 1
    echo "  $(ls "$dir/native/TAPE" | wc -l) files"
    for side in native windows; do
        sed -E 's/^[0-9]{2}:[0-9]{2}:[0-9]{2} //' "$dir/$side/TAPE/status.log" >"$dir/$side.log" 2>/dev/null
        rm -f "$dir/$side/TAPE/status.log"
    done
    diff -rq "$dir/native/TAPE" "$dir/windows/TAPE" >"$dir/diff" 2>&1 || why "$(head -n2 "$dir/diff" | tr '\n' ' ')" || return 1
    cmp -s "$dir/native.log" "$dir/windows.log" || why "status.log differs"
}
check rescue-combined-2-44100 rescue_same combined 2 44100
check rescue-click-3-44100 rescue_same click 3 44100
check rescue-drift-3-48000 rescue_same drift 3 48000
qv_summary
