#!/usr/bin/env bash
# The Windows console decoder under Wine on audio files: the audio unit's tests built for Windows,
# the audio round trip of the native build (every format, depth and rate it reads, damaged files
# refused by name, --channel, --report, --join) run against quorvane-decode.exe, and --rescue on damaged 16-bit tapes, whose TAP files and
# status.log (time stamps aside) must be those of the native decoder on the same file.
#
#   audio.sh NATIVE_BUILD WINDOWS_BUILD [unittest arguments for the round trip]
#
# NATIVE_BUILD holds tools/quorvane-tapgen, tests/rescue/qv-tapesim and app/quorvane-decode;
# WINDOWS_BUILD holds app/quorvane-decode.exe, 32- or 64-bit (a 64-bit one runs on Wine's 64-bit
# loader, for machines that cannot run 32-bit processes). Wine runs in a prefix of its own, removed
# at the end. Prints "PASS name"/"FAIL name" per check and "N passed, M failed"; exits 1 when a check
# failed, 2 when a program is missing.
set -u -o pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [[ $# -lt 2 ]]; then
    echo "usage: audio.sh NATIVE_BUILD WINDOWS_BUILD [unittest arguments]" >&2
    exit 2
fi
native="$(cd "$1" && pwd)" || exit 2
windows="$(cd "$2" && pwd)" || exit 2
shift 2
TAPGEN="$native/tools/quorvane-tapgen"
TAPESIM="$native/tests/rescue/qv-tapesim"
NATIVE_DECODE="$native/app/quorvane-decode"
EXE="$windows/app/quorvane-decode.exe"
for program in "$TAPGEN" "$TAPESIM" "$NATIVE_DECODE" "$EXE"; do
    [[ -f $program ]] || {
        echo "audio.sh: $program is missing (build both trees first)" >&2
        exit 2
    }
done
tmp="$(mktemp -d /tmp/qv-wine-audio.XXXXXX)" || exit 2
export WINEPREFIX="$tmp/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
loader=wine
if x86_64-w64-mingw32-objdump -f "$EXE" | grep -q 'x86-64'; then
    loader=/usr/lib/wine/wine64
    export WINEARCH=win64 WINELOADER=$loader
fi
cleanup() {
    timeout 20 wineserver -k 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
mkdir -p "$WINEPREFIX"
# The prefix made before the first run (which would otherwise spend its time limit on it), and one
# server for all the runs instead of one per run; wineserver -k above ends it.
timeout 180 "$loader" wineboot -i >"$tmp/wineboot.log" 2>&1 || {
    echo "audio.sh: wineboot failed: $(tail -n 3 "$tmp/wineboot.log" | tr '\n' ' ')" >&2
    exit 2
}
timeout 20 wineserver -p 2>/dev/null
# The round trip calls the decoder as a program of its own.
cat >"$tmp/decode" <<EOF
#!/bin/sh
exec timeout 300 $loader "$EXE" "\$@"
EOF
chmod +x "$tmp/decode"

passed=0
failed=0
result() {
    if [[ $2 == 0 ]]; then
        echo "PASS $1"
        passed=$((passed + 1))
    else
        echo "FAIL $1${3:+: $3}"
        failed=$((failed + 1))
    fi
}

# The unit tests of the audio unit (format recognition, samples at full precision, MP3 and RF64
# tapes written through the library), when the tree has them.
if [[ -f $windows/audio/audio_test.exe ]]; then
    timeout 600 ctest --test-dir "$windows" -R '^audio_test$' --output-on-failure >"$tmp/audio_test.log" 2>&1
    rc=$?
    [[ $rc == 0 ]] || tail -n 30 "$tmp/audio_test.log"
    result audio-unit-tests $rc
fi

roundtrip() {
    python3 "$here/../roundtrip/audio_roundtrip.py" --tapgen "$TAPGEN" --decode "$tmp/decode" "$@"
}
if [[ $# -gt 0 ]]; then
    roundtrip "$@"
    result audio-round-trip $?
else
    # Most of the time goes into Wine starting each run, so the formats and the rest run side by side.
    roundtrip EveryFormat >"$tmp/formats.log" 2>&1 &
    formats=$!
    roundtrip Precision Channels Damage ReportAndJoin CommandLine >"$tmp/rest.log" 2>&1
    rest=$?
    wait "$formats"
    rc=$?
    cat "$tmp/formats.log" "$tmp/rest.log"
    result audio-round-trip-formats $rc
    result audio-round-trip-damage-channels-report $rest
fi

# --rescue on damaged tapes: the same files as the native decoder, byte for byte.
python3 "$here/tapes.py" make "$tmp" >/dev/null || exit 2
rescue_same() {
    local family=$1 strength=$2 rate=$3 dir="$tmp/rescue-$1-$2-$3" side why=""
    mkdir -p "$dir/native" "$dir/windows"
    "$TAPESIM" "$tmp/mixed.tap" "$dir/tape.wav" --family "$family" --strength "$strength" --seed 3 --rate "$rate" \
        >/dev/null || { result "rescue-$family-$strength-$rate" 1 "qv-tapesim failed"; return; }
    for side in native windows; do
        ln -s ../tape.wav "$dir/$side/tape.wav"
    done
    (cd "$dir/native" && "$NATIVE_DECODE" --rescue tape.wav >out 2>err)
    local native_rc=$?
    (cd "$dir/windows" && "$tmp/decode" --rescue tape.wav >out 2>err)
    local windows_rc=$?
    if [[ $native_rc != "$windows_rc" ]]; then
        why="exit status $windows_rc, the native decoder's $native_rc"
    elif ! ls "$dir/native/TAPE"/out*.tap >/dev/null 2>&1; then
        why="the native decoder left no TAP file"
    else
        for side in native windows; do
            sed -E 's/^[0-9]{2}:[0-9]{2}:[0-9]{2} //' "$dir/$side/TAPE/status.log" >"$dir/$side.log" 2>/dev/null
            rm -f "$dir/$side/TAPE/status.log"
        done
        diff -rq "$dir/native/TAPE" "$dir/windows/TAPE" >"$dir/diff" 2>&1 || why="$(head -n2 "$dir/diff" | tr '\n' ' ')"
        [[ -n $why ]] || cmp -s "$dir/native.log" "$dir/windows.log" || why="status.log differs"
    fi
    [[ -z $why ]]
    result "rescue-$family-$strength-$rate ($(ls "$dir/native/TAPE" 2>/dev/null | wc -l) files)" $? "$why"
}
rescue_same combined 2 44100
rescue_same click 3 44100
rescue_same drift 3 48000

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
