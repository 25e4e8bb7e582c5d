# A private, headless Wine world for the end-to-end checks: its own X server, its own 32-bit Wine
# prefix, a Russian locale (so the program's ANSI code page is 1251), Wine's fonts, and optionally its
# own PulseAudio with a virtual sink whose monitor is the program's sound card.
#
# Sourced by harness.sh (bash). qv_env_up builds everything under one mktemp directory and installs a trap
# that takes it all down again: every process started here is ended by its pid, wineserver -k runs
# for this prefix only, and the directory is removed. Every step runs under `timeout`.
# Run directly, `env.sh COMMAND...` runs one command inside such a world (for poking at the program
# by hand: e.g. env.sh bash).
#
# Failures: qv_env_up prints "env: what failed" on standard error and returns 1.

# The processes to end at the teardown: the world's own, and the busy ones of the checks.
QV_PIDS=()
QV_HOGS=()
QV_TMP=""

qv_say() { echo "env: $*" >&2; }

# Runs a command in the background, remembering its pid for the teardown. Its output goes to a file
# so that no pipe of the caller (a command substitution) waits for it.
qv_spawn() {
    "$@" >>"$QV_TMP/spawned.log" 2>&1 &
    QV_PIDS+=("$!")
}

# Runs the command $3... until it succeeds, at most $1 times, $2 seconds apart.
qv_until() {
    local i
    for ((i = 0; i < $1; i++)); do
        "${@:3}" && return 0
        sleep "$2"
    done
    return 1
}

qv_wine() { timeout "${QV_WINE_LIMIT:-60}" wine "$@"; }

qv_locale_up() {
    mkdir -p "$QV_TMP/locale"
    if ! timeout 60 localedef -i ru_RU -f UTF-8 "$QV_TMP/locale/ru_RU.UTF-8" 2>"$QV_TMP/localedef.err"; then
        # localedef exits 1 for mere warnings; the locale is usable when its files are there.
        [[ -e $QV_TMP/locale/ru_RU.UTF-8/LC_CTYPE ]] || { qv_say "localedef ru_RU failed"; return 1; }
    fi
    export LOCPATH="$QV_TMP/locale"
    # bash itself cannot load the private locale (it reads no LOCPATH) and would warn about it.
    { export LC_ALL=ru_RU.UTF-8 LANG=ru_RU.UTF-8; } 2>/dev/null
}

qv_x_up() {
    local number="$QV_TMP/display"
    # The screen is larger than the dialogs need so the screenshot can show both side by side.
    qv_spawn timeout "${QV_X_LIMIT:-1800}" Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
        3>"$number"
    qv_until 100 0.1 test -s "$number" || { qv_say "Xvfb did not start"; return 1; }
    export DISPLAY=":$(head -n1 "$number")"
    timeout 10 xdpyinfo >/dev/null 2>&1 || { qv_say "display $DISPLAY does not answer"; return 1; }
}

# Settings Wine reads at process start; $1 is the audio driver ("" for none). Without a window
# manager Wine would wait 2 s at every hidden or destroyed window unless its windows are unmanaged;
# with no crash debugger a faulting program ends at once (instead of hanging in winedbg) and the
# check sees its exit.
qv_wine_settings() {
    local reg="$QV_TMP/settings.reg"
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n' >"$reg"
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]\r\n"Debugger"=-\r\n\r\n' >>"$reg"
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\r\n"Audio"="%s"\r\n' "$1" >>"$reg"
    qv_wine regedit /S "$reg" || { qv_say "regedit failed"; return 1; }
}

# Debian's `wine` always takes Wine's 32-bit loader when it is installed, and that cannot run on a
# kernel without ia32 emulation; for 64-bit programs (QV_WINEARCH=win64) a `wine` of our own runs the
# 64-bit loader instead.
qv_wine_loader() {
    # The prefix follows the programs under test (QVEXE, when the caller has set it).
    if [[ -z ${QV_WINEARCH:-} && -n ${QVEXE:-} ]]; then
        QV_WINEARCH=win32
        LC_ALL=C x86_64-w64-mingw32-objdump -f "$QVEXE" 2>/dev/null | grep -q 'x86-64' && QV_WINEARCH=win64
    fi
    [[ ${QV_WINEARCH:-win32} == win64 ]] || return 0
    mkdir -p "$QV_TMP/bin"
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' >"$QV_TMP/bin/wine"
    chmod +x "$QV_TMP/bin/wine"
    export PATH="$QV_TMP/bin:$PATH"
}

