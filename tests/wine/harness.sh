# What run.sh and stress.sh have in common: the programs under test, the record of why a check
# failed, and the driver. Sourced by both; WHYF and QV_TMP are theirs, set by the time a check runs.

# Sets TAPGEN, TAPESIM, QVEXE, DECODE and QVDRIVE from the two build trees $2 (native) and $3 (Windows); $1
# names the calling script in its complaints. Exits 2 when a tree or a program is missing.
qv_programs() {
    local script=$1 native win32 program
    native="$(cd "$2" && pwd)" || exit 2
    win32="$(cd "$3" && pwd)" || exit 2
    TAPGEN="$native/tools/quorvane-tapgen"
    TAPESIM="$native/tests/rescue/qv-tapesim"
    QVEXE="$win32/app/quorvane.exe"
    DECODE="$win32/app/quorvane-decode.exe"
    QVDRIVE="$win32/tests/driver/qvdrive.exe"
    for program in "$TAPGEN" "$TAPESIM" "$QVEXE" "$DECODE" "$QVDRIVE"; do
        [[ -f $program ]] || {
            echo "$script: $program is missing (build both trees first)" >&2
            exit 2
        }
    done
}

# The program's texts are Windows-1251; what the driver prints is too.
utf8() { iconv -c -f CP1251 -t UTF-8; }

# Records the first reason a check fails; always returns 1 so that `... || why "..."` fails the check.
why() {
    [[ -s $WHYF ]] || printf '%s\n' "$*" >"$WHYF"
    return 1
}

# The driver; its complaint becomes the reason when it fails. Its complaint names windows in
# Windows-1251, which grep in the UTF-8 locale would take for binary and not print (-a). A driver
# that ends without a complaint (Wine itself failed, or the time ran out) is named with its status.
D() {
    local rc
    timeout 60 wine "$QVDRIVE" "$@" 2>"$QV_TMP/drive.err" && return 0
    rc=$?
    why "$(tr -d '\r' <"$QV_TMP/drive.err" | grep -a -m1 '^qvdrive' | utf8 ||
        echo "qvdrive $1 failed with status $rc$( ((rc == 124)) && echo ' (timed out)'): $(tr -d '\r' <"$QV_TMP/drive.err" | grep -a -v '^$' | tail -n 1 | utf8)")"
}

# Busy processes, one per core, for checks that must hold while the machine is loaded: each spins
# for at most $1 seconds (timeout ends it even if the teardown never runs) and is ended by its pid by
# qv_hogs_stop or by the teardown (QV_PIDS). Started in the calling shell, not in a subshell, so that
# their pids are its children.
QV_HOGS=()
qv_hogs_start() {
    local i
    for ((i = 0; i < $(nproc); i++)); do
        timeout "$1" awk 'BEGIN { for (;;) n++ }' >/dev/null 2>&1 &
        QV_HOGS+=("$!")
        QV_PIDS+=("$!")
    done
}

qv_hogs_stop() {
    local pid kept=() old
    [[ ${#QV_HOGS[@]} -gt 0 ]] || return 0
    for pid in "${QV_HOGS[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${QV_HOGS[@]}"; do
        wait "$pid" 2>/dev/null
    done
    # Their pids are free for reuse now, so the teardown must not end them again.
    for old in "${QV_PIDS[@]}"; do
        [[ " ${QV_HOGS[*]} " == *" $old "* ]] || kept+=("$old")
    done
    QV_PIDS=("${kept[@]}")
    QV_HOGS=()
}
