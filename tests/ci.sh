#!/usr/bin/env bash
# The whole test run: installs what it needs, builds natively and for Windows, and runs every test:
# the core's unit tests and the round trip (ctest), the same under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, the fuzz targets for a bounded time, the
# cross build of the Windows programs (with their audio libraries, built from Debian's sources on
# the first run), the Windows program under Wine (its dialogs, live recording through a private
# PulseAudio, and the stress of Start, Stop and Exit), the Windows console decoder under Wine on
# audio files, and the release zip and Debian package, made and checked. Ends with one line
# "N passed, M failed" over all stages.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=2

bash tests/install-deps.sh || exit 1

passed=0
failed=0
failures=()
stage() {
    local name=$1
    shift
    echo "=== $name"
    local start=$SECONDS
    if "$@"; then
        passed=$((passed + 1))
        echo "=== $name: ok ($((SECONDS - start)) s)"
    else
        failed=$((failed + 1))
        failures+=("$name")
        echo "=== $name: FAILED ($((SECONDS - start)) s)"
    fi
}

native() {
    cmake -S . -B build >/dev/null && cmake --build build -j$jobs >/dev/null &&
        ctest --test-dir build --output-on-failure -j$jobs
}
# The sanitizer and fuzzing trees, and the 32-bit Windows tree when the checks under Wine do not
# run it, are built in the background, at idle priority, from the end of the native stage on: the
# cross builds leave a core idle (the audio libraries' configure scripts run one process at a time)
# and the stages under Wine mostly wait for tapes played in real time. At idle priority a build
# takes only time nothing else wants, so the recordings are not held up by it. What uses them runs
# in the foreground once each is built.
background=""
build_sanitized() {
    local dir=$1 flags=$2
    cmake -S . -B "$dir" -DQV_SANITIZE="$flags" && cmake --build "$dir" -j$jobs
}
# Builds each "TREE COMMAND..." in turn; TREE.status gets the command's status and seconds.
start_background_builds() {
    local tree
    for tree in "$@"; do
        rm -f "$root/${tree%% *}.status"
    done
    (
        chrt --idle -p 0 $BASHPID >/dev/null 2>&1 || renice -n 19 -p $BASHPID >/dev/null
        for tree in "$@"; do
            set -- $tree
            start=$SECONDS
            "${@:2}" >"$root/$1.log" 2>&1
            echo "$? $((SECONDS - start))" >"$root/$1.status"
        done
    ) &
    background=$!
}
# Waits for the background build of tree $1 and gives its status; its log's end when it failed.
built() {
    local dir=$1 rc seconds
    while [ ! -e "$root/$dir.status" ] && kill -0 "$background" 2>/dev/null; do
        sleep 2
    done
    read -r rc seconds <"$root/$dir.status" 2>/dev/null || rc=1
    if [ "$rc" -ne 0 ]; then
        echo "the build of $dir failed; the end of $dir.log:"
        tail -n 40 "$root/$dir.log"
        return 1
    fi
    echo "built in the background in $seconds s"
}
# The tests of tree $1 but the round trips and those matching $2. The rescue tallies run one
# console decoder at a time on one thread, which gives the thread sanitizer nothing to look at; so
# do the tape image checks (one writer, one thread). The simulated loads spend their time in
# SkoolKit's Python, and their writer runs on the same tapes in tape_clients.
sanitized() {
    built "$1" && ctest --test-dir "$1" --output-on-failure -j$jobs -E "roundtrip${2:+|$2}"
}
windows() {
    cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake >/dev/null &&
        cmake --build build-win32 -j$jobs >/dev/null
}
# Where the checks under Wine run the 64-bit build, the 32-bit tree is needed only for the programs
# the release zip holds.
windows_release() {
    cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake >/dev/null &&
        cmake --build build-win32 -j$jobs --target quorvane quorvane-decode >/dev/null
}
windows64() {
    cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw.cmake >/dev/null &&
        cmake --build build-win64 -j$jobs >/dev/null
}

