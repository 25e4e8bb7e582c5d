#!/usr/bin/env bash
# The release zip as a user gets it: it unpacks into one folder with both programs, README.txt and
# the licences; both programs are 32-bit Windows programs that import only system DLLs (printed);
# under Wine quorvane.exe starts and shows its main dialog, and quorvane-decode.exe turns a 16-bit
# stereo WAV and a FLAC into the right TAP files.
#
#   zip.sh ZIP NATIVE_BUILD WINDOWS_BUILD
#
# NATIVE_BUILD holds tools/quorvane-tapgen; WINDOWS_BUILD is the Windows build the checks under Wine
# run on, whose tests/driver/qvdrive.exe drives the window. When it is a 64-bit build (where Wine
# cannot run 32-bit processes), its app/quorvane.exe and app/quorvane-decode.exe are run as the zip's
# 64-bit twins, which the output says; the zip's own programs are then checked by their headers and
# imports only.
# Prints "PASS name" or "FAIL name: why" per check and "N passed, M failed"; exits 1 when a check
# failed, 2 on bad usage.
set -u -o pipefail
here="$(cd "$(dirname "$0")" && pwd)"
wine_dir="$here/../wine"
if [[ $# -ne 3 ]]; then
    echo "usage: zip.sh ZIP NATIVE_BUILD WINDOWS_BUILD" >&2
    exit 2
fi
zip="$(realpath "$1")"
TAPGEN="$(realpath "$2")/tools/quorvane-tapgen"
windows="$(realpath "$3")"
[[ -f $zip && -f $TAPGEN ]] || { echo "zip.sh: $zip or $TAPGEN is missing" >&2; exit 2; }
source "$wine_dir/harness.sh"
# The programs to run: the zip's own, or where Wine runs no 32-bit processes, their 64-bit twins.
folder="$(basename "$zip" .zip)"
QVDRIVE="$windows/tests/driver/qvdrive.exe"
QV_WINEARCH=win32
if x86_64-w64-mingw32-objdump -f "$QVDRIVE" 2>/dev/null | grep -q 'x86-64'; then
    echo "the checks under Wine run on a 64-bit build here: the zip's programs are run as their 64-bit twins from $windows"
    QV_WINEARCH=win64
fi
[[ -f $QVDRIVE ]] || { echo "zip.sh: $QVDRIVE is missing" >&2; exit 2; }
qv_env_up || exit 2
unpacked="$QV_TMP/unpacked"
check_unpacks() {
    mkdir -p "$unpacked" && unzip -q "$zip" -d "$unpacked" || why "unzip failed" || return 1
    local name
    for name in quorvane.exe quorvane-decode.exe README.txt licences/libsndfile.txt licences/libsoxr.txt \
        licences/flac.txt licences/libogg.txt licences/libvorbis.txt licences/opus.txt licences/mpg123.txt \
        licences/lame.txt licences/zlib.txt licences/mingw-w64.txt; do
        [[ -s $unpacked/$folder/$name ]] || why "$folder/$name is not in the zip" || return 1
    done
    [[ $(ls "$unpacked") == "$folder" ]] || why "the zip holds more than the folder $folder"
}

# Windows itself has these; anything else would have to be shipped beside the programs.
SYSTEM_DLLS=" KERNEL32.dll USER32.dll GDI32.dll WINMM.dll ADVAPI32.dll COMCTL32.dll COMDLG32.dll SHELL32.dll SHLWAPI.dll msvcrt.dll "
# The checks run in the Russian locale of the Wine world: objdump's words are asked for in English.
check_imports() {
    local program dll
    for program in quorvane quorvane-decode; do
        local exe="$unpacked/$folder/$program.exe"
        LC_ALL=C i686-w64-mingw32-objdump -f "$exe" 2>/dev/null | grep -q 'file format pei-i386' ||
            why "$program.exe is not a 32-bit Windows program" || return 1
        local imports
        imports="$(LC_ALL=C i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | sort -fu | tr '\n' ' ')"
        echo "imports of $program.exe: $imports"
        for dll in $imports; do
            [[ ${SYSTEM_DLLS,,} == *" ${dll,,} "* ]] || why "$program.exe imports $dll" || return 1
        done
    done
}
check unpacks check_unpacks
check only-system-dlls check_imports

QVEXE="$unpacked/$folder/quorvane.exe"
DECODE="$unpacked/$folder/quorvane-decode.exe"
if [[ $QV_WINEARCH == win64 ]]; then
    QVEXE="$windows/app/quorvane.exe"
    DECODE="$windows/app/quorvane-decode.exe"
fi

check_window_starts() {
    local dir="$QV_TMP/window"
    mkdir -p "$dir"
    [[ -f $QVEXE && -f $DECODE ]] || why "the programs to run are missing" || return 1
    # No sound card here: the program says so, then waits for the user.
    app_start "$dir" && D wait "$INFO" 10000 ok "$INFO" 5000 && app_quit || return 1
    [[ -d $dir/TAPE ]] || why "quorvane.exe made no TAPE folder"
}

tapes make "$QV_TMP" >/dev/null || exit 2
"$TAPGEN" "$QV_TMP/mixed.tap" "$QV_TMP/mixed.pcm" >/dev/null || exit 2
check_decoder_reads() {
    local file=$1 dir="$QV_TMP/decode-$1"
    shift
    sox -D -t raw -r 44100 -e unsigned -b 8 -c 1 "$QV_TMP/mixed.pcm" "$@" "$QV_TMP/$file" || why "sox failed" || return 1
    mkdir -p "$dir"
    (cd "$dir" && timeout 120 wine "$DECODE" "../$file" >out 2>err) ||
        why "quorvane-decode.exe $file failed: $(head -c 200 "$dir/err")" || return 1
    judge "" blocks "$QV_TMP/mixed.tap" "$dir/TAPE" 1 99
}

check window-starts check_window_starts
check decoder-wav-16-bit-stereo check_decoder_reads tape.wav -r 48000 -b 16 -c 2
check decoder-flac check_decoder_reads tape.flac -r 48000 -b 16 -c 2

qv_summary
