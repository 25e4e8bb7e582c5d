#!/usr/bin/env python3
"""The Wine checks' tapes, and the judges of what the program leaves and shows for them.

    harness.py make DIR                 write the test TAP files (TAPES) into DIR
    harness.py fill DIR FIRST LAST [TAP]  small finished block files of every kind, outFIRST.tap to
                                        outLAST.tap (and their blocks as the TAP file TAP)
    harness.py counter OUT.tap N        N numbered blocks (for the long live recordings)
    harness.py spaced TAPGEN IN.tap OUT.pcm MB   every block of IN rendered after MB megabytes of silence
    harness.py shift IN OUT             a recording's levels moved below 128 (for the BaseLine 44 run)
    harness.py count TAP                the number of blocks in TAP
    harness.py verify TAP DIR FIRST     every block of TAP is its own DIR/out%03i.tap from FIRST on, and the
                                        file after the last one is the unfinished placeholder
    harness.py blocks TAP DIR FIRST N   the first N blocks of TAP are DIR/out%03i.tap from FIRST on
    harness.py back TAP DIR FIRST N     how many of those N blocks are byte for byte in the files from
                                        FIRST on, whatever their numbers
    harness.py hammer LOG TAP...        judge the driver's records LOG of Starts and Stops against the
                                        blocks of the TAP files: presses, timings, TAPE after every Stop
    harness.py intact DIR LOG FIRST TAP...  judge the files of TAPE (DIR) from number FIRST on against the
                                        blocks, the last snapshot in LOG ("-": none) and status.log
    harness.py strip PPM                the waveform strip cut out of a screenshot is not flat
    harness.py clipped PPM              the strip shows that the input clips: red lines along its edges
                                        and red sample lines
    harness.py kept WAV PCM             the kept recording WAV holds what was played (PCM), 10 ms at a time

Judges print their problems (hammer and intact: "key=value" figures first) and exit 1 when there are
any; the other commands exit 0, or raise.
"""
import collections
import os
import re
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from tapes import (PLACEHOLDER, back, block_file, data, header, name_of, number, pattern, read, read_tap,  # noqa: E402
                   shift, spaced, spoil, tap_files, verify, write, write_tap)

BASIC = bytes([0x00, 0x0A, 0x0C, 0x00, 0xF5, 0x22]) + b"QUORVANE" + bytes([0x22, 0x0D])
# A name as the tape carries it: raw bytes, here the Windows-1251 letters of "ТЕСТ".
CYRILLIC_NAME = bytes([0xD2, 0xC5, 0xD1, 0xD2]) + b" 1"
# A press carried out later than this counts as a hang.
PRESS_LIMIT_MS = 1000.0
END = float("inf")


TAPES = {
    # Headers of three kinds, a BASIC block, a full screen, and a block over 1 KiB whose checksum is
    # wrong: everything a user's tape brings to the panes and the catalogue.
    "mixed.tap": [header(0, "tape test", len(BASIC), 10, len(BASIC)), data(BASIC),
                  header(3, "screen", 6912, 16384), data(pattern(6912, 7)),
                  header(3, CYRILLIC_NAME, 1500, 40000), spoil(data(pattern(1499, 3)))],
    # Many data blocks: a raw-file run long enough to be stopped in the middle.
    "long.tap": [data(pattern(600, 100 + i)) for i in range(40)],
    "one.tap": [header(3, "one", 100, 30000)],
    # Seven header and data pairs, one a full screen, and a block without a header: long enough for a
    # stalled window to fall on every part of a block.
    "frozen.tap": [b for i in range(7) for b in (header(3, "frozen %d" % i, 6912 if i == 3 else 40 + 30 * i, 16384),
                                                data(pattern(6912 if i == 3 else 40 + 30 * i, 50 + i)))]
    + [data(pattern(100, 60))],
    # Short enough to play in CI, rendered with hum the fixed thresholds lose most of it to.
    "damaged.tap": [header(3, "rescue", 300, 16384), data(pattern(300, 70)), data(pattern(200, 71)),
                    header(0, "basic", len(BASIC), 10, len(BASIC)), data(BASIC)],
    # The decoder runs far ahead of the panes: a Stop sent inside a block ends the run there only
    # when the block has many kilobytes still to come, so the hammered recordings start with a long
    # one; their bytes and lengths differ, so that a file written again by the other would change.
    "hammer-a.tap": [data(pattern(12000, 11))] + [b for i in range(4) for b in (
        header(3, "hammer a%d" % i, 1500 + 100 * i, 30000), data(pattern(1500 + 100 * i, 12 + i)))],
    "hammer-b.tap": [data(pattern(10000, 31))] + [b for i in range(4) for b in (
        header(0, "hammer b%d" % i, 2500 - 100 * i, 10), data(pattern(2500 - 100 * i, 21 + i)))],
    "exit-pilot.tap": [header(3, "late", 100, 30000)],
    # A block long enough to be read for seconds.
    "exit-block.tap": [header(3, "long block", 40000, 32768), data(pattern(40000, 5))],
    "exit-rescan.tap": [header(3, "rescan", 300, 30000), data(pattern(300, 6)), header(3, "after", 300, 30000)],
}


