#!/usr/bin/env bash
# End-to-end checks of quorvane.exe under Wine, headless: the program is started as a user starts it
# and driven through its dialogs with qvdrive; what it shows and the files it leaves are compared with
# what the program is meant to show and leave (tapes.py works that out from the tapes played) and with
# what quorvane-decode leaves for the same recording.
#
#   run.sh [--live | --no-live | --live-only] [--long] [--repeat N] [--shots DIR] NATIVE_BUILD WIN32_BUILD
#
# NATIVE_BUILD holds tools/quorvane-tapgen; WIN32_BUILD holds app/quorvane.exe,
# app/quorvane-decode.exe and tests/driver/qvdrive.exe. The live-audio group (a private PulseAudio
# whose null sink is the program's sound card) runs by default when pulseaudio is installed; --long
# adds its 10-minute recording; --repeat N runs the live group N times in a row and sums up the
# rounds. Screenshots go to DIR (default WIN32_BUILD/screenshots).
# Prints "PASS name" or "FAIL name: why" per check and finally "N passed, M failed"; exits 1 when a
# check failed, 2 on bad usage or when the environment cannot be built.

set -u -o pipefail
here="$(cd "$(dirname "$0")" && pwd)"

live=auto
long=0
repeat=1
shots=""
while [[ $# -gt 0 && $1 == --* ]]; do
    case $1 in
    --live) live=1 ;;
    --live-only) live=only ;;
    --no-live) live=0 ;;
    --long) long=1 ;;
    --repeat)
        repeat=${2:-}
        [[ $repeat =~ ^[1-9][0-9]*$ ]] || {
            echo "run.sh: --repeat needs a number of rounds" >&2
            exit 2
        }
        shift
        ;;
    --shots)
        shots=${2:-}
        shift
        ;;
    *)
        echo "run.sh: unknown option $1" >&2
        exit 2
        ;;
    esac
    shift
