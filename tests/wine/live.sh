# The live-audio group of run.sh (sourced by it, after the other checks; uses its helpers): the
# program records from a sound card that is a private PulseAudio's null sink monitor, and recordings
# made by quorvane-tapgen are played into that sink as a tape recorder would play them.
#
# One program run carries the checks from start-up to Exit, each building on the one before (a
# failed step fails the ones after it with its own reason). --long adds a second run that records a
# 10-minute tape of numbered blocks. Figures (delays, positions, memory) are printed as "  figure:"
# lines.

PLAY_PID=""
LIVE="$QV_TMP/live"
LIVE_APP="$LIVE/app"

figure() { echo "  figure: $*"; }

# Plays a raw recording into the sink in real time; PLAY_PID is the player.
play() {
    qv_spawn timeout "$2" bash -c 'exec pacat --playback --raw --format=u8 --rate=44100 --channels=1 \
        --device=vsink <"$1"' play "$1"
    PLAY_PID=$!
}

# The Windows process itself: the child of the timeout that started it.
app_process() {
    local child
    child="$(cat "/proc/$APP_PID/task/$APP_PID/children" 2>/dev/null)"
    echo "${child%% *}"
}

# Waits (at most $5 seconds) until the files from number $3 on hold the $4 blocks of the TAP file $1
# in directory $2; the last verdict is left in $6. A glitch in the played signal can make the decoder
# log a block of no bytes under the next file's name (and remove that file), so the name in the log
# is not enough.
wait_blocks() {
    local tap=$1 dir=$2 first=$3 count=$4 limit=$5 verdict=$6 i
    for ((i = 0; i < limit * 2; i++)); do
        python3 "$here/tapes.py" blocks "$tap" "$dir" "$first" "$count" >"$verdict" && return 0
        sleep 0.5
    done
    why "$(cat "$verdict")"
}

memory_kb() {
    awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status" 2>/dev/null
}

live_up() {
    qv_pulse_up || return 1
    # An idle sink hands out its first buffer only after one to two seconds unless a low-latency
    # reader is already connected.
    qv_spawn timeout "${QV_X_LIMIT:-1800}" bash -c 'exec parec --latency-msec=10 --raw --format=u8 \
        --rate=44100 --channels=1 --device=vsink.monitor >/dev/null'
    sleep 2
    rm -rf "$LIVE"
    mkdir -p "$LIVE_APP" "$LIVE/warm-up"
    # Wine sets up its audio devices at the first recording in a new prefix, which takes it about
    # ten seconds; the program's first start here pays for that, the checks start after it.
    local start=$SECONDS
    (cd "$LIVE/warm-up" && exec timeout 120 wine "$QVEXE") >"$LIVE/warm-up.log" 2>&1 &
    APP_PID=$!
    QV_PIDS+=("$APP_PID")
    local try
    if D wait "$MAIN" 60000; then
        # Meanwhile the program may not answer at all for a while.
        for try in 1 2 3 4 5 6; do
            D wait-number "$MAIN" 20 1024 5000 && break
        done
        app_quit
    fi
    [[ -s $WHYF ]] && echo "  live warm-up: $(cat "$WHYF")"
    rm -f "$WHYF"
    app_cleanup
    figure "first start with audio in a new prefix: recording after $((SECONDS - start)) s"
    cat "$data/mixed.tap" "$data/one.tap" >"$LIVE/tape.tap"
    "$TAPGEN" "$LIVE/tape.tap" "$LIVE/tape.pcm" >/dev/null
}

check_live_start_records() {
    local ms
    (cd "$LIVE_APP" && exec timeout 900 wine "$QVEXE") >"$LIVE_APP.log" 2>&1 &
    APP_PID=$!
    QV_PIDS+=("$APP_PID")
    # From the main dialog's appearance to the first full buffer (1024 bytes) recorded.
    ms="$(D wait "$MAIN" 15000 mark wait-number "$MAIN" 20 1024 10000 since)" || return 1
    figure "start-up to first buffer: $ms ms (main dialog shown to a recording position of 1024 bytes)"
    D gone "$INFO" 0 || why "a message box appeared at start-up with a sound card present" || return 1
    expect_text "$MAIN" 19 44100 && expect_enabled "$MAIN" 12 0 && expect_enabled "$MAIN" 14 1 || return 1
    local field
    for field in "${FIELDS[@]}"; do
        expect_enabled "$SETTINGS" "$field" 0 || return 1
    done
}

# Green pixels of the strip in rows away from its middle line: the drawn waveform is not flat.
strip_drawn() {
    python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
# Binary PPM: "P6\nW H\n255\n" then RGB.
parts = data.split(b"\n", 3)
width, height = map(int, parts[1].split())
pixels = parts[3]
rows = set()
columns = set()
for y in range(height):
    for x in range(width):
        r, g, b = pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]
        if g > 200 and r < 100 and b < 100:
            rows.add(y)
            columns.add(x)