# A wineserver of our own that stays up between the checks (no 10 s start-up per program), in the
# foreground so that its pid is ours to end. One already running is ended first, and with it every
# program still running in the prefix.
qv_wineserver() {
    if [[ -n ${QV_WINESERVER_PID:-} ]]; then
        WINEPREFIX="$WINEPREFIX" timeout 20 wineserver -k 2>/dev/null
        timeout 20 tail --pid="$QV_WINESERVER_PID" -f /dev/null
    fi
    qv_spawn timeout "${QV_X_LIMIT:-1800}" wineserver -f -p
    QV_WINESERVER_PID=$!
}

qv_wine_up() {
    qv_wine_loader
    export WINEPREFIX="$QV_TMP/prefix" WINEARCH="${QV_WINEARCH:-win32}" WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
    mkdir -p "$WINEPREFIX" && qv_wineserver
    # Making a new prefix has failed now and then at the first run on a freshly started machine, and
    # worked when tried again; a second failure is reported with the end of what wineboot said.
    if ! QV_WINE_LIMIT=180 qv_wine wineboot -i >"$QV_TMP/wineboot.log" 2>&1; then
        qv_wineserver
        QV_WINE_LIMIT=180 qv_wine wineboot -i >>"$QV_TMP/wineboot.log" 2>&1 ||
            { qv_say "wineboot -i failed: $(tail -n 3 "$QV_TMP/wineboot.log" | tr '\n' ' ')"; return 1; }
    fi
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
    # No audio driver: the program meets a machine without a sound card.
    qv_wine_settings "" || return 1
}

# A private PulseAudio: a null sink whose monitor is the default source, reached on a unix socket in
# our directory; Wine's audio driver switched to pulse. Sets QV_PULSE_SOCKET.
qv_pulse_up() {
    local dir="$QV_TMP/pulse"
    mkdir -p "$dir/runtime" "$dir/state"
    QV_PULSE_SOCKET="$dir/native"
    export PULSE_RUNTIME_PATH="$dir/runtime" PULSE_STATE_PATH="$dir/state" PULSE_SERVER="unix:$QV_PULSE_SOCKET"
    qv_spawn timeout "${QV_X_LIMIT:-1800}" pulseaudio -n --daemonize=no --system=no --use-pid-file=no \
        --exit-idle-time=-1 --disallow-exit --disable-shm=yes --log-target=file:"$dir/pulse.log" \
        -L "module-native-protocol-unix socket=$QV_PULSE_SOCKET auth-anonymous=1" \
        -L "module-null-sink sink_name=vsink format=u8 rate=44100 channels=1" \
        -L "module-always-sink" 2>>"$dir/pulse.err"
    qv_until 100 0.1 timeout 5 pactl info >/dev/null 2>&1
    timeout 5 pactl set-default-sink vsink >/dev/null 2>&1 &&
        timeout 5 pactl set-default-source vsink.monitor >/dev/null 2>&1 ||
        { qv_say "PulseAudio did not start (see $dir/pulse.log)"; return 1; }
    qv_wine_settings pulse || return 1
}

qv_env_down() {
    local pid
    [[ -n $WINEPREFIX && -d $WINEPREFIX ]] && WINEPREFIX="$WINEPREFIX" timeout 20 wineserver -k 2>/dev/null
    for pid in "${QV_PIDS[@]}" "${QV_HOGS[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${QV_PIDS[@]}"; do
        timeout 10 tail --pid="$pid" -f /dev/null 2>/dev/null
        kill -KILL "$pid" 2>/dev/null
    done
    QV_PIDS=()
    [[ -n $QV_TMP && -d $QV_TMP && -z ${QV_KEEP:-} ]] && rm -rf "$QV_TMP"
}

# --console: for console programs only, without the X server and the Russian locale.
qv_env_up() {
    QV_TMP="$(mktemp -d /tmp/qvwine.XXXXXX)" || return 1
    trap qv_env_down EXIT
    trap 'exit 130' INT TERM
    # Everything that would write under the real home (Wine, PulseAudio's cookie) stays in here.
    export HOME="$QV_TMP/home" XDG_RUNTIME_DIR="$QV_TMP/run" XDG_CONFIG_HOME="$QV_TMP/home/.config"
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    unset PULSE_SERVER
    if [[ ${1:-} != --console ]]; then
        qv_locale_up && qv_x_up || return 1
    fi
    qv_wine_up
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    [[ $# -gt 0 ]] || { echo "usage: env.sh [--audio] COMMAND..." >&2; exit 2; }
    audio=0
    [[ $1 == --audio ]] && audio=1 && shift
    qv_env_up || exit 1
    ((audio == 0)) || qv_pulse_up || exit 1
    "$@"
fi