# Wine runs 32-bit programs in 32-bit processes, which a kernel without ia32 emulation refuses
# ("Exec format error"). There the checks under Wine run the same sources built as 64-bit programs.
# Without Wine's 32-bit half (a mirror that could not give it) the same holds.
wine_tree="$root/build-win32"
wine_used="the 32-bit build (the program as shipped), Wine's 32-bit loader"
if [ "${QV_FAIL_WINE32:-0}" = 1 ]; then
    wine_why="Wine's 32-bit half was left out (QV_FAIL_WINE32=1)"
elif [ ! -x /usr/lib/wine/wine ]; then
    wine_why="Wine's 32-bit half is not installed"
elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    wine_why="32-bit processes do not run on this machine"
else
    wine_why=""
fi
background_trees=("build-asan build_sanitized build-asan address,undefined"
    "build-tsan build_sanitized build-tsan thread"
    "build-fuzz bash tests/fuzz/run.sh --build-only $root/build-fuzz")

stage "native build and tests" native
if [ -z "$wine_why" ]; then
    start_background_builds "${background_trees[@]}"
    stage "Windows cross build" windows
else
    # The 32-bit tree is then needed only by the release, at the end.
    start_background_builds "build-win32 windows_release" "${background_trees[@]}"
    echo "$wine_why: the checks under Wine use the 64-bit build"
    wine_tree="$root/build-win64"
    wine_used="the 64-bit build, Wine's 64-bit loader, because $wine_why"
    stage "Windows cross build, 64-bit (for Wine)" windows64
fi
# The scanner's kernels are where the Windows builds differ from the native one (compiler, SSE2 on
# 32-bit, AVX2 chosen at run time): its property test runs under Wine too.
wine_scan_test() {
    local prefix
    prefix="$(mktemp -d /tmp/qvscan-prefix.XXXXXX)" || return 1
    WINEPREFIX="$prefix" WINEDEBUG=-all timeout 600 ctest --test-dir "$wine_tree" -R scan_test --output-on-failure
    local rc=$?
    WINEPREFIX="$prefix" timeout 20 wineserver -k 2>/dev/null
    rm -rf "$prefix"
    return $rc
}
stage "scanner test under Wine" wine_scan_test
# The live group as `tests/wine/run.sh --live-only --repeat 5` runs it, busy processes and both
# frozen-window runs (1 s and 0.3 s every 3 s) included, but without the 3-minute tape: with its
# busy processes it would hold the builds in the background up for three minutes, and the run past
# twenty minutes.
stage "Windows program under Wine" env QV_LIVE_THREE=0 bash tests/wine/run.sh "$root/build" "$wine_tree"
stage "Windows program under Wine: stress" bash tests/wine/stress.sh "$root/build" "$wine_tree"

# The console decoder's audio files under Wine: the native build's audio round trip against the
# Windows build, and --rescue on damaged tapes giving the native decoder's files.
stage "console decoder under Wine: audio files and --rescue" bash tests/wine/audio.sh "$root/build" "$wine_tree"
# What users download: the 32-bit zip (its programs, or where 32-bit processes do not run their
# 64-bit twins, run under Wine) and the Debian package, installed and run.
[ -n "$wine_why" ] && stage "Windows cross build" built build-win32
release() {
    rm -rf "$root/dist" && bash tools/release.sh "$root/dist"
}
stage "release zip and Debian package" release
stage "release zip under Wine" bash -c 'bash tests/release/zip.sh "$1"/dist/quorvane-*-win32.zip "$1/build" "$2"' _ "$root" "$wine_tree"
stage "Debian package installed and run" bash -c 'bash tests/release/deb.sh "$1"/dist/quorvane-decode_*_amd64.deb "$1/build"' _ "$root"

stage "address and undefined-behaviour sanitizers" sanitized build-asan tape_loads
stage "thread sanitizer" sanitized build-tsan "tally|tape_clients|tape_loads"
# Four targets; half a minute each keeps the run near its twenty minutes (run.sh alone fuzzes two
# minutes each).
export QV_FUZZ_SECONDS=${QV_FUZZ_SECONDS:-30}
fuzzing() {
    built build-fuzz && bash tests/fuzz/run.sh --run-only "$root/build-fuzz"
}
stage "fuzzing" fuzzing

echo "the checks under Wine ran $wine_used"
[ ${#failures[@]} -gt 0 ] && echo "failed stages: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
