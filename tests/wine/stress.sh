#!/usr/bin/env bash
# Stress of quorvane.exe under Wine, headless: Start and Stop pressed a hundred times in quick
# succession on raw-file runs, and Exit while the decoder waits for a pilot tone, while it reads a
# long block, and while it rescans a TAPE of 900 files. What must hold every time: every press is
# carried out within a second, no box but the program's two dialogs appears, Exit ends the process
# within a second with code 0, and no finished TAP file is lost, changed or written twice.
#
#   stress.sh NATIVE_BUILD WINDOWS_BUILD
#
# NATIVE_BUILD holds tools/quorvane-tapgen; WINDOWS_BUILD holds app/quorvane.exe and
# tests/driver/qvdrive.exe, which makes the presses of a check in one Wine process and measures each
# where it happens. Prints "PASS name" or "FAIL name: why" per check, the figures
# measured, and finally "N passed, M failed"; exits 1 when a check failed, 2 on bad usage or when
# the environment cannot be built.

set -u -o pipefail
here="$(cd "$(dirname "$0")" && pwd)"
[[ $# -eq 2 ]] || { echo "usage: stress.sh NATIVE_BUILD WINDOWS_BUILD" >&2; exit 2; }
source "$here/harness.sh"
qv_programs stress.sh "$1" "$2"
qv_env_up || exit 2
# Exit must end the program within this time, and every press be carried out within it.
LIMIT_MS=1000

# No box but the program's own dialogs is on the screen.
no_boxes() {
    local boxes
    boxes="$(D boxes | sed 's/^problem //' | utf8)"
    [[ -z $boxes ]] || why "$(head -n1 <<<"$boxes")"
}

# The driver's commands for one Start and one Stop of a raw-file run of the recording $2 (the caller
# has chosen Source .PCM), one a line: the Stop $1 ms after status.log has gained the line $3 (at
# once when empty), so that it lands in the phase that line opens (pilot, block, rescan) however fast
# or slow the machine is. Both presses are timed, the log's last line is noted before and after the
# Stop, then the boxes and the files of TAPE are listed.
press_plan() {
    printf '%s\n' wait-enabled "$MAIN" "$IDC_START" 30000 settext "$MAIN" "$IDC_RAWNAME" "$2" \
        log "$(win "$WORK/TAPE/status.log")" press "$MAIN" "$IDC_START"
    [[ -z $3 ]] || printf '%s\n' wait-log "$3" 10000
    printf '%s\n' sleep "$1" logged press "$MAIN" "$IDC_STOP" logged boxes snapshot "$(win "$WORK/TAPE")"
}

# A raw-file run of the recording $2, ended by Exit $1 ms after status.log has gained the line $3 (the
# phase to end it in): the process must be gone within LIMIT_MS with code 0, as seen by the driver
# and by Wine, without a box or a crash report. Sets EXIT_MS, EXIT_LINES (the catalogue's line count
# when Exit was posted) and EXIT_AT (the last line the decoder had logged).
exit_during_run() {
    EXIT_MS="" EXIT_LINES="" EXIT_AT=""
    app_end Exit radio "$MAIN" "$IDC_SRC_PCM" settext "$MAIN" "$IDC_RAWNAME" "$2" log "$(win "$WORK/TAPE/status.log")" \
        click "$MAIN" "$IDC_START" wait-log "$3" 10000 sleep "$1" logged lbcount "$MAIN" "$IDC_CATALOGUE" boxes \
        quit "$MAIN" "$IDM_EXIT" 30000 || return 1
    { read -r _ EXIT_AT && read -r EXIT_LINES; } <<<"$ENDED"
    EXIT_MS=${ENDED_MS%.*}
    [[ $ENDED != *problem* ]] || why "$(grep -m1 '^problem' <<<"$ENDED" | cut -d' ' -f2- | utf8)" || return 1
    ! grep -qiE 'unhandled|winedbg|program error' "$WORK.log" ||
        why "Wine reported a crash: $(grep -m1 -iE 'unhandled|winedbg|program error' "$WORK.log")" || return 1
    no_boxes && { ((EXIT_MS <= LIMIT_MS)) || why "the program ended $EXIT_MS ms after Exit"; }
}

# A fresh start directory WORK with its TAPE holding the recording $2 (a tape of harness.py make,
# without .tap) as $2.pcm, every block after $3 megabytes of waiting for a pilot tone; and, with $4,
# the finished files out001.tap..out$4.tap of seed_tape.
rundir() {
    workdir "$1" && tapes spaced "$TAPGEN" "$data/$2.tap" "$WORK/TAPE/$2.pcm" "$3" ||
        why "cannot make the recording $2.pcm" || return 1
    [[ -z ${4:-} ]] || seed_tape "$WORK" "$4"
}

# The files of the runs (from number $1 on) are blocks of the recording $2, at most the last one
# unfinished, and still as the last snapshot of the records $3 (default none) saw them; the judge's
# figures become a figure after the words $4.
run_files_intact() {
    local label=${4:-"run's files"}
    judge "$label" intact "$WORK/TAPE" "${3:--}" "$1" "$data/$2.tap" "${@:5}"
}

# The driver's script $1 of presses, run in one Wine process (for at most $2 seconds) into records;
# judged against the TAP files $3... The judge's figures go to PRESSES.
hammer() {
    local drove=0
    QV_DRIVE_S=$2 D "@$(win "$1")" >"$WORK/records" || drove=1
    judge "" hammer "$WORK/records" "${@:3}" || return 1
    PRESSES=$FIGURES
    return $drove
}

data="$QV_TMP/data"
mkdir -p "$data"
tapes make "$data" || exit 2

# ---- 1. Start and Stop, a hundred times
# Every line of the plan is one Start and one Stop on one of two recordings (so that a file written
# again by mistake would change): Stop at once or after a pause while the decoder waits for the
# pilot (the 64 MB before the first block), inside the long first block, just after it ended
# (patching the length, rescanning, reporting), and just after the next file was opened. The decoder
# reads a file far faster than it plays and never waits for the window, so a Stop that comes late
# may find a run already at the end of its recording; TAPE grows by about a hundred files.
check_start_stop_hammer() {
    local entries=("0|" "15|" "120|" "0|Pilot stable." "0|Sync ok. Read data..."
        "7|Read 1 Kb" "0|CRC summ ok" "0|Read 2 Kb" "40|Read 3 Kb" "0|.tap")
    local i entry raw started rc want count
    rundir hammer hammer-a 64 && tapes spaced "$TAPGEN" "$data/hammer-b.tap" "$WORK/TAPE/hammer-b.pcm" 64 || return 1
    for ((i = 0; i < 100; i++)); do
        entry=${entries[i % 10]}
        raw=hammer-a.pcm
        (((i / 10 + i) % 2)) && raw=hammer-b.pcm
        press_plan "${entry%%|*}" "$raw" "${entry#*|}"
    done >"$WORK/plan"
    app_start_idle "$WORK" 300 && D radio "$MAIN" "$IDC_SRC_PCM" || return 1
    started=$SECONDS
    hammer "$WORK/plan" 200 "$data/hammer-a.tap" "$data/hammer-b.tap"
    rc=$?
    figure "$((SECONDS - started)) s for the presses"
    ((rc == 0)) || return 1
    # Enough runs must have ended while waiting for the pilot and inside a block, and enough Stops
    # been sent just after a block, for the check to mean something. The end of a block (length,
    # rescan, report) takes the decoder a millisecond or two, as it waits for no window, so fewer
    # Stops land there; the rescan checks below hold it there longer.
    for want in ended_pilot=10 ended_block=10 sent_after=5; do
        count="$(tr ' ' '\n' <<<"$PRESSES" | sed -n "s/^${want%=*}=//p")"
        ((count >= ${want#*=})) || why "only $count presses landed in phase ${want%=*}" || return 1
    done
    no_boxes && app_end Exit quit "$MAIN" "$IDM_EXIT" 5000 || return 1
    figure "Exit when idle: ${ENDED_MS%.*} ms"
    ((${ENDED_MS%.*} <= LIMIT_MS)) || why "the program ended $ENDED_MS ms after Exit" || return 1
    run_files_intact 1 hammer-a "$WORK/records" "TAPE after Exit" "$data/hammer-b.tap"
}

# ---- 2. Exit in every phase of a run
# Three finished files lie in TAPE before each run; they and the run's finished files must survive.
check_exit_waiting_for_pilot() {
    # A gigabyte before the block: seconds of waiting, of which Exit takes a fraction.
    rundir exit-pilot exit-pilot 1024 3 && app_start_idle "$WORK" 300 || return 1
    exit_during_run 300 exit-pilot.pcm "Wait pilot..." || return 1
    figure "Exit: $EXIT_MS ms, at \"$EXIT_AT\""
    [[ $EXIT_AT == "Wait pilot..." && $(od -An -tx1 "$WORK/TAPE/out004.tap" | tr -d ' ') == 2020 ]] ||
        why "Exit did not land while waiting for the pilot (at \"$EXIT_AT\")" || return 1
    seeded_intact "$WORK" && run_files_intact 4 exit-pilot
}

check_exit_mid_block() {
    rundir exit-block exit-block 0 3 && app_start_idle "$WORK" 300 || return 1
    exit_during_run 0 exit-block.pcm "Read 5 Kb" || return 1
    figure "Exit: $EXIT_MS ms, at \"$EXIT_AT\""
    [[ $EXIT_AT == "Read "*" Kb" && $(stat -c %s "$WORK/TAPE/out005.tap") -gt 2 ]] ||
        why "Exit did not land inside the long block (at \"$EXIT_AT\")" || return 1
    seeded_intact "$WORK" && run_files_intact 4 exit-block
}

# Stop right after the first block has ended, while the catalogue is rebuilt from 900 files; the
# program is left running for the Exit check that follows.
check_stop_during_rescan() {
    rundir rescan exit-rescan 0 900 && app_start_idle "$WORK" 300 60000 && D radio "$MAIN" "$IDC_SRC_PCM" || return 1
    KEEP_APP=1
    press_plan 0 exit-rescan.pcm "CRC summ ok" >"$WORK/plan"
    hammer "$WORK/plan" 120 "$data/exit-rescan.tap" "$WORK/seeded.tap" && seeded_intact "$WORK" &&
        run_files_intact 901 exit-rescan
}

check_exit_during_rescan() {
    KEEP_APP=""
    if [[ -z $APP_PID ]] || ! kill -0 "$APP_PID" 2>/dev/null || [[ $WORK != "$QV_TMP/work-rescan" ]]; then
        rundir rescan exit-rescan 0 900 && app_start_idle "$WORK" 300 60000 || return 1
    fi
    exit_during_run 0 exit-rescan.pcm "CRC summ ok"
    figure "Exit: ${EXIT_MS:-?} ms, at \"$EXIT_AT\", with ${EXIT_LINES:-?} catalogue lines listed"
    # The program is gone (perhaps late); what it left is judged all the same.
    [[ -n $EXIT_MS && -z $APP_PID ]] || return 1
    # The block's file name is logged once the rescan is over.
    [[ $EXIT_AT == "CRC summ ok" ]] || why "Exit came after the rescan (at \"$EXIT_AT\")" || return 1
    seeded_intact "$WORK" && run_files_intact 901 exit-rescan
}

check start-stop-100-times check_start_stop_hammer
check exit-while-waiting-for-pilot check_exit_waiting_for_pilot
check exit-mid-block check_exit_mid_block
check stop-during-rescan-of-900-files check_stop_during_rescan
check exit-during-rescan-of-900-files check_exit_during_rescan
qv_summary || exit 1