mid = height // 2
off_middle = [y for y in rows if abs(y - mid) > 3]
print("%d green rows (%d away from the middle), %d green columns of %d" % (len(rows), len(off_middle), len(columns), width))
sys.exit(0 if len(off_middle) >= height // 8 and len(columns) >= width // 2 else 1)
PY
}

check_live_tape_decoded() {
    local seconds blocks p1 p2 rect l t r b
    seconds=$(($(stat -c %s "$LIVE/tape.pcm") / 44100 + 1))
    blocks=$(python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import tapes; print(len(tapes.parse_tap(open(sys.argv[2], "rb").read())))' "$here" "$LIVE/tape.tap")
    play "$LIVE/tape.pcm" $((seconds + 30))
    # Halfway through the screen block: the strip shows the signal and the position moves on.
    sleep 28
    p1="$(D text "$MAIN" 20)" || return 1
    rect="$(D rect "$MAIN" 1003)" || return 1
    read -r l t r b <<<"$rect"
    screenshot "$shots/recording.png" || return 1
    # The strip without the control's frame.
    timeout 30 convert "$QV_TMP/root.png" -crop "$((r - l - 4))x$((b - t - 4))+$((l + 2))+$((t + 2))" +repage \
        -depth 8 "$LIVE/strip.ppm" || why "cutting the strip out of the screenshot failed" || return 1
    sleep 1
    p2="$(D text "$MAIN" 20)" || return 1
    ((p2 > p1 && p1 > 0)) || why "recording position went from \"$p1\" to \"$p2\"" || return 1
    figure "recording position during playback: $p1 then $p2 one second later ($(((p2 - p1))) bytes)"
    timeout $((seconds + 30)) tail --pid="$PLAY_PID" -f /dev/null
    wait_blocks "$LIVE/tape.tap" "$LIVE_APP/TAPE" 1 "$blocks" 20 "$LIVE/verify" || return 1
    figure "live tape: $blocks blocks played, $(ls "$LIVE_APP/TAPE" | grep -c '^out.*\.tap$') files (the last one waiting for the next block)"
}

check_live_log_and_panes() {
    local log="$LIVE_APP/TAPE/status.log" ok errors
    # A block of no bytes (see wait_blocks) always passes its checksum; the others must give 6 and 1.
    ok=$(($(grep -c $'^CRC summ ok\r$' "$log") - $(grep -c $'^Read 0 bytes\r$' "$log")))
    errors=$(grep -c $'^Warning! CRC summ error \r$' "$log")
    ((ok == 6 && errors == 1)) || why "status.log has $ok checksums ok and $errors errors, not 6 and 1" || return 1
    text_to "$MAIN" 1000 "$LIVE/headers.raw" && D lblines "$MAIN" 1004 >"$LIVE/list" || return 1
    grep -av $'^Read 0 bytes okey\r$' "$LIVE/headers.raw" >"$LIVE/headers"
    python3 "$here/tapes.py" headers "$LIVE/tape.tap" | sed 's/$/\r/' >"$LIVE/headers.want"
    cmp -s "$LIVE/headers" "$LIVE/headers.want" ||
        why "header pane shows \"$(utf8 <"$LIVE/headers" | tr '\r\n' ' |')\"" || return 1
    (cd "$LIVE_APP/TAPE" && python3 "$here/tapes.py" describe . out00{1..7}.tap && echo out007.tap) >"$LIVE/list.want"
    cmp -s "$LIVE/list" "$LIVE/list.want" || why "catalogue shows \"$(utf8 <"$LIVE/list" | tr '\n' '|')\""
}

check_live_waveform() {
    local verdict
    [[ -s $LIVE/strip.ppm ]] || why "no screenshot of the strip" || return 1
    verdict="$(strip_drawn "$LIVE/strip.ppm")" || why "strip looks flat: $verdict" || return 1
    figure "strip during playback: $verdict"
}

count_closes() {
    grep -c $'^WaveInClose: ok\r$' "$LIVE_APP/TAPE/status.log"
}

check_live_stop() {
    local ms field
    ms="$(D mark click "$MAIN" 14 wait-enabled "$MAIN" 12 1000 since)" || return 1
    figure "Stop while recording: controls unlocked after $ms ms"
    expect_enabled "$MAIN" 14 0 || return 1
    for field in "${FIELDS[@]}"; do
        expect_enabled "$SETTINGS" "$field" 1 || return 1
    done
    D wait-text "$MAIN" 21 "WaveInClose: ok" 2000 sleep 500 || return 1
    [[ $(count_closes) == 1 ]] || why "\"WaveInClose: ok\" logged $(count_closes) times" || return 1
    [[ $(cat "$LIVE_APP/TAPE/out008.tap") == "  " ]] || why "out008.tap (waiting for a block at Stop) is not the placeholder"
}

check_live_second_tape() {
    D radio "$MAIN" 26 click "$MAIN" 12 wait-number "$MAIN" 20 1024 5000 || return 1
    expect_enabled "$MAIN" 12 0 && expect_enabled "$MAIN" 14 1 || return 1
    play "$data/one.pcm" 40
    timeout 60 tail --pid="$PLAY_PID" -f /dev/null
    wait_blocks "$data/one.tap" "$LIVE_APP/TAPE" 8 1 20 "$LIVE/verify2"
}

check_live_exit_while_recording() {
    app_quit || return 1
    [[ $(count_closes) == 2 ]] || why "Exit while recording: \"WaveInClose: ok\" logged $(count_closes) times in all, not 2"
}

# Ten minutes of numbered blocks: every one must come back, in order, while the memory of the
# process stays flat (the queue between the sound card and the decoder does not grow).
check_live_ten_minutes() {
    local dir="$LIVE/long" count=140 seconds pid elapsed rss peak
    mkdir -p "$dir/app"
    python3 "$here/tapes.py" counter "$dir/counter.tap" "$count" &&
        "$TAPGEN" "$dir/counter.tap" "$dir/counter.pcm" >/dev/null || why "counter tape not made" || return 1
    seconds=$(($(stat -c %s "$dir/counter.pcm") / 44100 + 1))
    (cd "$dir/app" && exec timeout $((seconds + 120)) wine "$QVEXE") >"$dir/app.log" 2>&1 &
    APP_PID=$!
    QV_PIDS+=("$APP_PID")
    D wait "$MAIN" 15000 wait-number "$MAIN" 20 1024 10000 || return 1
    pid="$(app_process)"
    # What the sound card is given, recorded alongside: a block lost from the program's files but
    # present here was lost in Wine's capture or in the program, not on the way to the sink.
    qv_spawn timeout $((seconds + 60)) bash -c 'exec parec --latency-msec=10 --raw --format=u8 --rate=44100 \
        --channels=1 --device=vsink.monitor >"$1"' monitor "$dir/monitor.raw"
    play "$dir/counter.pcm" $((seconds + 60))
    : >"$dir/memory"
    for ((elapsed = 0; elapsed < seconds; elapsed += 30)); do
        echo "$elapsed $(memory_kb "$pid" VmRSS)" >>"$dir/memory"
        sleep 30
    done
    # A block lost on the way leaves the last name unwritten; the order check below says which one,
    # and where it was lost, better than the wait can.
    D wait-text "$MAIN" 21 "$(printf 'out%03d.tap' "$count")" 60000 || rm -f "$WHYF"
    peak="$(memory_kb "$pid" VmHWM)"
    rss="$(memory_kb "$pid" VmRSS)"
    figure "10-minute tape ($seconds s): resident memory by second of recording: $(awk '{printf "%s s %s kB; ", $1, $2}' "$dir/memory")at the end $rss kB; peak $peak kB"
    app_quit || return 1
    if ! python3 "$here/tapes.py" order "$dir/app/TAPE" 1 "$count" >"$dir/order"; then
        local where="the monitor's copy lost it too: lost before the sound card"
        mkdir -p "$dir/monitor/TAPE" && mv "$dir/monitor.raw" "$dir/monitor/TAPE/" &&
            (cd "$dir/monitor" && timeout 120 wine "$DECODE" TAPE/monitor.raw >/dev/null 2>&1)
        python3 "$here/tapes.py" order "$dir/monitor/TAPE" 1 "$count" >/dev/null &&
            where="the monitor's copy has every block: lost in Wine's capture or in the program"
        why "$(cat "$dir/order"); $where"
        return 1
    fi
    figure "10-minute tape: $count blocks played, $count came back in order"
    local first last
    first="$(awk 'NR == 2 { print $2 }' "$dir/memory")"
    last="$rss"
    ((last < first + 20000)) || why "memory grew from $first kB to $last kB"
}

if live_up; then
    KEEP_APP=1
    check live-start-records check_live_start_records
    check live-tape-decoded check_live_tape_decoded
    check live-log-and-panes check_live_log_and_panes
    check live-waveform-drawn check_live_waveform
    check live-stop-while-recording check_live_stop
    check live-second-tape check_live_second_tape
    KEEP_APP=""
    check live-exit-while-recording check_live_exit_while_recording
    if ((long)); then
        check live-ten-minutes check_live_ten_minutes
    fi
else
    check live-audio-setup why "the private PulseAudio did not start"
fi
