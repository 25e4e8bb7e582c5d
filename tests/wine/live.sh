# The live-audio group of run.sh (sourced by it, after the other checks): the program records from
# a sound card that is a private PulseAudio's null sink monitor, into which recordings are played in
# real time. One program run carries the checks from start-up to Exit, each building on the one
# before, in a TAPE of a thousand files (every block makes the program list them all again); every
# playback but the frozen ones runs with one busy process per core. Then a 3-minute tape of numbered
# blocks (--long: and a 10-minute one), WM_CLOSE while recording, a tape recorded while the thread
# that owns the main dialog is suspended for 1 s and for 0.3 s every 3 s, and a damaged tape rescued
# from its kept recording. Figures are printed as "  figure:" lines; --repeat N sums up the rounds.
# QV_LIVE_SEEDED sets how many files TAPE starts with (default 1000), QV_LIVE_HOGS=0 plays without
# the busy processes, QV_LIVE_THREE=0 leaves out the 3-minute tape, QV_LIVE_FROZEN lists the frozen
# runs' milliseconds (default "1000 300", 0 for none); QV_LIVE_SWEEP=1 runs only the freeze
# tolerance instead: the frozen tape under freezes of 0.25, 0.5, 1 and 1.4 s (or the milliseconds in
# QV_LIVE_FREEZES), up to the first that loses a block.

LIVE="$QV_TMP/live"
LIVE_APP=""
# The TAP files every recording run starts with; the first block played lands in the next number.
SEEDED=${QV_LIVE_SEEDED:-1000}
FIRST=$((SEEDED + 1))
ROUND=1
# A gap between returned buffers longer than the buffers at the device last (a second and a half)
# means the device ran out of buffers and samples may have been lost.
GAP_LOSS_MS=1500
HOGS=$(nproc)
[[ ${QV_LIVE_HOGS:-1} == 0 ]] && HOGS=0
CLOSED=$'^WaveInClose: ok\r$'

# One busy process per core while a tape plays (none with QV_LIVE_HOGS=0), so that the checks hold
# on a loaded machine: each spins for at most $1 seconds (timeout ends it even if the teardown never
# runs) and is ended by its pid after the check or by the teardown. Started in the calling shell,
# not in a subshell, so that their pids are its children.
hogs_start() {
    local i
    for ((i = 0; i < HOGS; i++)); do
        timeout "$1" awk 'BEGIN { for (;;) n++ }' >/dev/null 2>&1 &
        QV_HOGS+=("$!")
    done
}

# Plays the raw recording $1 into the sink (for at most $2 seconds); PLAY_PID is the player.
play() {
    qv_spawn timeout "$2" bash -c 'exec pacat --playback --raw --format=u8 --rate=44100 --channels=1 \
        --device=vsink <"$1"' play "$1"
    PLAY_PID=$!
}
played() { timeout "$1" tail --pid="$PLAY_PID" -f /dev/null; }
seconds_of() { echo $(($(stat -c %s "$1") / 44100 + 1)); }

# What the sound card is given, recorded alongside into $1 for $2 seconds: a block lost from the
# program's files but present there was lost in Wine's capture or in the program, not on the way to
# the sink. monitor_decoded decodes it into $(dirname $1)/monitor/TAPE.
monitor() {
    qv_spawn timeout "$2" bash -c 'exec parec --latency-msec=10 --raw --format=u8 --rate=44100 \
        --channels=1 --device=vsink.monitor >"$1"' monitor "$1"
}
monitor_decoded() { decoded_into "$1" "${1%/*}/monitor" && rm -f "$1"; }
# The recording $1 decoded by the native decoder into $2/TAPE.
decoded_into() {
    mkdir -p "$2/TAPE" && cp "$1" "$2/TAPE/" && (cd "$2" && timeout 120 "$NATIVE_DECODE" "TAPE/${1##*/}" >/dev/null 2>&1)
}
# Keeping recordings on for the next program run (it reads the switch at start-up).
keep_recordings() { timeout 30 wine reg delete 'HKCU\Software\Quorvane\Recordings' /v Keep /f >/dev/null 2>&1; }

