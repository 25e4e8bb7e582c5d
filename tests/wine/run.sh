#!/usr/bin/env bash
# End-to-end checks of quorvane.exe under Wine, headless: the program is started as a user starts it
# and driven through its dialogs with qvdrive; the files it leaves and what its panes show are
# compared with what the native quorvane-decode leaves and prints for the same recording, and with
# the tapes played (harness.py).
#
#   run.sh [--live | --no-live | --live-only] [--long] [--repeat N] [--shots DIR] NATIVE_BUILD WINDOWS_BUILD
#
# NATIVE_BUILD holds tools/quorvane-tapgen and app/quorvane-decode; WINDOWS_BUILD holds
# app/quorvane.exe, app/quorvane-decode.exe and tests/driver/qvdrive.exe. The live-audio group
# (live.sh: a private PulseAudio whose null sink is the program's sound card) runs by default when
# pulseaudio is installed; --long adds its 10-minute recording; --repeat N runs the live group N
# times in a row and sums up the rounds. Screenshots go to DIR (default WINDOWS_BUILD/screenshots).
# Prints "PASS name" or "FAIL name: why" per check and finally "N passed, M failed"; exits 1 when a
# check failed, 2 on bad usage or when the environment cannot be built.

set -u -o pipefail
here="$(cd "$(dirname "$0")" && pwd)"
usage="usage: run.sh [--live | --no-live | --live-only] [--long] [--repeat N] [--shots DIR] NATIVE_BUILD WINDOWS_BUILD"
live=auto long=0 repeat=1 shots=""
while [[ $# -gt 0 && $1 == --* ]]; do
    case $1 in
    --live) live=1 ;;
    --live-only) live=only ;;
    --no-live) live=0 ;;
    --long) long=1 ;;
    --repeat) repeat=${2:-} && shift ;;
    --shots) shots=${2:-} && shift ;;
    *) echo "$usage" >&2 && exit 2 ;;
    esac
    shift