def filler(number):
    """Small blocks of every kind the catalogue describes, for a TAPE that already holds many files."""
    if number % 3 == 0:
        return data(pattern(20 + number % 50, number))
    return header(number % 4, "file %d" % number, 100 + number, 32768, 100 + number)


def fnv1a(content):
    value = 1469598103934665603
    for byte in content:
        value = ((value ^ byte) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return value


def images(tap_names):
    """Every block of the TAP files as the file the decoder writes for it, by FNV-1a hash."""
    found = {}
    for name in tap_names:
        for index, block in enumerate(read_tap(name), 1):
            assert block_file(block)[:2] != PLACEHOLDER, "a block of 0x2020 bytes would look unfinished"
            found[fnv1a(block_file(block))] = "%s block %d" % (os.path.basename(name), index)
    return found


def read_log(path):
    """The driver's records of Start and Stop pressed in turn: each press's milliseconds, the log's
    last line before and after each Stop, the boxes and the snapshot of TAPE after each Stop. Returns
    the presses (number, Start ms, Stop ms, line before, line after), the snapshots, the problems."""
    times, logged, snapshots, problems = [], [], {}, []
    for line in read(path).replace(b"\r", b"").split(b"\n"):
        kind, _, rest = line.partition(b" ")
        press = len(times) // 2
        if kind == b"press":
            times.append(float(rest))
        elif kind == b"log":
            logged.append(rest)
        elif kind == b"file":
            name, size, state, mtime, value = rest.decode("ascii").split(" ")
            snapshots.setdefault(press, {})[name] = (int(size), state, int(mtime), int(value, 16))
        elif kind == b"problem":
            problems.append("press %d: %s" % (press, rest.decode("cp1251", "replace")))
    presses = [(k + 1, times[2 * k], times[2 * k + 1], logged[2 * k], logged[2 * k + 1])
               for k in range(min(len(times), len(logged)) // 2)]
    return presses, snapshots, problems


def phase(line):
    """The phase of a run that the last line the decoder logged opens."""
    if line in (b"Wait pilot...", b""):
        return "pilot"
    if line in (b"Pilot stable.", b"Sync ok. Read data...") or re.fullmatch(rb"Read \d+ Kb", line):
        return "block"
    return "after"


def judge_tape(snapshots, known):
    """Snapshots of TAPE (press, or END at the end -> name -> (size, kind, mtime, hash)): at most one
    file carries the placeholder, the highest; every finished file holds a block of the recordings
    and stays as it was first seen finished, never written again and never gone."""
    problems, finished, checked = [], {}, 0
    for index in sorted(snapshots):
        files, after = snapshots[index], "after press %d" % index if index != END else "at the end"
        unfinished = sorted(name for name, (_, kind, _, _) in files.items() if kind == "u")
        if len(unfinished) > 1:
            problems.append("%s several files carry the placeholder: %s" % (after, " ".join(unfinished)))
        elif unfinished and unfinished[0] != max(files, key=number):
            problems.append("%s %s carries the placeholder below %s" % (after, unfinished[0], max(files, key=number)))
        for name, (size, kind, mtime, value) in files.items():
            first = finished.setdefault(name, (value, mtime, index)) if kind == "c" else finished.get(name)
            checked += kind == "c"
            if kind != "c" and first:
                problems.append("%s, finished after press %d, carries the placeholder %s" % (name, first[2], after))
            elif kind == "c" and value not in known:
                problems.append("%s %s (%d bytes) holds no block of the recordings" % (after, name, size))
            elif kind == "c" and value != first[0]:
                problems.append("%s held %s after press %d and %s %s" % (
                    name, known.get(first[0], "another file"), first[2], known.get(value, "another file"), after))
            elif kind == "c" and None not in (mtime, first[1]) and mtime != first[1]:
                problems.append("%s, finished after press %d, was written again by press %d" % (name, first[2], index))
        problems += ["%s, finished after press %d, is gone %s" % (name, since, after)
                     for name, (_, _, since) in finished.items() if name not in files]
    return problems, len(finished), checked


def judge_hammer(log, tap_names):
    presses, snapshots, problems = read_log(log)
    # Where each Stop was sent, and where the decoder was when it had obeyed.
    sent = collections.Counter(phase(at) for _, _, _, at, _ in presses)
    ended = collections.Counter(phase(last) for _, _, _, _, last in presses)
    problems += ["%s of press %d took %.0f ms (at \"%s\")" % (what, index, ms, at.decode("cp1251"))
                 for index, start_ms, stop_ms, at, _ in presses
                 for what, ms in (("Start", start_ms), ("Stop", stop_ms)) if ms > PRESS_LIMIT_MS]
    tape_problems, finished, checked = judge_tape(snapshots, images(tap_names))
    starts, stops = sorted(p[1] for p in presses), sorted(p[2] for p in presses)
    figures = "presses=%d sent_pilot=%d sent_block=%d sent_after=%d ended_pilot=%d ended_block=%d" % (
        len(presses), sent["pilot"], sent["block"], sent["after"], ended["pilot"], ended["block"])
    figures += " snapshots=%d finished=%d checked=%d" % (len(snapshots), finished, checked)
    if presses:
        figures += " start_max_ms=%.0f stop_median_ms=%.0f stop_max_ms=%.0f" % (
            starts[-1], stops[len(stops) // 2], stops[-1])
    return figures, problems + tape_problems


def judge_intact(directory, log, first, tap_names):
    """The files left at the end (from number first on) against the snapshots of the records, and
    every one status.log names as written (the decoder logs a file's name once its block has ended
    and its length has been patched in) still finished."""
    snapshots = {index: {name: facts for name, facts in files.items() if number(name) >= first}
                 for index, files in (read_log(log)[1] if log != "-" else {}).items()}
    snapshots[END] = {}
    for name in tap_files(directory, first):
        content = read(os.path.join(directory, name))
        snapshots[END][name] = (len(content), "u" if content[:2] == PLACEHOLDER else "c", None, fnv1a(content))
    problems, finished, _ = judge_tape(snapshots, images(tap_names))
    log_path = os.path.join(directory, "status.log")
    lines = read(log_path).decode("cp1251", "replace").split("\r\n") if os.path.exists(log_path) else []
    logged = {line for line in lines if re.fullmatch(r"out\d{3,}\.tap", line) and number(line) >= first}
    problems += ["%s was logged as written but is %s" % (name, "unfinished" if name in snapshots[END] else "gone")
                 for name in sorted(logged, key=number) if snapshots[END].get(name, (0, "u"))[1] != "c"]
    unfinished = sum(kind == "u" for _, kind, _, _ in snapshots[END].values())
    return "files=%d finished=%d logged=%d unfinished=%d" % (
        len(snapshots[END]), len(snapshots[END]) - unfinished, len(logged), unfinished), problems


def strip_drawn(ppm):
    """Green pixels of the strip in rows away from its middle line: the drawn waveform is not flat."""
    parts = read(ppm).split(b"\n", 3)  # binary PPM: "P6\nW H\n255\n" then RGB
    width, height = map(int, parts[1].split())
    pixels, rows, columns = parts[3], set(), set()
    for y in range(height):
        for x in range(width):
            r, g, b = pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]
            if g > 200 and r < 100 and b < 100:
                rows.add(y)
                columns.add(x)
    off_middle = [y for y in rows if abs(y - height // 2) > 3]
    verdict = "%d green rows (%d away from the middle), %d green columns of %d" % (
        len(rows), len(off_middle), len(columns), width)
    return verdict, len(off_middle) >= height // 8 and len(columns) >= width // 2


def strip_clipped(ppm):
    """Red along the strip's top and bottom edges, and red sample lines: the input clipped."""
    parts = read(ppm).split(b"\n", 3)
    width, height = map(int, parts[1].split())
    pixels = parts[3]

    def red(x, y):
        r, g, b = pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]
        return r > 200 and g < 100 and b < 100

    rows = [sum(red(x, y) for x in range(width)) for y in range(height)]
    edges = max(rows[:3]) >= width * 9 // 10 and max(rows[-3:]) >= width * 9 // 10
    lines = sum(1 for y in range(3, height - 3) if rows[y] > 0)
    verdict = "red along the edges: %s; %d rows between them with red" % ("yes" if edges else "no", lines)
    return verdict, edges and lines >= height // 4


def kept_recording(wav, pcm):
    """Wine's capture on a loaded machine drops a few milliseconds of sound now and then before the
    program sees them, and changes the samples around a drop a little: the played tape is looked for
    10 ms at a time, in order, and all but a few of those must be in the kept recording exactly."""
    kept, played = read(wav), read(pcm)
    (length,) = struct.unpack_from("<I", kept, 40)
    if kept[:4] != b"RIFF" or 44 + length > len(kept):
        return "its header does not count what it holds", False
    samples, window, k, exact = kept[44:44 + length], 441, 0, 0
    pieces = len(played) // window
    for n in range(pieces):
        # The first piece anywhere (the tape began a while after the recording), each next one soon after.
        at = samples.find(played[n * window:(n + 1) * window], k, k + 44100 + window if exact else len(samples))
        if at >= 0:
            exact, k = exact + 1, at + window
    return "%d of the %d pieces of 10 ms played are in it exactly, in order; %d samples kept for %d played" % (
        exact, pieces, length, len(played)), exact * 10 >= pieces * 9


def main(argv):
    command, a = (argv[1], argv[2:]) if len(argv) > 1 else ("", [])
    judged = None
    if command == "make":
        for name, blocks in TAPES.items():
            write_tap(os.path.join(a[0], name), blocks)
    elif command == "fill":
        blocks = {n: filler(n) for n in range(int(a[1]), int(a[2]) + 1)}
        for n, block in blocks.items():
            write(os.path.join(a[0], name_of(n)), block_file(block))
        if len(a) > 3:
            write_tap(a[3], blocks.values())
    elif command == "counter":
        # Block i carries i (two bytes) first, so the order the blocks came back in can be read.
        write_tap(a[0], [data(struct.pack("<H", i) + pattern(200, 1000 + i)) for i in range(int(a[1]))])
    elif command == "spaced":
        spaced(a[0], a[1], a[2], int(a[3]))
    elif command == "shift":
        shift(a[0], a[1])
    elif command == "count":
        print(len(read_tap(a[0])))
    elif command in ("verify", "blocks"):
        blocks = read_tap(a[0])[:int(a[3])] if command == "blocks" else read_tap(a[0])
        judged = "", verify(blocks, a[1], int(a[2]), command == "verify")
    elif command == "back":
        print(back(read_tap(a[0])[:int(a[3])], a[1], int(a[2])))
    elif command == "hammer":
        judged = judge_hammer(a[0], a[1:])
    elif command == "intact":
        judged = judge_intact(a[0], a[1], int(a[2]), a[3:])
    elif command in ("strip", "clipped", "kept"):
        verdict, good = {"strip": lambda: strip_drawn(a[0]), "clipped": lambda: strip_clipped(a[0]),
                         "kept": lambda: kept_recording(a[0], a[1])}[command]()
        print(verdict)
        return 0 if good else 1
    else:
        print(__doc__, file=sys.stderr)
        return 2
    if judged is None:
        return 0
    figures, problems = judged
    if figures:
        print(figures)
    # One line for the shell's "why": the first problems, the count of the rest.
    print("; ".join(problems[:10]) + (" (and %d more)" % (len(problems) - 10) if len(problems) > 10 else ""))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