# Wine's wave input passes the sound through a capture buffer of its own that holds 100 ms (winmm's
# AC_BUFLEN), emptied by Wine's device thread into the program's buffers: when that thread runs
# later than that on a loaded machine, the oldest sound is overwritten before any buffer of the
# program's can take it. Such a loss can have happened in a run in $1 when the longest gap between
# returned buffers was over those 100 ms but within what the program's buffers hold, and no capture
# error was logged. LATE says so.
late_capture() {
    LATE="lost in Wine's capture: its 100 ms buffer was emptied $GAP_MS ms apart"
    [[ $GAP_MS != "?" ]] && ((10#${GAP_MS/./} > 1000 && 10#${GAP_MS/./} <= GAP_LOSS_MS * 10)) &&
        ! grep -aqE '(AddBuffer|MM_WIM_DATA): ' "$1/TAPE/status.log"
}

# A loss happened beneath the program when the capture was late (late_capture) and the recording
# kept in $1/TAPE (every sample the decoder took) decodes to no more of the $3 blocks of the TAP file
# $2 than the run's files hold ($4). WINE_LOST says so.
lost_beneath() {
    local rec
    WINE_LOST=""
    late_capture "$1" || return 1
    rec="$(cd "$1/TAPE" && ls rec-*.wav 2>/dev/null | head -n 1)"
    [[ -n $rec ]] || return 1
    decoded_into "$1/TAPE/$rec" "$1/kept"
    (($(tapes back "$2" "$1/kept/TAPE" 1 "$3") <= $4)) || return 1
    WINE_LOST="; $LATE, and the recording the program kept of what it was given lacks the same blocks"
}

# The thread that owns the main dialog suspended for $1 ms every 3 s while a tape of $2 seconds
# plays (the first freeze a second into it, the last before its end), by a driver in the background
# whose pid is FREEZER and whose complaints go to $3.
freezer_start() {
    local args=(sleep 1000) i
    for ((i = 0; i < ($2 - 2) / 3; i++)); do
        args+=(freeze "$MAIN" "$1" sleep $((3000 - $1)))
    done
    timeout $(($2 + 60)) wine "$QVDRIVE" "${args[@]}" >/dev/null 2>"$3" &
    FREEZER=$!
    QV_PIDS+=("$FREEZER")
}
freezer_done() { wait "$FREEZER" || why "the freezes stopped: $(tr -d '\r' <"$1" | head -n1)"; }

# The longest gap between two buffers back from the device since the last query, in milliseconds
# ("?" when the program did not answer); the query starts a new measure.
gap_query() { grep -xE '[0-9]+\.[0-9]' <<<"$(timeout 60 wine "$QVDRIVE" gap "$MAIN" 2>/dev/null)" || echo "?"; }

# Round by round: what was played and what came back, and the gaps, for the summary of --repeat.
declare -A ROUND_PLAYED ROUND_BACK ROUND_NOTES ROUND_GAPS ROUND_FAILED

# The gap since gap_query was last called, for the playback $1, as a figure. A gap longer than the
# buffers at the device last means the device ran dry and sound was lost, whatever the blocks say:
# the check fails.
gap_figure() {
    local ms
    ms="$(gap_query)"
    # Other work on the machine loads it too: the load average says how much.
    GAP_MS=$ms
    figure "longest gap between returned buffers: $ms ms ($1, $HOGS busy processes, load average $(cut -d' ' -f1 /proc/loadavg))"
    ROUND_GAPS[$ROUND]+="${ROUND_GAPS[$ROUND]:+, }$1 $ms ms"
    [[ $ms == "?" ]] || ((10#${ms/./} <= GAP_LOSS_MS * 10)) ||
        why "the longest gap between returned buffers ($1) was $ms ms, longer than the ${GAP_LOSS_MS} ms the buffers last: sound was lost"
}

# The first $5 blocks of the TAP file $2, played as $1, and how many of them are in $3 from number
# $4 on, byte for byte (BACK), counted for the round; $6 notes more.
count_back() {
    BACK="$(tapes back "$2" "$3" "$4" "$5")" || BACK=0
    ROUND_PLAYED[$ROUND]=$((${ROUND_PLAYED[$ROUND]:-0} + $5))
    ROUND_BACK[$ROUND]=$((${ROUND_BACK[$ROUND]:-0} + BACK))
    ROUND_NOTES[$ROUND]+="${ROUND_NOTES[$ROUND]:+, }$1 $BACK/$5${6:+ ($6)}"
}

# Waits (at most $5 seconds) until the files from number $3 on hold the $4 blocks of the TAP file $1
# in directory $2. A glitch in the played signal can make the decoder log a block of no bytes under
# the next file's name (and remove that file), so the name in the log is not enough.
wait_blocks() {
    qv_until $(($5 * 2)) 0.5 tapes blocks "$1" "$2" "$3" "$4" >/dev/null || judge "" blocks "$1" "$2" "$3" "$4"
}

memory_kb() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status" 2>/dev/null; }

# A fresh program run in $1 (ended by timeout after $2 seconds), recording.
app_recording() { app_start "$1" "$2" && D wait-number "$MAIN" "$IDC_RECPOS" 1024 10000; }

live_up() {
    local start=$SECONDS
    qv_pulse_up || return 1
    # An idle sink hands out its first buffer only after one to two seconds unless a low-latency
    # reader is already connected.
    monitor /dev/null "${QV_X_LIMIT:-1800}"
    sleep 2
    rm -rf "$LIVE"
    mkdir -p "$LIVE/warm-up"
    # Wine sets up its audio devices at the first recording in a new prefix, which takes it about
    # ten seconds; the program's first start here pays for that, the checks start after it.
    app_launch "$LIVE/warm-up"
    if D wait "$MAIN" 60000; then
        # Meanwhile the program may not answer at all for a while.
        qv_until 6 0 D wait-number "$MAIN" "$IDC_RECPOS" 1024 5000
        app_quit
    fi
    [[ -s $QV_TMP/why ]] && echo "  live warm-up: $(cat "$QV_TMP/why")"
    qv_after_check
    rm -f "$QV_TMP/why"
    figure "first start with audio in a new prefix: recording after $((SECONDS - start)) s"
    cat "$data/mixed.tap" "$data/one.tap" >"$LIVE/tape.tap" && cp "$data/frozen.tap" "$data/damaged.tap" "$LIVE/" &&
        "$TAPGEN" "$data/one.tap" "$LIVE/loud.pcm" --high 255 --low 0 >/dev/null &&
        "$TAPGEN" "$LIVE/tape.tap" "$LIVE/tape.pcm" >/dev/null && "$TAPGEN" "$LIVE/frozen.tap" "$LIVE/frozen.pcm" >/dev/null &&
        "$TAPESIM" "$LIVE/damaged.tap" "$LIVE/damaged.wav" --family hum --strength 2 --seed 2 --raw8 "$LIVE/damaged.pcm" ||
        return 1
    LIVE_BLOCKS="$(tapes count "$LIVE/tape.tap")"
    FROZEN_BLOCKS="$(tapes count "$LIVE/frozen.tap")"
    DAMAGED_BLOCKS="$(tapes count "$LIVE/damaged.tap")"
}

check_live_start_records() {
    local ms
    seed_tape "$LIVE_APP" "$SEEDED" || return 1
    app_launch "$LIVE_APP" 900
    # From the main dialog's appearance to the first full buffer (1024 bytes) recorded.
    ms="$(D wait "$MAIN" 15000 mark wait-number "$MAIN" "$IDC_RECPOS" 1024 10000 since)" || return 1
    figure "start-up to first buffer: $ms ms (main dialog shown to a recording position of 1024 bytes; $SEEDED files in TAPE)"
    D gone "$INFO" 0 || why "a message box appeared at start-up with a sound card present" || return 1
    expect_text "$MAIN" "$IDC_SAMPLERATE" 44100 && expect_enabled "$MAIN" "$IDC_START" 0 &&
        expect_enabled "$MAIN" "$IDC_STOP" 1 && expect_enabled "$SETTINGS" "${FIELDS[@]}" 0
}

check_live_tape_decoded() {
    local seconds p1 p2 l t r b ok=0
    seconds="$(seconds_of "$LIVE/tape.pcm")"
    gap_query >/dev/null
    hogs_start $((seconds + 60))
    play "$LIVE/tape.pcm" $((seconds + 30))
    # Halfway through the screen block: the strip shows the signal and the position moves on.
    sleep 28
    p1="$(D text "$MAIN" "$IDC_RECPOS")" && read -r l t r b <<<"$(D rect "$MAIN" "$IDC_WAVEFORM")" && [[ -n $b ]] || return 1
    screenshot "$shots/recording.png" || return 1
    # The strip without the control's frame.
    timeout 30 convert "$QV_TMP/root.png" -crop "$((r - l - 4))x$((b - t - 4))+$((l + 2))+$((t + 2))" +repage \
        -depth 8 "$LIVE_APP.strip.ppm" || why "cutting the strip out of the screenshot failed" || return 1
    sleep 1
    p2="$(D text "$MAIN" "$IDC_RECPOS")" || return 1
    ((p2 > p1 && p1 > 0)) || why "recording position went from \"$p1\" to \"$p2\"" || return 1
    figure "recording position during playback: $p1 then $p2 one second later ($((p2 - p1)) bytes)"
    played $((seconds + 30))
    wait_blocks "$LIVE/tape.tap" "$LIVE_APP/TAPE" "$FIRST" "$LIVE_BLOCKS" 20 || ok=1
    # The catalogue of the last block is listed after its file is written: its time counts too.
    sleep 2
    gap_figure "mixed tape"
    count_back "mixed tape" "$LIVE/tape.tap" "$LIVE_APP/TAPE" "$FIRST" "$LIVE_BLOCKS"
    figure "live tape: $LIVE_BLOCKS blocks played, $(printf 'out%03d.tap' "$FIRST") on"
    return $ok
}

# The panes show what the console decoder prints for the tape played: its headers (a block of no
# bytes, see wait_blocks, aside), and the catalogue it lists for every file of TAPE in number order,
# then the last block's bare name once more.
check_live_log_and_panes() {
    local log="$LIVE_APP/TAPE/status.log" ok errors last=$((FIRST + LIVE_BLOCKS - 1))
    # A block of no bytes always passes its checksum; the others must give 6 and 1.
    ok=$(($(grep -c $'^CRC summ ok\r$' "$log") - $(grep -c $'^Read 0 bytes\r$' "$log")))
    errors=$(grep -c $'^Warning! CRC summ error \r$' "$log")
    ((ok == 6 && errors == 1)) || why "status.log has $ok checksums ok and $errors errors, not 6 and 1" || return 1
    text_to "$MAIN" "$IDC_HEADERS" "$LIVE/headers.raw" && D lblines "$MAIN" "$IDC_CATALOGUE" >"$LIVE/list" || return 1
    grep -av $'^Read 0 bytes okey\r$' "$LIVE/headers.raw" >"$LIVE/headers"
    decode_run "$LIVE/tape.pcm" "$LIVE/decode" && same_pane "$LIVE/headers" headers "$LIVE/decode/decode.out" || return 1
    { listing "$LIVE_APP/TAPE" $(seq -f 'out%03g.tap' 1 "$last") && printf 'out%03d.tap\n' "$last"; } >"$LIVE/list.want" || return 1
    cmp -s "$LIVE/list" "$LIVE/list.want" ||
        why "catalogue of $(wc -l <"$LIVE/list") lines differs from the $((last + 1)) of TAPE: $(diff "$LIVE/list.want" "$LIVE/list" |
            head -n 4 | utf8 | tr '\n' ' ')"
}

check_live_waveform() {
    local verdict
    [[ -s $LIVE_APP.strip.ppm ]] || why "no screenshot of the strip" || return 1
    verdict="$(tapes strip "$LIVE_APP.strip.ppm")" || why "strip looks flat: $verdict" || return 1
    figure "strip during playback: $verdict"
}

check_live_stop() {
    local ms waiting
    ms="$(D mark click "$MAIN" "$IDC_STOP" wait-enabled "$MAIN" "$IDC_START" 1000 since)" || return 1
    figure "Stop while recording: controls unlocked after $ms ms"
    expect_enabled "$MAIN" "$IDC_STOP" 0 && expect_enabled "$SETTINGS" "${FIELDS[@]}" 1 || return 1
    D wait-text "$MAIN" "$IDC_STATUS" "WaveInClose: ok" 2000 sleep 500 || return 1
    [[ $(grep -c "$CLOSED" "$LIVE_APP/TAPE/status.log") == 1 ]] || why "\"WaveInClose: ok\" not logged once" || return 1
    waiting="$(printf 'out%03d.tap' $((FIRST + LIVE_BLOCKS)))"
    [[ $(cat "$LIVE_APP/TAPE/$waiting") == "  " ]] || why "$waiting (waiting for a block at Stop) is not the placeholder"
}

# The second tape is played at full scale, so that the input clips: the status pane says so once
# (the first tape, at the levels a deck gives, did not clip), and the strip shows it (the whole
# control: the picture covers its frame, where the red edges run).
check_live_second_tape() {
    local first=$((FIRST + LIVE_BLOCKS)) ok=0 l t r b verdict
    D radio "$MAIN" "$IDC_SRC_CARD" click "$MAIN" "$IDC_START" wait-number "$MAIN" "$IDC_RECPOS" 1024 5000 &&
        expect_enabled "$MAIN" "$IDC_START" 0 && expect_enabled "$MAIN" "$IDC_STOP" 1 || return 1
    gap_query >/dev/null
    hogs_start 60
    play "$LIVE/loud.pcm" 40
    sleep 3
    read -r l t r b <<<"$(D rect "$MAIN" "$IDC_WAVEFORM")" && [[ -n $b ]] &&
        timeout 30 import -window root "$QV_TMP/root.png" 2>/dev/null &&
        timeout 30 convert "$QV_TMP/root.png" -crop "$((r - l))x$((b - t))+$l+$t" +repage \
            -depth 8 "$LIVE_APP.loud.ppm" || why "no screenshot of the strip" || return 1
    played 60
    wait_blocks "$data/one.tap" "$LIVE_APP/TAPE" "$first" 1 20 || ok=1
    sleep 2
    gap_figure "second tape"
    count_back "second tape" "$data/one.tap" "$LIVE_APP/TAPE" "$first" 1
    [[ $(grep -c $'^Input clips: lower the recording level\r$' "$LIVE_APP/TAPE/status.log") == 1 ]] ||
        why "\"Input clips: lower the recording level\" not logged once, for the second tape alone" || return 1
    verdict="$(tapes clipped "$LIVE_APP.loud.ppm")" || why "strip of the loud tape: $verdict" || return 1
    figure "strip while the input clips: $verdict"
    return $ok
}

check_live_exit_while_recording() {
    app_quit || return 1
    [[ $(grep -c "$CLOSED" "$LIVE_APP/TAPE/status.log") == 2 ]] ||
        why "Exit while recording: \"WaveInClose: ok\" not logged twice in all" || return 1
    seeded_intact "$LIVE_APP"
}

# Closing the main dialog while it records ends the recording as Exit does: the device is closed
# (and says so once) before the process ends with code 0.
check_live_close_while_recording() {
    local dir="$LIVE/round$ROUND/close"
    rm -rf "$dir" && mkdir -p "$dir"
    app_recording "$dir" 120 && app_end "WM_CLOSE while recording" close "$MAIN" 10000 || return 1
    [[ $(grep -c "$CLOSED" "$dir/TAPE/status.log" 2>/dev/null) == 1 ]] ||
        why "WM_CLOSE while recording: \"WaveInClose: ok\" not logged once"
}

# A tape of $1 numbered blocks (named $2 in what is printed) recorded in one run that starts with the
# SEEDED files in TAPE, with busy processes throughout: every block must come back, in order, while
# the memory of the process stays flat (the queue between the sound card and the decoder does not
# grow).
check_live_counter() {
    local count=$1 label=$2 dir="$LIVE/round$ROUND/$2" seconds pid elapsed rss early where order
    seed_tape "$dir/app" "$SEEDED" || return 1
    tapes counter "$dir/counter.tap" "$count" && "$TAPGEN" "$dir/counter.tap" "$dir/counter.pcm" >/dev/null ||
        why "counter tape not made" || return 1
    seconds="$(seconds_of "$dir/counter.pcm")"
    app_recording "$dir/app" $((seconds + 180)) || return 1
    # The Windows process itself: the child of the timeout that started it.
    pid="$(cut -d' ' -f1 "/proc/$APP_PID/task/$APP_PID/children" 2>/dev/null)"
    monitor "$dir/monitor.raw" $((seconds + 60))
    gap_query >/dev/null
    hogs_start $((seconds + 90))
    play "$dir/counter.pcm" $((seconds + 60))
    : >"$dir/memory"
    for ((elapsed = 0; elapsed < seconds; elapsed += 30)); do
        echo "$elapsed $(memory_kb "$pid" VmRSS)" >>"$dir/memory"
        played 30
    done
    # A block lost on the way leaves the last name unwritten; the order check below says which one,
    # and where it was lost, better than the wait can.
    D wait-text "$MAIN" "$IDC_STATUS" "$(printf 'out%03d.tap' $((FIRST + count - 1)))" 30000 || rm -f "$QV_TMP/why"
    sleep 2
    gap_figure "$label tape"
    qv_hogs_stop
    rss="$(memory_kb "$pid" VmRSS)"
    figure "$label tape ($seconds s): resident memory at the start $(awk 'NR == 1 { print $2 }' "$dir/memory") kB, by second of recording: $(awk '{printf "%s s %s kB; ", $1, $2}' "$dir/memory")at the end $rss kB; peak $(memory_kb "$pid" VmHWM) kB"
    app_quit || return 1
    count_back "$label tape" "$dir/counter.tap" "$dir/app/TAPE" "$FIRST" "$count"
    if ! order="$(tapes blocks "$dir/counter.tap" "$dir/app/TAPE" "$FIRST" "$count")"; then
        where="the monitor's copy lost it too: lost before the sound card"
        monitor_decoded "$dir/monitor.raw" && tapes blocks "$dir/counter.tap" "$dir/monitor/TAPE" 1 "$count" >/dev/null &&
            where="the monitor's copy has every block: lost in Wine's capture or in the program"
        why "$order; $where"
        return 1
    fi
    figure "$label tape: $count blocks played, $count came back in order"
    seeded_intact "$dir/app" || return 1
    early="$(awk 'NR == 2 { print $2 }' "$dir/memory")"
    ((early + 20000 > rss)) || why "memory grew from $early kB to $rss kB"
}

# The thread that owns the main dialog suspended from outside for $1 ms every 3 s while the frozen
# tape plays into a fresh program run (no busy processes: the stall is the test, and it repeats
# exactly): every block must come back byte for byte. A loss fails the check unless $2 is "measure";
# FROZEN_LOST is left with the number of blocks lost.
check_live_frozen() {
    local ms=$1 mode=${2:-} dir="$LIVE/round$ROUND/frozen-$1" seconds count=$FROZEN_BLOCKS ok=0 where="" closes
    FROZEN_LOST=$count WINE_LOST=""
    rm -rf "$dir" && mkdir -p "$dir"
    # The recording is kept, so that a loss can be told to be the program's or Wine's.
    keep_recordings
    seconds="$(seconds_of "$LIVE/frozen.pcm")"
    app_recording "$dir" $((seconds + 120)) || return 1
    monitor "$dir/monitor.raw" $((seconds + 60))
    gap_query >/dev/null
    play "$LIVE/frozen.pcm" $((seconds + 30))
    freezer_start "$ms" "$seconds" "$dir.drive"
    played $((seconds + 30))
    freezer_done "$dir.drive"
    wait_blocks "$LIVE/frozen.tap" "$dir/TAPE" 1 "$count" 20 || ok=1
    sleep 1
    gap_figure "frozen $ms ms"
    app_quit || return 1
    # Every buffer came back to the program, however long it was kept waiting: the last one closed
    # the device, once.
    closes="$(grep -c "$CLOSED" "$dir/TAPE/status.log" 2>/dev/null)"
    [[ $closes == 1 ]] || why "\"WaveInClose: ok\" logged ${closes:-0} times after the frozen tape, not once"
    count_back "frozen $ms ms" "$LIVE/frozen.tap" "$dir/TAPE" 1 "$count"
    FROZEN_LOST=$((count - BACK))
    if ((FROZEN_LOST > 0)); then
        monitor_decoded "$dir/monitor.raw"
        where="; the monitor's copy has $(tapes back "$LIVE/frozen.tap" "$dir/monitor/TAPE" 1 "$count")"
        lost_beneath "$dir" "$LIVE/frozen.tap" "$count" "$BACK" && where+=$WINE_LOST
    fi
    figure "window frozen $ms ms every 3 s ($seconds s tape): $count blocks played, $BACK back, $(((seconds - 2) / 3)) freezes$where"
    [[ $mode == measure && $closes == 1 ]] && rm -f "$QV_TMP/why" && return 0
    [[ -n ${WINE_LOST:-} && $closes == 1 ]] && rm -f "$QV_TMP/why" && return 0
    return $ok
}

# The damaged tape played into a fresh program run while the window freezes for 0.5 s every 3 s;
# after Stop, Rescue last recording brings every block back byte for byte into the recording's own
# folder (with tape.tap, the whole tape), the live run's files stay as they were, and the kept
# recording holds what was played (all but what Wine's capture changed: at most 10 % of it).
# Then Keep recordings off keeps nothing, and Rescue recording... refuses a missing file by name,
# making nothing.
check_live_rescue() {
    local dir="$LIVE/round$ROUND/rescue" count=$DAMAGED_BLOCKS seconds rec live before folder kept
    rm -rf "$dir" && mkdir -p "$dir/TAPE"
    # The round before switched keeping off, and the program reads the switch at start-up.
    keep_recordings
    seconds="$(seconds_of "$LIVE/damaged.pcm")"
    app_recording "$dir" $((seconds + 240)) && D wait-text "$MAIN" "$IDC_STATUS" "Recording kept in rec-" 5000 || return 1
    gap_query >/dev/null
    play "$LIVE/damaged.pcm" $((seconds + 30))
    freezer_start 500 "$seconds" "$dir.drive"
    played $((seconds + 30))
    freezer_done "$dir.drive"
    sleep 2
    gap_figure "damaged tape"
    D click "$MAIN" "$IDC_STOP" wait-enabled "$MAIN" "$IDC_START" 2000 || return 1
    rec="$(cd "$dir/TAPE" && ls rec-*.wav)"
    [[ $rec == rec-*.wav && $rec != *$'\n'* ]] || why "not one kept recording in TAPE: ${rec:-none}" || return 1
    live="$(tapes back "$LIVE/damaged.tap" "$dir/TAPE" 1 "$count")" || live=0
    before="$(cd "$dir/TAPE" && sha1sum out*.tap)"

    D post "$MAIN" "$IDM_RESCUE_LAST" wait-text "$MAIN" "$IDC_STATUS" "Rescue: " 120000 wait-enabled "$MAIN" "$IDC_START" 5000 &&
        screenshot "$shots/rescue.png" && D menu "$MAIN" r sleep 700 && screenshot "$shots/rescue-menu.png" &&
        D menu "$MAIN" - sleep 300 || return 1
    folder="$dir/TAPE/${rec%.wav}"
    count_back rescue "$LIVE/damaged.tap" "$folder" 1 "$count" "live $live"
    # The rescue reads the recording the program kept: what Wine's capture lost is not in it.
    WINE_LOST=""
    ((BACK < count)) && late_capture "$dir" &&
        WINE_LOST="; $LATE, before the recording the program kept"
    figure "damaged tape (hum, $seconds s, window frozen 0.5 s every 3 s): $count blocks played, live run $live back, Rescue last recording $BACK$WINE_LOST"
    if [[ -z $WINE_LOST ]]; then
        judge "rescue folder" blocks "$LIVE/damaged.tap" "$folder" 1 "$count" || return 1
        cmp -s "$folder/tape.tap" "$LIVE/damaged.tap" || why "tape.tap of the rescue is not the tape played" || return 1
        grep -q "^Rescue: $count of $count blocks good" "$folder/status.log" ||
            why "the rescue's status.log does not end with its count: $(tail -n1 "$folder/status.log")" || return 1
    fi
    [[ $(cd "$dir/TAPE" && sha1sum out*.tap) == "$before" ]] || why "the rescue changed the live run's files" || return 1
    kept="$(tapes kept "$dir/TAPE/$rec" "$LIVE/damaged.pcm")" || why "kept recording: $kept" || return 1
    figure "kept recording: $kept"

    D post "$MAIN" "$IDM_KEEP" sleep 300 || return 1
    timeout 30 wine reg query 'HKCU\Software\Quorvane\Recordings' /v Keep 2>/dev/null | tr -d '\r' |
        grep -Eq 'Keep +REG_DWORD +0x0$' || why "Keep recordings off is not stored as Keep=0" || return 1
    D click "$MAIN" "$IDC_START" wait-number "$MAIN" "$IDC_RECPOS" 1024 10000 sleep 1000 click "$MAIN" "$IDC_STOP" \
        wait-enabled "$MAIN" "$IDC_START" 2000 || return 1
    [[ $(cd "$dir/TAPE" && ls rec-*.wav) == "$rec" ]] || why "Keep recordings off: a recording was kept" || return 1
    expect_rescue_refused "$dir" nothere.wav "No such file" && app_quit
}

# The longest freeze of the main dialog's thread, of 0.25, 0.5, 1 and 1.4 s, under which the frozen
# tape comes back whole: longer ones are not tried once one loses a block.
live_freeze_tolerance() {
    local ms held=none
    ROUND=1
    mkdir -p "$LIVE/round1"
    for ms in ${QV_LIVE_FREEZES:-250 500 1000 1400}; do
        check "live-freeze-${ms}ms-measured" check_live_frozen "$ms" measure
        ((FROZEN_LOST == 0)) || break
        held="$ms ms"
    done
    figure "longest freeze of the window's thread that loses nothing: $held (of ${QV_LIVE_FREEZES:-250 500 1000 1400} ms)"
}

# One round of the live group: a program run from start-up to Exit, the 3-minute tape (and with
# --long the 10-minute one), and WM_CLOSE while recording.
live_round() {
    local suffix="" failed_before=$failed
    ROUND=$1
    ((repeat > 1)) && suffix=" #$ROUND"
    LIVE_APP="$LIVE/round$ROUND/app"
    mkdir -p "$LIVE/round$ROUND"
    KEEP_APP=1
    check "live-start-records$suffix" check_live_start_records
    check "live-tape-decoded$suffix" check_live_tape_decoded
    check "live-log-and-panes$suffix" check_live_log_and_panes
    check "live-waveform-drawn$suffix" check_live_waveform
    check "live-stop-while-recording$suffix" check_live_stop
    check "live-second-tape$suffix" check_live_second_tape
    KEEP_APP=""
    check "live-exit-while-recording$suffix" check_live_exit_while_recording
    [[ ${QV_LIVE_THREE:-1} == 0 ]] || check "live-three-minutes$suffix" check_live_counter 43 3-minute
    ((long == 0)) || check "live-ten-minutes$suffix" check_live_counter 140 10-minute
    check "live-close-while-recording$suffix" check_live_close_while_recording
    local ms
    for ms in ${QV_LIVE_FROZEN:-1000 300}; do
        ((ms == 0)) || check "live-frozen-window-${ms}ms$suffix" check_live_frozen "$ms"
    done
    check "live-rescue-last-recording$suffix" check_live_rescue
    ROUND_FAILED[$ROUND]=$((failed - failed_before))
}

if ! live_up; then
    check live-audio-setup why "the private PulseAudio did not start"
elif [[ -n ${QV_LIVE_SWEEP:-} ]]; then
    live_freeze_tolerance
else
    for ((round = 1; round <= repeat; round++)); do
        live_round "$round"
    done
    if ((repeat > 1)); then
        echo "live group, $repeat rounds:"
        for ((round = 1; round <= repeat; round++)); do
            echo "  round $round: ${ROUND_PLAYED[$round]:-0} blocks played, ${ROUND_BACK[$round]:-0} back (${ROUND_NOTES[$round]:-}); longest gaps: ${ROUND_GAPS[$round]:-none}; ${ROUND_FAILED[$round]} checks failed"
        done
    fi
fi