done
[[ $# -eq 2 && $repeat =~ ^[1-9][0-9]*$ ]] || { echo "$usage" >&2; exit 2; }
source "$here/harness.sh"
qv_programs run.sh "$1" "$2"
shots="${shots:-$(dirname "$(dirname "$QVEXE")")/screenshots}"
if [[ $live == auto ]]; then
    live=0
    command -v pulseaudio >/dev/null && command -v pacat >/dev/null && command -v parec >/dev/null && live=1
fi
mkdir -p "$shots" && shots="$(cd "$shots" && pwd)" || exit 2

# Every process of the private world ends by itself after QV_X_LIMIT seconds; a round of the live
# group takes about ten minutes at full strength.
export QV_X_LIMIT=${QV_X_LIMIT:-$((1800 + repeat * 900))}
qv_env_up || exit 2

GENBOX="Генерация mp3 файла"
NO_FILE="Невозможно открыть файл"
RANGE=$'Значение поля Buffer Len \nдолжно быть в пределах 256..200000'
# The ten threshold fields with the defaults the console decoder takes too ("PilotMin=21 ..."), each
# field by the id of its name.
read -ra DEFAULTS <<<"$("$NATIVE_DECODE" --help | sed -n 's/.*default to: //p')"
FIELDS=()
for default in "${DEFAULTS[@]}"; do
    id="IDC_${default%%=*}" && id=${id^^} && FIELDS+=("${!id}")
done
((${#FIELDS[@]} == 10)) || { echo "run.sh: the decoder's --help names no ten thresholds" >&2; exit 2; }

# A raw-file run from the main dialog: Source .PCM, the name $1, Start; waits until the file has been
# read to its end (controls unlocked, ".PCM file closed" logged).
# raw_start only starts it, then runs the driver's commands $2...
raw_start() { D radio "$MAIN" "$IDC_SRC_PCM" settext "$MAIN" "$IDC_RAWNAME" "$1" click "$MAIN" "$IDC_START" "${@:2}"; }
raw_run() { raw_start "$1" wait-enabled "$MAIN" "$IDC_START" 60000 wait-text "$MAIN" "$IDC_STATUS" ".PCM file closed" 10000; }

# The controls of an idle program: Start and the settings enabled, Stop disabled.
expect_idle() {
    expect_enabled "$MAIN" "$IDC_START" 1 && expect_enabled "$MAIN" "$IDC_STOP" 0 && expect_enabled "$SETTINGS" "${FIELDS[@]}" 1
}

# The highest-numbered file in $1 (the one a Stop or an Exit interrupted) and its number: UNFINISHED, N.
interrupted() {
    UNFINISHED="$(cd "$1" && ls out*.tap | sort | tail -n1)"
    N=$((10#${UNFINISHED:3:3}))
    [[ $(head -c 2 "$1/$UNFINISHED") == "  " ]] || why "$UNFINISHED (interrupted) does not start with the placeholder"
}

# ---- test data
data="$QV_TMP/data"
mkdir -p "$data"
tapes make "$data" || exit 2
for tape in mixed one; do
    "$TAPGEN" "$data/$tape.tap" "$data/$tape.pcm" >/dev/null || exit 2
done
SAMPLE_TAP="$here/../../samples/sinclair.tap"
"$TAPGEN" "$SAMPLE_TAP" "$data/sinclair.pcm" >/dev/null || exit 2
# A tape running a fifth slow, which the default thresholds mostly lose (the half-waves window).
"$TAPESIM" "$data/damaged.tap" "$data/slow.wav" --family speed --strength 3 --seed 3 --raw8 "$data/slow.pcm" >/dev/null || exit 2
# The long tape for Stop in mid-run, each block after 48 MB of silence.
tapes spaced "$TAPGEN" "$data/long.tap" "$data/long.pcm" 48 && tapes shift "$data/one.pcm" "$data/low.pcm" || exit 2

# ---- start-up
check_startup_creates_tape() {
    workdir startup && rmdir "$WORK/TAPE" && printf 'keep' >"$WORK/wavfile.pcm" && app_start_idle "$WORK" || return 1
    [[ -d $WORK/TAPE ]] || why "no TAPE directory after start-up"
    [[ $(cat "$WORK/wavfile.pcm") == keep ]] || why "wavfile.pcm in the start directory lost its contents"
    app_quit
}

check_startup_without_sound_card() {
    workdir nosound && app_start_idle "$WORK" && expect_idle || return 1
    [[ $(D checked "$MAIN" "$IDC_SRC_CARD") == 1 ]] || why "Sound Card is not the chosen source"
    expect_defaults || return 1
    expect_text "$MAIN" "$IDC_BUFLEN" 1024 && expect_text "$MAIN" "$IDC_RAWNAME" sinclair.pcm || return 1
    [[ $(D lbcount "$MAIN" "$IDC_CATALOGUE") == 0 ]] || why "the catalogue of an empty TAPE is not empty"
    app_quit
}

check_startup_lists_existing_files() {
    workdir listing "$data/one.pcm" && tapes fill "$WORK/TAPE" 3 3 && tapes fill "$WORK/TAPE" 10 10 || return 1
    app_start_idle "$WORK" && D lblines "$MAIN" "$IDC_CATALOGUE" >"$WORK/list" || return 1
    listing "$WORK/TAPE" out003.tap out010.tap | cmp -s "$WORK/list" - ||
        why "catalogue shows \"$(utf8 <"$WORK/list" | tr '\n' '|')\", not the decoder's listing" || return 1
    [[ $(D lbsel "$MAIN" "$IDC_CATALOGUE") == 1 ]] || why "the last catalogue line is not selected"
    # Numbers are not reused below the highest: the next block is out011.tap.
    raw_run one.pcm && app_quit && judge "after out010.tap" verify "$data/one.tap" "$WORK/TAPE" 11
}

# ---- a raw-file run against the console decoder
RUN="$QV_TMP/work-mixed"
check_raw_file_run() {
    local log="$RUN/TAPE/status.log"
    workdir mixed "$data/mixed.pcm" && app_start_idle "$RUN" && raw_run mixed.pcm && expect_idle || return 1
    text_to "$MAIN" "$IDC_STATUS" "$RUN/status" && text_to "$MAIN" "$IDC_HEADERS" "$RUN/headers" || return 1
    D lblines "$MAIN" "$IDC_CATALOGUE" >"$RUN/list" && D lbsel "$MAIN" "$IDC_CATALOGUE" >"$RUN/sel" && app_quit || return 1
    decode_run "$data/mixed.pcm" "$RUN/decode" && same_tape "$RUN/TAPE" "$RUN/decode/TAPE" &&
        judge "" verify "$data/mixed.tap" "$RUN/TAPE" 1 || return 1
    [[ $(grep -c $'^CRC summ ok\r$' "$log") == 5 && $(grep -c $'^Warning! CRC summ error \r$' "$log") == 1 ]] ||
        why "status.log lacks the checksum verdicts (5 ok, 1 error)"
}

check_raw_file_panes() {
    [[ -f $RUN/list ]] || why "no raw-file run to look at" || return 1
    # Every line of the status pane is a time stamp and a line of status.log.
    ! grep -aqvE '^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] ' "$RUN/status" ||
        why "status pane: a line without a time stamp: $(grep -avE -m1 '^[0-9:]{8} ' "$RUN/status" | utf8)" || return 1
    sed -E 's/^.{9}//' "$RUN/status" | cmp -s - "$RUN/TAPE/status.log" || why "the status pane is not status.log" || return 1
    same_pane "$RUN/headers" headers "$RUN/decode/decode.out" &&
        same_pane "$RUN/list" catalogue "$RUN/decode/decode.out" || return 1
    # The rescan after the last block selects that block's catalogue line; the bare name appended
    # below it is not selected.
    [[ $(cat "$RUN/sel") == 5 ]] || why "catalogue selection is line $(cat "$RUN/sel"), not the last block's (5)"
}

check_missing_file() {
    local before after
    workdir missing && app_start_idle "$WORK" || return 1
    before="$(ls -A "$WORK" "$WORK/TAPE")"
    D radio "$MAIN" "$IDC_SRC_PCM" settext "$MAIN" "$IDC_RAWNAME" nothere.pcm post "$MAIN" "$IDC_START" &&
        expect_info "$NO_FILE" || return 1
    after="$(ls -A "$WORK" "$WORK/TAPE")"
    [[ $before == "$after" ]] || why "files appeared: $(diff <(echo "$before") <(echo "$after") | grep '^>' | tr '\n' ' ')"
    expect_idle && app_quit
}

# ---- Stop in the middle of a long raw-file run
finished_files() {
    (cd "$1" && seq -f 'out%03g.tap' 1 $((N - 1)) | xargs sh -c 'sha1sum "$@" && stat -c "%n %Y %s" "$@"' files)
}

check_stop_mid_run() {
    local ms
    workdir stop "$data/long.pcm" "$data/one.pcm" && app_start_idle "$WORK" || return 1
    raw_start long.pcm wait-text "$MAIN" "$IDC_STATUS" out003.tap 20000 || return 1
    [[ $(D enabled "$MAIN" "$IDC_STOP") == 1 ]] || why "the run ended before Stop could be pressed (long.tap is too short)" || return 1
    expect_enabled "$MAIN" "$IDC_START" 0 && expect_enabled "$SETTINGS" "${FIELDS[@]}" 0 || return 1
    ms="$(D mark click "$MAIN" "$IDC_STOP" wait-enabled "$MAIN" "$IDC_START" 1000 since)" || return 1
    expect_idle || return 1
    # The highest-numbered file is the one Stop interrupted; all below it are finished blocks.
    interrupted "$WORK/TAPE" && judge "finished blocks" blocks "$data/long.tap" "$WORK/TAPE" 1 $((N - 1)) || return 1
    finished_files "$WORK/TAPE" >"$WORK/before"
    # The next Start writes the interrupted number again and leaves the finished files alone.
    raw_run one.pcm && app_quit || return 1
    finished_files "$WORK/TAPE" | cmp -s "$WORK/before" - || why "a finished file changed after Stop and Start" || return 1
    judge "after Stop" verify "$data/one.tap" "$WORK/TAPE" "$N" || return 1
    ((ms <= 1000)) || why "controls unlocked $ms ms after Stop"
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
        expect_text "$SETTINGS" "${FIELDS[$i]}" "${DEFAULTS[$i]#*=}" || return 1
    done
}

# Expect the ten values stored in the registry with their defaults, but BaseLine $1.
expect_stored() {
    local want got name type value
    want="$(printf '%s\n' "${DEFAULTS[@]}" | sed "s/^BaseLine=.*/BaseLine=$1/" | sort)"
    got="$(timeout 30 wine reg query 'HKCU\Software\Quorvane\TimeSetting' 2>/dev/null | tr -d '\r' |
        while read -r name type value; do [[ $type == REG_DWORD ]] && echo "$name=$((value))"; done | sort)"
    [[ $got == "$want" ]] || why "the registry holds: $(tr '\n' ' ' <<<"$got")"
}

check_settings_default() {
    workdir default && app_start_idle "$WORK" && set_all_fields 9 || return 1
    D settext "$MAIN" "$IDC_BUFLEN" 4096 settext "$MAIN" "$IDC_RAWNAME" other.pcm click "$SETTINGS" "$IDC_DEFAULT" || return 1
    expect_defaults && expect_text "$MAIN" "$IDC_BUFLEN" 1024 && expect_text "$MAIN" "$IDC_RAWNAME" sinclair.pcm || return 1
    # OK and Help do nothing.
    set_all_fields 9 && D click "$SETTINGS" 1 click "$SETTINGS" "$IDC_SETTINGSHELP" || return 1
    [[ $(D visible "$SETTINGS") == 1 ]] || why "OK or Help closed the settings dialog"
    expect_text "$SETTINGS" "$IDC_PILOTMIN" 9 && expect_text "$SETTINGS" "$IDC_BASELINE" 9 && app_quit
}

check_settings_registry() {
    workdir registry && app_start_idle "$WORK" || return 1
    D click "$SETTINGS" "$IDC_DEFAULT" click "$SETTINGS" "$IDC_SAVEREG" || return 1
    set_all_fields 7 && D click "$SETTINGS" "$IDC_LOADREG" && expect_defaults && app_quit && expect_stored 128
}

# BaseLine 300 is stored whole but decodes as its low 8 bits, 44: a recording whose levels are 20 and
# 60 decodes with 44 and gives nothing with 128 or 300.
check_baseline_300() {
    workdir baseline "$data/low.pcm" && app_start_idle "$WORK" || return 1
    D click "$SETTINGS" "$IDC_DEFAULT" settext "$SETTINGS" "$IDC_BASELINE" 300 click "$SETTINGS" "$IDC_SAVEREG" \
        settext "$SETTINGS" "$IDC_BASELINE" 1 click "$SETTINGS" "$IDC_LOADREG" || return 1
    expect_text "$SETTINGS" "$IDC_BASELINE" 300 && raw_run low.pcm && app_quit || return 1
    judge "with BaseLine 300" verify "$data/one.tap" "$WORK/TAPE" 1 &&
        decode_run "$data/low.pcm" "$WORK/decode" --BaseLine 44 && same_tape "$WORK/TAPE" "$WORK/decode/TAPE" &&
        expect_stored 300
}

check_buffer_length_range() {
    local length
    workdir buflen && app_start_idle "$WORK" || return 1
    for length in 255 200001 -1 abc; do
        D radio "$MAIN" "$IDC_SRC_CARD" settext "$MAIN" "$IDC_BUFLEN" "$length" post "$MAIN" "$IDC_START" || return 1
        expect_info "$RANGE" || why "buffer length $length: $(cat "$QV_TMP/why")" || return 1
    done
    # Accepted lengths get as far as the sound card, which this machine does not have.
    for length in 256 200000; do
        D settext "$MAIN" "$IDC_BUFLEN" "$length" post "$MAIN" "$IDC_START" || return 1
        expect_info "$NO_DEVICE" || why "buffer length $length: $(cat "$QV_TMP/why")" || return 1
    done
    expect_idle && app_quit
}

# ---- the rest of the main dialog's commands
check_close_ends_with_zero() {
    workdir close && app_start_idle "$WORK" && app_end "closing the main dialog" close "$MAIN" 10000
}

check_exit_during_raw_run() {
    workdir exitrun "$data/long.pcm" && app_start_idle "$WORK" || return 1
    raw_start long.pcm wait-text "$MAIN" "$IDC_STATUS" out002.tap 20000 && app_quit || return 1
    interrupted "$WORK/TAPE" && judge "finished blocks after Exit" blocks "$data/long.tap" "$WORK/TAPE" 1 $((N - 1))
}

check_hide() {
    workdir hide && app_start_idle "$WORK" || return 1
    [[ $(D visible "$MAIN") == 1 ]] || why "main dialog not visible at start" || return 1
    D click "$MAIN" "$IDM_HIDE" || return 1
    [[ $(D visible "$MAIN") == 0 ]] || why "Hide left the main dialog visible" || return 1
    [[ $(D visible "$SETTINGS") == 1 ]] || why "Hide also hid the settings dialog" || return 1
    app_quit
}

check_generate_sound() {
    local before
    workdir gensound && app_start_idle "$WORK" || return 1
    before="$(ls -A "$WORK" "$WORK/TAPE")"
    D post "$MAIN" "$IDC_GENSOUND" && expect_info "в процессе" 5000 "$GENBOX" || return 1
    [[ $(ls -A "$WORK" "$WORK/TAPE") == "$before" ]] || why "Generate sound changed files"
    expect_enabled "$MAIN" "$IDC_START" 1 && app_quit
}

# Both dialogs, one above the other, as they are on the screen now; the whole screen is kept in
# $QV_TMP/root.png for a closer look at a part of it.
screenshot() {
    local l t r b sl st sr sb
    read -r l t r b <<<"$(D rect "$MAIN" 0)" && [[ -n $b ]] && D move "$SETTINGS" "$l" $((b + 8)) || return 1
    read -r sl st sr sb <<<"$(D rect "$SETTINGS" 0)" && [[ -n $sb ]] || return 1
    ((sr > r)) && r=$sr
    timeout 30 import -window root "$QV_TMP/root.png" 2>/dev/null || why "import failed" || return 1
    timeout 30 convert "$QV_TMP/root.png" -crop "$((r - l))x$((sb - t))+$l+$t" +repage "$1" || why "convert failed"
}

check_screenshot() {
    local n
    workdir screenshot "$data/sinclair.pcm" && app_start_idle "$WORK" && raw_run sinclair.pcm && screenshot "$shots/decoded.png" || return 1
    # A picture with something drawn in it has many colours; an empty or black screen has one or two.
    n="$(timeout 30 convert "$shots/decoded.png" -format '%k' info: 2>/dev/null)"
    ((n > 8)) || why "screenshot has $n colours: nothing drawn" || return 1
    app_quit
}

# ---- the recordings people have, rescued from the window
# The box of Rescue recording... for the file $2 (a name in TAPE $1/TAPE, typed into the open
# dialog): it names the file and says $3; nothing new appears in TAPE.
expect_rescue_refused() {
    local dir=$1 name=$2 says=$3 before after box
    before="$(ls -A "$dir/TAPE")"
    D post "$MAIN" "$IDM_RESCUE_FILE" wait "Rescue recording" 10000 settext "Rescue recording" 1148 "$name" \
        post "Rescue recording" 1 wait "$INFO" 10000 || return 1
    box="$(D text "$INFO" 65535 | utf8)" && D ok "$INFO" 5000 || return 1
    [[ $box == *"$name'"*"$says"* ]] || why "Rescue recording... on $name says \"$box\"" || return 1
    after="$(ls -A "$dir/TAPE")"
    [[ $before == "$after" ]] || why "Rescue recording... on $name made $(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')"
}

# Rescue recording... on the recordings sound editors keep: a 32-bit float WAV at 48 kHz and a
# 16-bit stereo FLAC of the sample tape (made by sox) give every block in their own folders, with
# tape.tap the whole tape; a WAV cut inside its data is refused by name with the reason, making
# nothing.
check_rescue_any_format() {
    local name folder count
    count="$(tapes count "$SAMPLE_TAP")"
    workdir anyformat || return 1
    sox -D -t raw -r 44100 -e unsigned -b 8 -c 1 "$data/sinclair.pcm" -r 48000 -e floating-point -b 32 -c 1 \
        "$WORK/TAPE/float48.wav" &&
        sox -D -t raw -r 44100 -e unsigned -b 8 -c 1 "$data/sinclair.pcm" -r 44100 -b 16 -c 2 "$WORK/TAPE/tape.flac" &&
        head -c 300000 "$WORK/TAPE/float48.wav" >"$WORK/TAPE/cut.wav" || why "sox cannot make the recordings" || return 1
    app_start_idle "$WORK" || return 1
    for name in float48.wav tape.flac; do
        folder="$WORK/TAPE/${name%.*}"
        D post "$MAIN" "$IDM_RESCUE_FILE" wait "Rescue recording" 10000 settext "Rescue recording" 1148 "$name" \
            post "Rescue recording" 1 || return 1
        qv_until 120 0.5 grep -qs "^Rescue: " "$folder/status.log" || why "no rescue of $name ended" || return 1
        D wait-enabled "$MAIN" "$IDC_START" 5000 && judge "$name" blocks "$SAMPLE_TAP" "$folder" 1 "$count" || return 1
        cmp -s "$folder/tape.tap" "$SAMPLE_TAP" || why "tape.tap of $name is not the tape" || return 1
    done
    expect_rescue_refused "$WORK" cut.wav "truncated" && app_quit
}

# ---- the half-waves window
# The settings fields as check_render.py's thresholds, so that it can judge the window's picture.
PICTURE_FIELDS=(PilotMin=23 PilotMax=33 SyncMin=5 SyncMax=13 ZeroMin=16 ZeroMax=27 OneMin=34 OneMax=50)
CHOOSE="Half-waves of a recording"
# The dialog $1 alone, cut out of a screenshot into $2.
shot_of() {
    local l t r b
    read -r l t r b <<<"$(D rect "$1" 0)" && [[ -n $b ]] || return 1
    timeout 30 import -window root "$QV_TMP/root.png" 2>/dev/null &&
        timeout 30 convert "$QV_TMP/root.png" -crop "$((r - l))x$((b - t))+$l+$t" +repage "$2" || why "no screenshot of \"$1\""
}
# The picture control of the half-waves window cut out of a screenshot into $1 (an 8-bit RGB PNG,
# which check_render.py reads).
picture_shot() {
    local l t r b
    read -r l t r b <<<"$(D rect "Half-waves" "$IDC_HW_PICTURE")" && [[ -n $b ]] || return 1
    timeout 30 import -window root "$QV_TMP/root.png" 2>/dev/null &&
        timeout 30 convert "$QV_TMP/root.png" -crop "$((r - l))x$((b - t))+$l+$t" +repage "PNG24:$1" ||
        why "the picture was not cut out"
}
# The lines the native decoder's --histogram writes beside its picture for the recording $1, from
# "Rescue decoder" on, one a line, as the window shows them.
decoder_look() {
    local dir="$QV_TMP/look"
    rm -rf "$dir" && mkdir -p "$dir" &&
        (cd "$dir" && timeout 60 "$NATIVE_DECODE" "$1" --histogram look.svg >/dev/null 2>&1) &&
        sed -n 's|.*<text x="620" [^>]*>\(.*\)</text>|\1|p' "$dir/look.svg"
}

# The picture $2 of the window, cut out of a screenshot, judged by check_render.py for the raw
# recording $3 (its options from $4 on); $1 says when it was taken.
looked() {
    python3 "$here/../histogram/check_render.py" --picture "$2" --recording "$3" "${@:4}" >"$QV_TMP/looked" ||
        why "the window's picture $1: $(grep -m1 FAIL "$QV_TMP/looked")"
}

# The half-waves window from the Recording menu after a raw-file run draws that recording's
# half-waves against the settings fields as they are (its bars and lanes judged in its picture),
# and again when a field changes. A damaged tape chosen there (rendered running a fifth slow: the
# default thresholds lose most of it) gets the native decoder's measurement and suggestion; Use
# suggested puts them into the fields, and a raw-file run of the same tape with them reads every
# block. Close hides the window, and the settings dialog's Half-waves... shows it again.
check_half_waves() {
    local field id args=() want got
    workdir halfwaves "$data/sinclair.pcm" "$data/slow.pcm" "$data/slow.wav" && app_start_idle "$WORK" &&
        raw_run sinclair.pcm || return 1
    for field in "${PICTURE_FIELDS[@]}"; do
        id="IDC_${field%%=*}" && id=${id^^} && args+=(settext "$SETTINGS" "${!id}" "${field#*=}")
    done
    D "${args[@]}" post "$MAIN" "$IDM_HALFWAVES" wait "Half-waves" 10000 \
        wait-text "Half-waves" "$IDC_HW_TEXT" "Suggested" 60000 || return 1
    expect_text "Half-waves" "$IDC_HW_SOURCE" "Last run: sinclair.pcm" || return 1
    picture_shot "$WORK/picture.png" && looked "as the fields were set" "$WORK/picture.png" "$data/sinclair.pcm" || return 1
    D settext "$SETTINGS" "$IDC_PILOTMAX" 40 sleep 300 && picture_shot "$WORK/changed.png" &&
        looked "after PilotMax 40" "$WORK/changed.png" "$data/sinclair.pcm" --set PilotMax=40 || return 1

    D click "$SETTINGS" "$IDC_DEFAULT" post "Half-waves" "$IDC_HW_CHOOSE" wait "$CHOOSE" 10000 \
        settext "$CHOOSE" 1148 slow.wav post "$CHOOSE" 1 wait-text "Half-waves" "$IDC_HW_SOURCE" "Chosen: slow.wav" 10000 \
        wait-text "Half-waves" "$IDC_HW_TEXT" "Suggested" 60000 || return 1
    want="$(decoder_look "$data/slow.wav")" || why "quorvane-decode --histogram failed on slow.wav" || return 1
    got="$(D text "Half-waves" "$IDC_HW_TEXT" | tr -d '\r' | sed -n '/^Rescue decoder/,$p' | sed '/^$/d')" || return 1
    [[ $got == "$want" ]] || why "the window measured \"$(tr '\n' '|' <<<"$got")\", the decoder \"$(tr '\n' '|' <<<"$want")\"" ||
        return 1
    shot_of "Half-waves" "$shots/halfwaves.png" || return 1
    D click "Half-waves" "$IDC_HW_SUGGEST" || return 1
    local pilot sync bits
    read -r pilot sync bits <<<"$(sed -n 's/^Pilot \([0-9]*\.\.[0-9]*\),.*/\1/p; s/^Sync \([0-9.]*\)$/\1/p; s/^Zero \([0-9.]*\), One \([0-9.]*\)$/\1..\2/p' <<<"$want" | tr '\n' ' ')"
    for field in "PILOTMIN ${pilot%%..*}" "PILOTMAX ${pilot##*..}" "SYNCMIN ${sync%%..*}" "SYNCMAX ${sync##*..}" \
        "ZEROMIN $(cut -d. -f1 <<<"$bits")" "ZEROMAX $(cut -d. -f3 <<<"$bits")" "ONEMIN $(cut -d. -f5 <<<"$bits")" \
        "ONEMAX $(cut -d. -f7 <<<"$bits")"; do
        id="IDC_${field% *}" && expect_text "$SETTINGS" "${!id}" "${field#* }" || return 1
    done
    shot_of "Half-waves" "$shots/halfwaves-suggested.png" && raw_run slow.pcm || return 1
    judge "slow tape with the suggested thresholds" verify "$data/damaged.tap" "$WORK/TAPE" 5 || return 1
    D click "Half-waves" 2 || return 1
    [[ $(D visible "Half-waves") == 0 ]] || why "Close left the half-waves window visible" || return 1
    D click "$SETTINGS" "$IDC_HALFWAVES" || return 1
    [[ $(D visible "Half-waves") == 1 ]] || why "Half-waves... of the settings dialog did not show the window" || return 1
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
    check rescue-recording-any-format check_rescue_any_format
    check half-waves-window check_half_waves
fi
[[ $live == 0 ]] || source "$here/live.sh"
qv_summary || exit 1
