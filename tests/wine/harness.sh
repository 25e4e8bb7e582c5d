# The Wine checks' library, sourced by every script that drives the programs under Wine: the programs
# under test, their control ids by name, starting and ending the program, the driver, the checks and
# their reasons, waiting, and the cleanup after each check. It sources env.sh (the private Wine world).
#
# Runs in the calling script's shell. A check is a function run by `check NAME FUNCTION ARGS...`; it
# fails when it returns non-zero or when `why` recorded a reason, and whatever it started is ended by
# its pid afterwards. Exits 2 (qv_programs) when a program is missing.

QV_HARNESS="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$QV_HARNESS/env.sh"

# IDC_START=12, IDM_EXIT=1, ...: every id of the resource header, under its own name.
eval "$(sed -nE 's/^#define (ID[A-Z]_[A-Z0-9_]+) +(-?[0-9]+)$/\1=\2/p' "$QV_HARNESS/../../resources/resource.h")"

MAIN="Quorvane"
SETTINGS="Quorvane Setting"
INFO="Сообщение"

# Sets TAPGEN, TAPESIM, NATIVE_DECODE, QVEXE, DECODE and QVDRIVE from the two build trees $2 (native)
# and $3 (Windows); $1 names the calling script in its complaints.
qv_programs() {
    local script=$1 native windows program
    native="$(cd "$2" && pwd)" || exit 2
    windows="$(cd "$3" && pwd)" || exit 2
    TAPGEN="$native/tools/quorvane-tapgen"
    TAPESIM="$native/tests/rescue/qv-tapesim"
    NATIVE_DECODE="$native/app/quorvane-decode"
    QVEXE="$windows/app/quorvane.exe"
    DECODE="$windows/app/quorvane-decode.exe"
    QVDRIVE="$windows/tests/driver/qvdrive.exe"
    for program in "$TAPGEN" "$TAPESIM" "$NATIVE_DECODE" "$QVEXE" "$DECODE" "$QVDRIVE"; do
        [[ -f $program ]] || { echo "$script: $program is missing (build both trees first)" >&2; exit 2; }
    done
}

# The program's texts are Windows-1251; what the driver prints is too. On the driver's command line
# they are UTF-8 like any argument (Wine hands them to it in the ANSI code page).
utf8() { iconv -c -f CP1251 -t UTF-8; }
cp1251() { iconv -f UTF-8 -t CP1251; }

# Records the first reason a check fails; always returns 1 so that `... || why "..."` fails the check.
why() {
    [[ -s $QV_TMP/why ]] || printf '%s\n' "$*" >"$QV_TMP/why"
    return 1
}

figure() { echo "  figure: $*"; }

# The driver (ended after QV_DRIVE_S seconds, default 60); its complaint becomes the reason when it
# fails. Its complaint names windows in Windows-1251, which grep in the UTF-8 locale would take for
# binary and not print (-a). A driver that ends without a complaint (Wine itself failed, or the time
# ran out) is named with its status.
D() {
    local rc
    timeout "${QV_DRIVE_S:-60}" wine "$QVDRIVE" "$@" 2>"$QV_TMP/drive.err" && return 0
    rc=$?
    why "$(tr -d '\r' <"$QV_TMP/drive.err" | grep -a -m1 '^qvdrive' | utf8 ||
        echo "qvdrive $1 failed with status $rc$( ((rc == 124)) && echo ' (timed out)'): $(tr -d '\r' <"$QV_TMP/drive.err" | grep -a -v '^$' | tail -n 1 | utf8)")"
}

# A judge of harness.py (its arguments from $2 on); its verdict, after the words $1, becomes the
# reason when it fails. What it prints before its verdict (hammer and intact: figures) is left in
# FIGURES and printed as a figure after the words $1.
FIGURES=""
judge() {
    local rc
    python3 "$QV_HARNESS/harness.py" "${@:2}" >"$QV_TMP/judged"
    rc=$?
    FIGURES="$(head -n -1 "$QV_TMP/judged")"
    [[ -z $FIGURES ]] || figure "$1${1:+: }$FIGURES"
    ((rc == 0)) || why "$1${1:+: }$(tail -n1 "$QV_TMP/judged")"
}
tapes() { python3 "$QV_HARNESS/harness.py" "$@"; }
# The path $1 as the driver opens it: Wine's drive Z: is the Unix root.
win() { printf 'Z:%s' "$1"; }

