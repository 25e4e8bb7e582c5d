#!/usr/bin/env bash
# Fuzzing of the core: builds the four libFuzzer targets (decoder_fuzz: recordings and thresholds
# through a raw-file run; catalogue_fuzz: file contents through the catalogue; audio_fuzz: any file
# through the console decoder's audio path, recognition, libsndfile and libsoxr included;
# plays_fuzz: two short plays of a tape through the rescue decoder's run over several plays) with
# clang++-14, AddressSanitizer and UndefinedBehaviorSanitizer into BUILD_DIR, and runs them at once
# on their seed corpora for QV_FUZZ_SECONDS seconds each (default 120). Inputs that find new paths are kept
# in BUILD_DIR/corpus-*, so later runs start from them; a crashing input is written to
# BUILD_DIR/crash-*. Exit status 0 when no target found anything. --build-only builds and stops;
# --run-only runs what an earlier --build-only built (CI builds while other stages run).
# Usage: tests/fuzz/run.sh [--build-only | --run-only] BUILD_DIR
set -uo pipefail

phase=all
case ${1:-} in --build-only | --run-only) phase=${1#--}; shift ;; esac
if [ $# -ne 1 ]; then
    echo "usage: $0 [--build-only | --run-only] BUILD_DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(mkdir -p "$1" && cd "$1" && pwd)
seconds=${QV_FUZZ_SECONDS:-120}
cxx=clang++-14

targets=(decoder catalogue audio plays)
build() {
    # clang 14 accepts only UTF-8 for -fexec-charset, so the sources are transcoded to Windows-1251
    # instead: clang copies the bytes of a string literal as they are, which gives the very bytes that
    # g++ -fexec-charset=CP1251 gives the program.
    src=$build/src
    rm -rf "$src"
    for dir in tape decoder report capture resources audio rescue tests/fuzz; do
        mkdir -p "$src/$dir"
        for file in "$root/$dir"/*.h "$root/$dir"/*.cpp; do
            [ -e "$file" ] || continue
            iconv -f UTF-8 -t CP1251 "$file" >"$src/$dir/$(basename "$file")" || exit 1
        done
    done

    # Line tables only: a crash's stack keeps function, file and line, and the core compiles in about
    # half the time of full debug information.
    flags=(-std=c++17 -O1 -gline-tables-only -fno-omit-frame-pointer -Wall -Wextra -Wno-invalid-source-encoding
           -fsanitize=address,undefined -fno-sanitize-recover=all -I"$src")
    core=()
    for file in "$src"/tape/*.cpp "$src"/decoder/*.cpp "$src"/report/*.cpp "$src"/capture/*.cpp "$src"/audio/*.cpp "$src"/rescue/*.cpp; do
        case $file in *_test.cpp | *_win32.cpp) continue ;; esac
        core+=("$file")
    done

    # One object per source, two at a time; the core goes into an archive so that each target links
    # only what it uses.
    mkdir -p "$build/obj"
    pids=()
    core_objects=()
    for file in "${core[@]}" "$src"/tests/fuzz/*.cpp; do
        object=$build/obj/$(basename "${file%.cpp}").o
        case $file in "$src"/tests/*) ;; *) core_objects+=("$object") ;; esac
        "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$file" -o "$object" &
        pids+=($!)
        if [ ${#pids[@]} -ge 2 ]; then
            wait "${pids[0]}" || exit 1
            pids=("${pids[@]:1}")
        fi
    done
    for pid in "${pids[@]}"; do
        wait "$pid" || exit 1
    done
    rm -f "$build/libqvcore-fuzz.a"
    ar rcs "$build/libqvcore-fuzz.a" "${core_objects[@]}" || exit 1
    for target in "${targets[@]}"; do
        "$cxx" "${flags[@]}" -fsanitize=fuzzer "$build/obj/${target}_fuzz.o" "$build/obj/fuzz_support.o" \
            "$build/libqvcore-fuzz.a" -lsndfile -lsoxr -lz -lpthread -o "$build/${target}_fuzz" || exit 1
    done
}
if [ $phase != run-only ]; then
    build || exit 1
    [ $phase = build-only ] && exit 0
fi
for target in "${targets[@]}"; do
    if [ ! -x "$build/${target}_fuzz" ]; then
        echo "$build/${target}_fuzz is not built" >&2
        exit 1
    fi
done

# Each run writes its TAP files and recordings into a private directory, in memory when it can.
scratch_parent=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_parent=/dev/shm
scratch=$(mktemp -d -p "$scratch_parent" quorvane-fuzz.XXXXXX) || exit 1
trap 'rm -rf "$scratch"' EXIT

# Sample streams need room for a few blocks; catalogue inputs are a layout byte and up to 70000
# bytes of contents; audio files hold a short tape.
declare -A max_len=([decoder]=262144 [catalogue]=70001 [audio]=131072 [plays]=131072)
pids=()
for target in "${targets[@]}"; do
    mkdir -p "$build/corpus-$target"
    (
        # A smaller quarantine than AddressSanitizer's 256 MB keeps the memory limit for the code.
        cd "$scratch" &&
            TMPDIR=$scratch ASAN_OPTIONS=quarantine_size_mb=64 LSAN_OPTIONS=suppressions=$here/lsan-libraries.supp \
                "$build/${target}_fuzz" -max_total_time="$seconds" -rss_limit_mb=512 \
                -timeout=30 -max_len="${max_len[$target]}" -print_final_stats=1 \
                -artifact_prefix="$build/crash-$target-" \
                "$build/corpus-$target" "$here/corpus-$target"
    ) >"$build/$target.log" 2>&1 &
    pids+=($!)
done
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$scratch"' EXIT
status=0
summary=()
for i in "${!targets[@]}"; do
    target=${targets[$i]}
    if wait "${pids[$i]}"; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$target.log")
        summary+=("$target: ${runs:-?} inputs, nothing found")
    else
        status=1
        echo "--- ${target}_fuzz found a fault; the end of its log ($build/$target.log):"
        tail -n 60 "$build/$target.log"
        summary+=("$target: FAULT, input in $build/crash-$target-*")
    fi
done
echo "fuzzing for $seconds s each. ${summary[*]}"
exit $status