done
if [[ $# -ne 2 ]]; then
    echo "usage: run.sh [--live | --no-live | --live-only] [--long] [--repeat N] [--shots DIR] NATIVE_BUILD WIN32_BUILD" >&2
    exit 2
fi
source "$here/harness.sh"
qv_programs run.sh "$1" "$2"
win32="$(cd "$2" && pwd)"
shots="${shots:-$win32/screenshots}"
if [[ $live == auto ]]; then
    live=0
    command -v pulseaudio >/dev/null && command -v pacat >/dev/null && command -v parec >/dev/null && live=1
fi
mkdir -p "$shots" || exit 2
shots="$(cd "$shots" && pwd)"

source "$here/env.sh"
qv_env_up || exit 2

MAIN="Quorvane"
SETTINGS="Quorvane Setting"
# On the driver's command line the program's texts are UTF-8 like any argument (Wine hands them
# to it in the ANSI code page).
cp1251() { printf '%s' "$1" | iconv -f UTF-8 -t CP1251; }
INFO="Сообщение"
GENBOX="Генерация mp3 файла"
NO_DEVICE=$'Невозможно открыть записывающие устройство!\r\nСкорее всего звуковая карта занята другим приложением.'
NO_FILE="Невозможно открыть файл"
RANGE=$'Значение поля Buffer Len \nдолжно быть в пределах 256..200000'
FIELDS=(101 102 107 103 104 109 110 111 112 116)
DEFAULTS=(21 36 300 4 18 15 28 33 54 128)
NAMES=(PilotMin PilotMax PilotWait SyncMin SyncMax ZeroMin ZeroMax OneMin OneMax BaseLine)

passed=0
failed=0
WHYF="$QV_TMP/why"

# A control's text exactly (the driver ends every value with one "\n").
text_to() {
    D text "$1" "$2" >"$3.raw" || return 1
    head -c -1 "$3.raw" >"$3"
}

# Expect the control $2 of dialog $1 to show the UTF-8 text $3.
expect_text() {
    local got
    got="$(D text "$1" "$2" | utf8)" || return 1
    [[ $got == "$3" ]] || why "control $2 of \"$1\" shows \"$got\", not \"$3\""
}

expect_enabled() {
    local got
    got="$(D enabled "$1" "$2")" || return 1
    [[ $got == "$3" ]] || why "control $2 of \"$1\" is $([[ $got == 1 ]] && echo enabled || echo disabled)"
}

# The program in directory $1, as a user starts it; output kept in $1.log.
APP_PID=""
app_start() {
    (cd "$1" && exec timeout 120 wine "$QVEXE") >"$1.log" 2>&1 &
    APP_PID=$!
    QV_PIDS+=("$APP_PID")
    D wait "$MAIN" 15000
}

# The information box $1 (UTF-8 text) is shown; OK closes it.
expect_info() {
    local got want
    D wait "$INFO" 5000 || return 1
    text_to "$INFO" 65535 "$QV_TMP/box" || return 1
    cp1251 "$1" >"$QV_TMP/box.want"
    cmp -s "$QV_TMP/box" "$QV_TMP/box.want" ||
        why "box \"Сообщение\" says \"$(utf8 <"$QV_TMP/box" | tr '\r\n' '  ')\", not \"$(tr '\r\n' '  ' <<<"$1")\""
    D ok "$INFO" 5000
}

# Start-up on this machine (no sound card): the device message, then idle.
app_start_idle() {
    app_start "$1" && expect_info "$NO_DEVICE"
}

# Exit from the menu: the process must end with code 0, as seen by the driver and by Wine.
app_quit() {
    local code rc
    code="$(D quit "$MAIN" 1 10000)" || return 1
    wait "$APP_PID"
    rc=$?
    APP_PID=""
    [[ $code == 0 && $rc == 0 ]] || why "Exit ended the program with code $code (Wine: $rc)"
}

# Whatever a failed check left running ends here, by its pid.
app_cleanup() {
    if [[ -n $APP_PID ]] && kill -0 "$APP_PID" 2>/dev/null; then
        kill "$APP_PID" 2>/dev/null
        wait "$APP_PID" 2>/dev/null
    fi
    APP_PID=""
}

check() {
    local name=$1
    shift
    rm -f "$WHYF"
    if "$@" && [[ ! -s $WHYF ]]; then
        echo "PASS $name"
        passed=$((passed + 1))
    else
        [[ -s $WHYF ]] || echo "failed" >"$WHYF"
        echo "FAIL $name: $(head -n1 "$WHYF")"
        failed=$((failed + 1))
    fi
    # A group of checks on one program run keeps it between them.
    [[ -n ${KEEP_APP:-} ]] || app_cleanup
}

# A fresh directory for a check to start the program in.
workdir() {
    local dir="$QV_TMP/work-$1"
    rm -rf "$dir"
    mkdir -p "$dir"
    echo "$dir"
}

# A raw-file run from the main dialog: Source .PCM, the name $1, Start; waits until the file has been
# read to its end (controls unlocked, ".PCM file closed" logged).
raw_run() {
    D radio "$MAIN" 24 settext "$MAIN" 22 "$1" click "$MAIN" 12 &&
        D wait-enabled "$MAIN" 12 60000 wait-text "$MAIN" 21 ".PCM file closed" 10000
}

# quorvane-decode.exe on the same recording in its own directory $2 ($1 the recording, the rest its
# options): what it leaves in $2/TAPE is what the program must leave.
decode_run() {
    local recording=$1 dir=$2
    shift 2
    mkdir -p "$dir/TAPE" && cp "$recording" "$dir/TAPE/" &&
        (cd "$dir" && timeout 60 wine "$DECODE" "TAPE/$(basename "$recording")" "$@" >decode.out 2>decode.err) ||
        why "quorvane-decode.exe failed on $(basename "$recording")"
}

same_tape() {
    local diffs
    diffs="$(diff -rq "$1" "$2" 2>&1)" || why "TAPE differs from quorvane-decode's: $(head -n3 <<<"$diffs" | tr '\n' ' ')"
}

# ---- test data
data="$QV_TMP/data"
mkdir -p "$data"
python3 "$here/tapes.py" make "$data" || exit 2
for tape in mixed long one; do
    "$TAPGEN" "$data/$tape.tap" "$data/$tape.pcm" >/dev/null || exit 2
done
"$TAPGEN" "$here/../../samples/sinclair.tap" "$data/sinclair.pcm" >/dev/null || exit 2
# The long tape for Stop in mid-run, each block after 48 MB of silence (see stress-tapes.py spaced).
python3 "$here/stress-tapes.py" spaced "$TAPGEN" "$data/long.tap" "$data/long.pcm" 48 || exit 2
python3 "$here/tapes.py" shift "$data/one.pcm" "$data/low.pcm" || exit 2

# ---- start-up
check_startup_creates_tape() {
    local dir
    dir="$(workdir startup)"
    printf 'keep' >"$dir/wavfile.pcm"
    app_start_idle "$dir" || return 1
    [[ -d $dir/TAPE ]] || why "no TAPE directory after start-up"
    [[ $(cat "$dir/wavfile.pcm") == keep ]] || why "wavfile.pcm in the start directory lost its contents"
    app_quit
}

check_startup_without_sound_card() {
    local dir
    dir="$(workdir nosound)"
    app_start_idle "$dir" || return 1
    expect_enabled "$MAIN" 12 1 && expect_enabled "$MAIN" 14 0 || return 1
    [[ $(D checked "$MAIN" 26) == 1 ]] || why "Sound Card is not the chosen source"
    local i
    for i in "${!FIELDS[@]}"; do
        expect_enabled "$SETTINGS" "${FIELDS[$i]}" 1 || return 1
        expect_text "$SETTINGS" "${FIELDS[$i]}" "${DEFAULTS[$i]}" || return 1
    done
    expect_text "$MAIN" 17 1024 && expect_text "$MAIN" 22 sinclair.pcm || return 1
    [[ $(D lbcount "$MAIN" 1004) == 0 ]] || why "the catalogue of an empty TAPE is not empty"
    app_quit
}

check_startup_lists_existing_files() {
    local dir lines want
    dir="$(workdir listing)"
    mkdir -p "$dir/TAPE"
    python3 "$here/tapes.py" seed "$dir/TAPE"
    app_start_idle "$dir" || return 1
    D lblines "$MAIN" 1004 >"$dir/list" || return 1
    python3 "$here/tapes.py" describe "$dir/TAPE" out003.tap out010.tap >"$dir/list.want"
    cmp -s "$dir/list" "$dir/list.want" || why "catalogue shows \"$(utf8 <"$dir/list" | tr '\n' '|')\""
    [[ $(D lbsel "$MAIN" 1004) == 1 ]] || why "the last catalogue line is not selected"
    # Numbers are not reused below the highest: the next block is out011.tap.
    cp "$data/one.pcm" "$dir/TAPE/" && raw_run one.pcm || return 1
    app_quit || return 1
    python3 "$here/tapes.py" verify "$data/one.tap" "$dir/TAPE" 11 >"$dir/verify" || why "after out010.tap: $(cat "$dir/verify")"
}

# ---- a raw-file run against the console decoder
RUN="$QV_TMP/run-mixed"
check_raw_file_run() {
    local dir="$RUN"
    rm -rf "$dir"
    mkdir -p "$dir/app/TAPE"
    cp "$data/mixed.pcm" "$dir/app/TAPE/"
    app_start_idle "$dir/app" || return 1
    raw_run mixed.pcm || return 1
    expect_enabled "$MAIN" 12 1 && expect_enabled "$MAIN" 14 0 || return 1
    local field
    for field in "${FIELDS[@]}"; do
        expect_enabled "$SETTINGS" "$field" 1 || return 1
    done
    text_to "$MAIN" 21 "$dir/status" && text_to "$MAIN" 1000 "$dir/headers" || return 1
    D lblines "$MAIN" 1004 >"$dir/list" && D lbsel "$MAIN" 1004 >"$dir/sel" || return 1
    app_quit || return 1
    decode_run "$data/mixed.pcm" "$dir/decode" || return 1
    same_tape "$dir/app/TAPE" "$dir/decode/TAPE" || return 1
    python3 "$here/tapes.py" verify "$data/mixed.tap" "$dir/app/TAPE" 1 >"$dir/verify" || why "$(cat "$dir/verify")"
    local log="$dir/app/TAPE/status.log"
    [[ $(grep -c $'^CRC summ ok\r$' "$log") == 5 && $(grep -c $'^Warning! CRC summ error \r$' "$log") == 1 ]] ||
        why "status.log lacks the checksum verdicts (5 ok, 1 error)"
}

check_raw_file_panes() {
    local dir="$RUN" problems
    [[ -f $dir/list ]] || why "no raw-file run to look at" || return 1
    problems="$(python3 "$here/tapes.py" stamped "$dir/status" "$dir/app/TAPE/status.log")" ||
        why "status pane: $problems" || return 1
    python3 "$here/tapes.py" headers "$data/mixed.tap" | sed 's/$/\r/' >"$dir/headers.want"
    cmp -s "$dir/headers" "$dir/headers.want" ||
        why "header pane shows \"$(utf8 <"$dir/headers" | tr '\r\n' ' |')\"" || return 1
    (cd "$dir/app/TAPE" && python3 "$here/tapes.py" describe . out00{1..6}.tap && echo out006.tap) >"$dir/list.want"
    cmp -s "$dir/list" "$dir/list.want" || why "catalogue shows \"$(utf8 <"$dir/list" | tr '\n' '|')\"" || return 1
    # The rescan after the last block selects that block's catalogue line; the bare name appended
    # below it is not selected.
    [[ $(cat "$dir/sel") == 5 ]] || why "catalogue selection is line $(cat "$dir/sel"), not the last block's (5)"
}

check_missing_file() {
    local dir before after
    dir="$(workdir missing)"
    app_start_idle "$dir" || return 1
    before="$(ls -A "$dir" "$dir/TAPE")"
    D radio "$MAIN" 24 settext "$MAIN" 22 nothere.pcm post "$MAIN" 12 || return 1
    expect_info "$NO_FILE" || return 1
    after="$(ls -A "$dir" "$dir/TAPE")"
    [[ $before == "$after" ]] || why "files appeared: $(diff <(echo "$before") <(echo "$after") | grep '^>' | tr '\n' ' ')"
    expect_enabled "$MAIN" 12 1 && expect_enabled "$MAIN" 14 0 && expect_enabled "$SETTINGS" 101 1 || return 1
    app_quit
}

# ---- Stop in the middle of a long raw-file run
check_stop_mid_run() {
    local dir field ms unfinished n i
    dir="$(workdir stop)"
    mkdir -p "$dir/TAPE"
    cp "$data/long.pcm" "$data/one.pcm" "$dir/TAPE/"
    app_start_idle "$dir" || return 1
    D radio "$MAIN" 24 settext "$MAIN" 22 long.pcm click "$MAIN" 12 wait-text "$MAIN" 21 out003.tap 20000 || return 1
    [[ $(D enabled "$MAIN" 14) == 1 ]] || why "the run ended before Stop could be pressed (long.tap is too short)" || return 1
    expect_enabled "$MAIN" 12 0 || return 1
    for field in "${FIELDS[@]}"; do
        expect_enabled "$SETTINGS" "$field" 0 || why "settings field $field is editable during a run" || return 1
    done
    ms="$(D mark click "$MAIN" 14 wait-enabled "$MAIN" 12 1000 since)" || return 1
    expect_enabled "$MAIN" 14 0 || return 1
    for field in "${FIELDS[@]}"; do
        expect_enabled "$SETTINGS" "$field" 1 || return 1
    done
    # The highest-numbered file is the one Stop interrupted; all below it are finished blocks.
    unfinished="$(cd "$dir/TAPE" && ls out*.tap | sort | tail -n1)"
    n=$((10#${unfinished:3:3}))
    [[ $(head -c 2 "$dir/TAPE/$unfinished") == "  " ]] || why "$unfinished (interrupted) does not start with the placeholder"
    python3 "$here/tapes.py" blocks "$data/long.tap" "$dir/TAPE" 1 $((n - 1)) >"$dir/verify" ||
        why "finished blocks: $(cat "$dir/verify")" || return 1
    local finished=()
    for ((i = 1; i < n; i++)); do
        finished+=("$(printf 'out%03d.tap' "$i")")
    done
    (cd "$dir/TAPE" && sha1sum "${finished[@]}" && stat -c '%n %Y %s' "${finished[@]}") >"$dir/before"
    # The next Start writes the interrupted number again and leaves the finished files alone.
    D radio "$MAIN" 24 settext "$MAIN" 22 one.pcm click "$MAIN" 12 wait-enabled "$MAIN" 12 20000 \
        wait-text "$MAIN" 21 ".PCM file closed" 10000 || return 1
    app_quit || return 1
    (cd "$dir/TAPE" && sha1sum "${finished[@]}" && stat -c '%n %Y %s' "${finished[@]}") >"$dir/after"
    cmp -s "$dir/before" "$dir/after" || why "a finished file changed after Stop and Start" || return 1
    python3 "$here/tapes.py" verify "$data/one.tap" "$dir/TAPE" "$n" >"$dir/verify1" ||
        why "after Stop: $(cat "$dir/verify1")" || return 1
    ((ms <= 1000)) || why "controls unlocked $ms ms after Stop"
    echo "$ms" >"$QV_TMP/stop-ms"
}

# ---- settings
set_all_fields() {
    local args=() field
    for field in "${FIELDS[@]}"; do
        args+=(settext "$SETTINGS" "$field" "$1")
    done
    D "${args[@]}"
}

expect_defaults() {
    local i
    for i in "${!FIELDS[@]}"; do
        expect_text "$SETTINGS" "${FIELDS[$i]}" "${DEFAULTS[$i]}" || return 1
    done
}

# The TimeSetting values as Wine stored them in user.reg ("Name=decimal" lines, sorted).
stored_settings() {
    python3 - "$WINEPREFIX/user.reg" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
section = re.search(r"^\[Software\\\\Quorvane\\\\TimeSetting\][^\n]*\n(.*?)(?:\n\n|\n\[|\Z)", text, re.S | re.M)
for name, value in sorted(re.findall(r'^"(\w+)"=dword:([0-9a-f]{8})$', section.group(1) if section else "", re.M)):
    print("%s=%d" % (name, int(value, 16)))
PY
}

# Expect the ten values stored with their defaults, but BaseLine $1.
expect_stored() {
    local want="" i value got
    for i in "${!NAMES[@]}"; do
        value=${DEFAULTS[$i]}
        [[ ${NAMES[$i]} == BaseLine ]] && value=$1
        want+="${NAMES[$i]}=$value"$'\n'
    done
    want="$(sort <<<"${want%$'\n'}")"
    qv_wine_flush || why "the wineserver did not restart" || return 1
    got="$(stored_settings)" || why "user.reg could not be read" || return 1
    [[ $got == "$want" ]] || why "user.reg holds: $(tr '\n' ' ' <<<"$got")"
}

check_settings_default() {
    local dir
    dir="$(workdir default)"
    app_start_idle "$dir" || return 1
    set_all_fields 9 && D settext "$MAIN" 17 4096 settext "$MAIN" 22 other.pcm click "$SETTINGS" 1001 || return 1
    expect_defaults && expect_text "$MAIN" 17 1024 && expect_text "$MAIN" 22 sinclair.pcm || return 1
    # OK and Help do nothing.
    set_all_fields 9 && D click "$SETTINGS" 1 click "$SETTINGS" 108 || return 1
    [[ $(D visible "$SETTINGS") == 1 ]] || why "OK or Help closed the settings dialog"
    expect_text "$SETTINGS" 101 9 && expect_text "$SETTINGS" 116 9 || return 1
    app_quit
}

check_settings_registry() {
    local dir
    dir="$(workdir registry)"
    app_start_idle "$dir" || return 1
    D click "$SETTINGS" 1001 click "$SETTINGS" 114 || return 1
    set_all_fields 7 && D click "$SETTINGS" 115 || return 1
    expect_defaults || return 1
    app_quit || return 1
    expect_stored 128
}

# BaseLine 300 is stored whole but decodes as its low 8 bits, 44: a recording whose levels are 20 and
# 60 decodes with 44 and gives nothing with 128 or 300.
check_baseline_300() {
    local dir
    dir="$(workdir baseline)"
    mkdir -p "$dir/app/TAPE"
    cp "$data/low.pcm" "$dir/app/TAPE/"
    app_start_idle "$dir/app" || return 1
    D click "$SETTINGS" 1001 settext "$SETTINGS" 116 300 click "$SETTINGS" 114 \
        settext "$SETTINGS" 116 1 click "$SETTINGS" 115 || return 1
    expect_text "$SETTINGS" 116 300 || return 1
    raw_run low.pcm || return 1
    app_quit || return 1
    python3 "$here/tapes.py" verify "$data/one.tap" "$dir/app/TAPE" 1 >"$dir/verify" ||
        why "with BaseLine 300: $(cat "$dir/verify")" || return 1
    decode_run "$data/low.pcm" "$dir/decode" --BaseLine 44 || return 1
    same_tape "$dir/app/TAPE" "$dir/decode/TAPE" || return 1
    expect_stored 300
}

check_buffer_length_range() {
    local dir length
    dir="$(workdir buflen)"
    app_start_idle "$dir" || return 1
    for length in 255 200001 -1 abc; do
        D radio "$MAIN" 26 settext "$MAIN" 17 "$length" post "$MAIN" 12 || return 1
        expect_info "$RANGE" || why "buffer length $length: $(cat "$WHYF")" || return 1
    done
    # Accepted lengths get as far as the sound card, which this machine does not have.
    for length in 256 200000; do
        D settext "$MAIN" 17 "$length" post "$MAIN" 12 || return 1
        expect_info "$NO_DEVICE" || why "buffer length $length: $(cat "$WHYF")" || return 1
    done
    expect_enabled "$MAIN" 12 1 && expect_enabled "$MAIN" 14 0 || return 1
    app_quit
}

# ---- the rest of the main dialog's commands
check_close_ends_with_zero() {
    local dir code rc
    dir="$(workdir close)"
    app_start_idle "$dir" || return 1
    code="$(D close "$MAIN" 10000)" || return 1
    wait "$APP_PID"
    rc=$?
    APP_PID=""
    [[ $code == 0 && $rc == 0 ]] || why "closing the main dialog ended the program with code $code (Wine: $rc)"
}

check_exit_during_raw_run() {
    local dir
    dir="$(workdir exitrun)"
    mkdir -p "$dir/TAPE"
    cp "$data/long.pcm" "$dir/TAPE/"
    app_start_idle "$dir" || return 1
    D radio "$MAIN" 24 settext "$MAIN" 22 long.pcm click "$MAIN" 12 wait-text "$MAIN" 21 out002.tap 20000 || return 1
    app_quit || return 1
    local unfinished n
    unfinished="$(cd "$dir/TAPE" && ls out*.tap | sort | tail -n1)"
    n=$((10#${unfinished:3:3}))
    python3 "$here/tapes.py" blocks "$data/long.tap" "$dir/TAPE" 1 $((n - 1)) >"$dir/verify" ||
        why "finished blocks after Exit: $(cat "$dir/verify")" || return 1
    [[ $(head -c 2 "$dir/TAPE/$unfinished") == "  " ]] || why "$unfinished (interrupted by Exit) lost its placeholder"
}

check_hide() {
    local dir
    dir="$(workdir hide)"
    app_start_idle "$dir" || return 1
    [[ $(D visible "$MAIN") == 1 ]] || why "main dialog not visible at start" || return 1
    D click "$MAIN" 101 || return 1
    [[ $(D visible "$MAIN") == 0 ]] || why "Hide left the main dialog visible" || return 1
    [[ $(D visible "$SETTINGS") == 1 ]] || why "Hide also hid the settings dialog" || return 1
    app_quit
}

check_generate_sound() {
    local dir before
    dir="$(workdir gensound)"
    app_start_idle "$dir" || return 1
    before="$(ls -A "$dir" "$dir/TAPE")"
    D post "$MAIN" 1002 wait "$GENBOX" 5000 || return 1
    text_to "$GENBOX" 65535 "$QV_TMP/genbox" || return 1
    [[ $(utf8 <"$QV_TMP/genbox") == "в процессе" ]] || why "Generate sound box says \"$(utf8 <"$QV_TMP/genbox")\"" || return 1
    D ok "$GENBOX" 5000 || return 1
    [[ $(ls -A "$dir" "$dir/TAPE") == "$before" ]] || why "Generate sound changed files"
    expect_enabled "$MAIN" 12 1 || return 1
    app_quit
}

# Both dialogs, one above the other, as they are on the screen now; the whole screen is kept in
# $QV_TMP/root.png for a closer look at a part of it.
screenshot() {
    local out=$1 main settings l t r b sl st sr sb
    main="$(D rect "$MAIN" 0)" || return 1
    read -r l t r b <<<"$main"
    D move "$SETTINGS" "$l" $((b + 8)) || return 1
    settings="$(D rect "$SETTINGS" 0)" || return 1
    read -r sl st sr sb <<<"$settings"
    ((sr > r)) && r=$sr
    timeout 30 import -window root "$QV_TMP/root.png" 2>/dev/null || why "import failed" || return 1
    timeout 30 convert "$QV_TMP/root.png" -crop "$((r - l))x$((sb - t))+$l+$t" +repage "$out" ||
        why "convert failed"
}

# A picture with something drawn in it has many colours; an empty or black screen has one or two.
colours() {
    timeout 30 convert "$1" -format '%k' info: 2>/dev/null
}

check_screenshot() {
    local dir n
    dir="$(workdir screenshot)"
    mkdir -p "$dir/TAPE"
    cp "$data/sinclair.pcm" "$dir/TAPE/"
    app_start_idle "$dir" || return 1
    D radio "$MAIN" 24 click "$MAIN" 12 wait-enabled "$MAIN" 12 60000 wait-text "$MAIN" 21 ".PCM file closed" 10000 ||
        return 1
    screenshot "$shots/decoded.png" || return 1
    n="$(colours "$shots/decoded.png")"
    ((n > 8)) || why "screenshot has $n colours: nothing drawn" || return 1
    app_quit
}

# ---- run
if [[ $live != only ]]; then
check startup-creates-tape check_startup_creates_tape
check startup-without-sound-card check_startup_without_sound_card
check startup-lists-existing-files check_startup_lists_existing_files
check raw-file-run-matches-decoder check_raw_file_run
check raw-file-run-panes-and-catalogue check_raw_file_panes
check missing-raw-file check_missing_file
check stop-in-mid-run check_stop_mid_run
check settings-default check_settings_default
check settings-save-load-registry check_settings_registry
check baseline-300-decodes-as-44 check_baseline_300
check buffer-length-range check_buffer_length_range
check close-ends-with-zero check_close_ends_with_zero
check exit-during-raw-run check_exit_during_raw_run
check hide check_hide
check generate-sound check_generate_sound
check screenshot check_screenshot
fi

if [[ $live != 0 ]]; then
    source "$here/live.sh"
fi

echo "$passed passed, $failed failed"
((failed == 0)) || exit 1