# A control's text exactly, into the file $3 (the driver ends every value with one "\n").
text_to() { D text "$1" "$2" >"$3.raw" && head -c -1 "$3.raw" >"$3"; }

# Expect the control $2 of dialog $1 to show the UTF-8 text $3, or to be enabled ($3 1) or not (0).
expect_text() {
    local got
    got="$(D text "$1" "$2" | utf8)" || return 1
    [[ $got == "$3" ]] || why "control $2 of \"$1\" shows \"$got\", not \"$3\""
}
expect_enabled() {
    local got id
    for id in "${@:2:$#-2}"; do
        got="$(D enabled "$1" "$id")" || return 1
        [[ $got == "${!#}" ]] || why "control $id of \"$1\" is $([[ $got == 1 ]] && echo enabled || echo disabled)" || return 1
    done
}

# The information box (caption $3, default INFO) says the UTF-8 text $1 within $2 ms (default 5000);
# OK closes it.
expect_info() {
    local box="${3:-$INFO}"
    D wait "$box" "${2:-5000}" && text_to "$box" 65535 "$QV_TMP/box" || return 1
    printf '%s' "$1" | cp1251 | cmp -s "$QV_TMP/box" - ||
        why "box \"$box\" says \"$(utf8 <"$QV_TMP/box" | tr '\r\n' '  ')\", not \"$(tr '\r\n' '  ' <<<"$1")\""
    D ok "$box" 5000
}

# The program in directory $1, as a user starts it, ended by timeout after $2 seconds (default 120);
# its output goes to $1.log. app_start also waits for the main dialog, app_start_idle for the
# message of a machine without a sound card ($3 bounds it: a large TAPE is listed before it), which
# it acknowledges.
APP_PID=""
app_launch() {
    (cd "$1" && exec timeout "${2:-120}" wine "$QVEXE") >"$1.log" 2>&1 &
    APP_PID=$!
    QV_PIDS+=("$APP_PID")
}
app_start() { app_launch "$@" && D wait "$MAIN" 20000; }
NO_DEVICE=$'Невозможно открыть записывающие устройство!\r\nСкорее всего звуковая карта занята другим приложением.'
app_start_idle() { app_start "$1" "${2:-}" && expect_info "$NO_DEVICE" "${3:-15000}"; }

# The program, told to end by the driver's commands $2... (the last a quit or a close, which prints
# the exit code and the milliseconds the process took to end), must end with code 0 as the driver
# and as Wine see it; $1 says how it was told. ENDED_MS is how long it took, ENDED what the commands
# printed before.
ENDED="" ENDED_MS=""
app_end() {
    local how=$1 out code rc
    out="$(D "${@:2}")" || return 1
    read -r code ENDED_MS <<<"$(tail -n1 <<<"$out")"
    ENDED="$(head -n -1 <<<"$out")"
    wait "$APP_PID"
    rc=$?
    APP_PID=""
    [[ $code == 0 && $rc == 0 ]] || why "$how ended the program with code $code (Wine: $rc)"
}
app_quit() { app_end Exit quit "$MAIN" "$IDM_EXIT" 10000; }

# Whatever a check left running ends here, by its pid: the program (unless KEEP_APP keeps it for the
# checks that follow), a player, the busy processes.
PLAY_PID=""
qv_after_check() {
    local pid
    for pid in $([[ -n ${KEEP_APP:-} ]] || echo "$APP_PID") $PLAY_PID; do
        kill -0 "$pid" 2>/dev/null && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    [[ -n ${KEEP_APP:-} ]] || APP_PID=""
    PLAY_PID=""
    qv_hogs_stop
}

# Prints "PASS name (seconds)" or "FAIL name: why", and counts them for qv_summary. With QV_CHECKS
# set, only the checks whose names match that regular expression run (the others are not named).
passed=0
failed=0
check() {
    local name=$1 started=$SECONDS reason=failed
    shift
    [[ -z ${QV_CHECKS:-} || $name =~ $QV_CHECKS ]] || return 0
    rm -f "$QV_TMP/why"
    if "$@" && [[ ! -s $QV_TMP/why ]]; then
        echo "PASS $name ($((SECONDS - started)) s)"
        passed=$((passed + 1))
    else
        [[ -s $QV_TMP/why ]] && reason="$(head -n1 "$QV_TMP/why")"
        echo "FAIL $name: $reason"
        failed=$((failed + 1))
    fi
    qv_after_check
}

qv_summary() {
    echo "$passed passed, $failed failed"
    ((failed == 0))
}

# A fresh directory WORK ($QV_TMP/work-$1) for a check to start the program in, with a TAPE holding
# copies of the files $2...
WORK=""
workdir() {
    WORK="$QV_TMP/work-$1"
    rm -rf "$WORK" && mkdir -p "$WORK/TAPE" && { (($# < 2)) || cp "${@:2}" "$WORK/TAPE/"; }
}

# TAPE in the directory $1 holding the finished files out001.tap to out$2.tap, small blocks of every
# kind the catalogue describes (also in $1/seeded.tap), their digests kept for seeded_intact.
seed_tape() {
    mkdir -p "$1/TAPE" && tapes fill "$1/TAPE" 1 "$2" "$1/seeded.tap" && (cd "$1/TAPE" && sha1sum out*.tap) >"$1/seeded" ||
        why "the $2 files for TAPE were not made"
}
seeded_intact() {
    local changed
    changed="$(cd "$1/TAPE" && sha1sum --quiet -c "$1/seeded" 2>&1 | head -n1)" ||
        why "a file that was in TAPE before the run changed: $changed"
}

# The native console decoder, the oracle, on the recording $1 in the directory $2 (its options from
# $3 on): what it leaves in $2/TAPE is what the program must leave, and its standard output
# ($2/decode.out) holds what the program's panes must show.
decode_run() {
    local recording=$1 dir=$2
    rm -rf "$dir/TAPE" && mkdir -p "$dir/TAPE" && cp "$recording" "$dir/TAPE/" &&
        (cd "$dir" && timeout 60 "$NATIVE_DECODE" "TAPE/$(basename "$recording")" "${@:3}" >decode.out 2>decode.err) ||
        why "quorvane-decode failed on $(basename "$recording")"
}

# What the decoder's output $2 says a pane of the program shows ($1: headers or catalogue), in the
# program's bytes: the pane's text, or the list box's lines one a line.
decoded_pane() {
    case $1 in
    headers) sed -n 's/^    | \(.*\)$/\1\r/p' "$2" ;;
    catalogue) sed -n '/^Catalogue:$/,$ s/^  //p' "$2" ;;
    esac | cp1251
}

# The catalogue the decoder lists at start-up for the files NAME... of the TAPE $1, in the
# program's bytes, one a line.
listing() {
    local dir="$QV_TMP/listing"
    rm -rf "$dir" && mkdir -p "$dir/TAPE" && (cd "$1" && cp "${@:2}" "$dir/TAPE/") || return 1
    head -c 44100 /dev/zero | tr '\0' '\200' >"$dir/silence.pcm"
    (cd "$dir" && timeout 60 "$NATIVE_DECODE" silence.pcm >decode.out 2>&1) && decoded_pane catalogue "$dir/decode.out"
}

same_tape() {
    local diffs
    diffs="$(diff -rq "$1" "$2" 2>&1)" || why "TAPE differs from quorvane-decode's: $(head -n3 <<<"$diffs" | tr '\n' ' ')"
}

# The pane or list $1 (a file of the program's bytes) is what the decoder's output $3 says for $2.
same_pane() {
    decoded_pane "$2" "$3" | cmp -s "$1" - || why "$2 shows \"$(utf8 <"$1" | tr '\r\n' ' |' | head -c 300)\", not the decoder's"
}

# The busy processes of live.sh, ended by their pids after every check.
qv_hogs_stop() {
    local pid
    for pid in "${QV_HOGS[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    QV_HOGS=()
}
