#!/usr/bin/env python3
"""Recordings for the Start/Stop and Exit stress checks, and the judges of what they leave.

    stress-tapes.py make DIR                 write the TAP files of RECORDINGS into DIR
    stress-tapes.py hole IN.pcm OUT.pcm MB   OUT is MB megabytes of a constant level, then IN
    stress-tapes.py spaced TAPGEN IN.tap OUT.pcm MB
                                             OUT is every block of IN rendered by the program
                                             TAPGEN, each after MB megabytes of a constant level
    stress-tapes.py seed DIR FIRST N TAP     N finished block files outFIRST.tap... (distinct blocks),
                                             and their blocks as the TAP file TAP
    stress-tapes.py hammer LOG TAP...        judge stress-hammer's records LOG against the blocks of
                                             the TAP files: presses, timings, TAPE after every Stop
    stress-tapes.py intact DIR LOG FIRST TAP...  judge the files of TAPE (DIR) from number FIRST on
                                             against the blocks, the last snapshot in LOG ("-":
                                             none) and the files DIR/status.log names as written

A long stretch before the first block keeps the decoder waiting for a pilot tone: a hole in a sparse
file reads as zeros, a level that never crosses the base line, which to the decoder is silence
however long, and costs no disk.

hammer and intact print "key=value" figures on the first line and the problems after it, one a line;
exit status 1 when there are problems.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tapes  # noqa: E402

PLACEHOLDER = b"\x20\x20"
# A press carried out later than this counts as a hang.
PRESS_LIMIT_MS = 1000.0


# The decoder runs far ahead of the panes. A Stop sent inside a block therefore ends the run there
# only when the block has many kilobytes still to come; the first blocks of the hammered recordings
# are long for that.
def hammer_a():
    """Starts with a long data block, so that a press can land in a block before any file of the
    run is finished."""
    blocks = [tapes.data(tapes.pattern(12000, 11))]
    for i in range(4):
        blocks.append(tapes.header(3, "hammer a%d" % i, 1500 + 100 * i, 30000))
        blocks.append(tapes.data(tapes.pattern(1500 + 100 * i, 12 + i)))
    return blocks


def hammer_b():
    """Starts with a long data block of other bytes and length, so that a file written again by a
    run of the other recording would change."""
    blocks = [tapes.data(tapes.pattern(10000, 31))]
    for i in range(4):
        blocks.append(tapes.header(0, "hammer b%d" % i, 2500 - 100 * i, 10))
        blocks.append(tapes.data(tapes.pattern(2500 - 100 * i, 21 + i)))
    return blocks


def exit_pilot():
    return [tapes.header(3, "late", 100, 30000)]


def exit_block():
    """A header, then a block long enough to be read for seconds."""
    return [tapes.header(3, "long block", 40000, 32768), tapes.data(tapes.pattern(40000, 5))]


def exit_rescan():
    return [tapes.header(3, "rescan", 300, 30000), tapes.data(tapes.pattern(300, 6)),
            tapes.header(3, "after", 300, 30000)]


RECORDINGS = {"hammer-a.tap": hammer_a, "hammer-b.tap": hammer_b, "exit-pilot.tap": exit_pilot,
              "exit-block.tap": exit_block, "exit-rescan.tap": exit_rescan}


def fnv1a(data):
    value = 1469598103934665603
    for byte in data:
        value = ((value ^ byte) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return value


def images(tap_names):
    """Every block of the TAP files as the file the decoder writes for it, by FNV-1a hash."""
    found = {}
    for name in tap_names:
        with open(name, "rb") as f:
            blocks = tapes.parse_tap(f.read())
        for index, block in enumerate(blocks, 1):
            image = struct.pack("<H", len(block) & 0xFFFF) + block
            assert image[:2] != PLACEHOLDER, "a block of 0x2020 bytes would look unfinished"
            found[fnv1a(image)] = "%s block %d" % (os.path.basename(name), index)
    return found


def number(name):
    return int(name[3:-4])


def read_log(path):
    presses, snapshots, problems = [], {}, []
    with open(path, "rb") as f:
        for raw in f.read().split(b"\n"):
            line = raw.rstrip(b"\r")
            if line.startswith(b"press "):
                head, at, last = (line.split(b"\t") + [b"", b""])[:3]
                _, index, start_ms, stop_ms = head.split(b" ")
                presses.append((int(index), float(start_ms), float(stop_ms), at, last))
            elif line.startswith(b"file "):
                _, index, name, size, kind, mtime, value = line.decode("ascii").split(" ")
                snapshots.setdefault(int(index), {})[name] = (int(size), kind, int(mtime), int(value, 16))
            elif line.startswith(b"problem "):
                problems.append(line[len(b"problem "):].decode("cp1251", "replace"))
    return presses, snapshots, problems


def phase(line):
    """The phase of a run that the last line the decoder logged opens."""
    if line in (b"Wait pilot...", b""):
        return "pilot"
    if line in (b"Pilot stable.", b"Sync ok. Read data...") or (line.startswith(b"Read ") and line.endswith(b" Kb")):
        return "block"
    return "after"


def judge_hammer(log, tap_names):
    presses, snapshots, problems = read_log(log)
    problems = ["press " + p for p in problems]
    known = images(tap_names)
    # Where each Stop was sent, and where the decoder was when it had obeyed.
    sent = {"pilot": 0, "block": 0, "after": 0}
    ended = dict(sent)
    slow = []
    for index, start_ms, stop_ms, at, last in presses:
        sent[phase(at)] += 1
        ended[phase(last)] += 1
        for what, ms in (("Start", start_ms), ("Stop", stop_ms)):
            if ms > PRESS_LIMIT_MS:
                slow.append("%s of press %d took %.0f ms (at \"%s\")" % (what, index, ms, at.decode("cp1251")))
    problems += slow
    finished = {}  # number -> (hash, mtime, press at which it was first seen finished)
    checked = 0
    for index in sorted(snapshots):
        files = snapshots[index]
        unfinished = [name for name, (_, kind, _, _) in files.items() if kind == "u"]
        if len(unfinished) > 1:
            problems.append("after press %d several files carry the placeholder: %s" % (index, " ".join(sorted(unfinished))))
        highest = max(files, key=number) if files else None
        if unfinished and unfinished[0] != highest:
            problems.append("after press %d %s carries the placeholder below %s" % (index, unfinished[0], highest))
        for name, (size, kind, mtime, value) in files.items():
            if kind != "c":
                if name in finished:
                    problems.append("%s, finished after press %d, carries the placeholder after press %d" % (
                        name, finished[name][2], index))
                continue
            checked += 1
            if value not in known:
                problems.append("after press %d %s (%d bytes) holds no block of the recordings" % (index, name, size))
            if name in finished:
                first_value, first_mtime, since = finished[name]
                if value != first_value:
                    problems.append("%s held %s after press %d and %s after press %d" % (
                        name, known.get(first_value, "another file"), since, known.get(value, "another file"), index))
                elif mtime != first_mtime:
                    problems.append("%s, finished after press %d, was written again by press %d" % (name, since, index))
            else:
                finished[name] = (value, mtime, index)
        for name, (_, _, since) in finished.items():
            if name not in files:
                problems.append("%s, finished after press %d, is gone after press %d" % (name, since, index))
    starts = sorted(p[1] for p in presses)
    stops = sorted(p[2] for p in presses)
    figures = "presses=%d sent_pilot=%d sent_block=%d sent_after=%d ended_pilot=%d ended_block=%d" % (
        len(presses), sent["pilot"], sent["block"], sent["after"], ended["pilot"], ended["block"])
    figures += " snapshots=%d finished=%d checked=%d" % (len(snapshots), len(finished), checked)
    if presses:
        figures += " start_max_ms=%.0f stop_median_ms=%.0f stop_max_ms=%.0f" % (
            starts[-1], stops[len(stops) // 2], stops[-1])
    return figures, problems


def logged_files(directory, first):
    """The files status.log in DIR names as written: the decoder logs a file's name once its block
    has ended and its length has been patched in. (A run stopped right after a block may end
    before the name is logged, so a finished file need not be named.)"""
    path = os.path.join(directory, "status.log")
    if not os.path.exists(path):
        return set()
    with open(path, "rb") as f:
        lines = f.read().decode("cp1251", "replace").split("\r\n")
    return {line for line in lines if re.fullmatch(r"out\d{3,}\.tap", line) and number(line) >= first}


def judge_intact(directory, log, first, tap_names):
    """The files left at the end: every finished one a block of the recordings and as the last
    snapshot saw it, every one the log names as written still finished, at most one unfinished and
    that one the highest number."""
    known = images(tap_names)
    _, snapshots, _ = read_log(log) if log != "-" else ([], {}, [])
    last = snapshots[max(snapshots)] if snapshots else {}
    names = sorted((n for n in os.listdir(directory) if n.startswith("out") and n.endswith(".tap")
                    and number(n) >= first), key=number)
    problems, unfinished, finished = [], [], set()
    for name in names:
        with open(os.path.join(directory, name), "rb") as f:
            content = f.read()
        if content[:2] == PLACEHOLDER:
            unfinished.append(name)
            continue
        finished.add(name)
        if fnv1a(content) not in known:
            problems.append("%s (%d bytes) holds no block of the recordings" % (name, len(content)))
        if name in last and last[name][1] == "c" and last[name][3] != fnv1a(content):
            problems.append("%s changed after the last Stop" % name)
    for name in last:
        if last[name][1] == "c" and number(name) >= first and name not in names:
            problems.append("%s vanished after the last Stop" % name)
    logged = logged_files(directory, first)
    for name in sorted(logged - finished, key=number):
        problems.append("%s was logged as written but is %s" % (name, "unfinished" if name in unfinished else "gone"))
    if len(unfinished) > 1:
        problems.append("several files carry the placeholder: %s" % " ".join(unfinished))
    elif unfinished and unfinished[0] != names[-1]:
        problems.append("%s carries the placeholder below %s" % (unfinished[0], names[-1]))
    return "files=%d finished=%d logged=%d unfinished=%d" % (
        len(names), len(finished), len(logged), len(unfinished)), problems


def seed(directory, first, count, tap_name):
    blocks = [tapes.data(struct.pack("<H", k) + tapes.pattern(40, 500 + k)) for k in range(count)]
    for k, block in enumerate(blocks):
        with open(os.path.join(directory, "out%03d.tap" % (first + k)), "wb") as f:
            f.write(struct.pack("<H", len(block)) + block)
    with open(tap_name, "wb") as f:
        f.write(tapes.tap_image(blocks))


def hole(source, target, megabytes):
    with open(source, "rb") as f:
        signal = f.read()
    with open(target, "wb") as g:
        g.seek(megabytes << 20)
        g.write(signal)


def spaced(tapgen, source, target, megabytes):
    """The decoder reads a file far faster than it plays; silence before every block keeps a run
    going long enough for a Stop or an Exit to land in it, wherever it is meant to."""
    with open(source, "rb") as f:
        blocks = tapes.parse_tap(f.read())
    with open(target, "wb") as g, tempfile.TemporaryDirectory() as work:
        for block in blocks:
            one, signal = os.path.join(work, "one.tap"), os.path.join(work, "one.pcm")
            with open(one, "wb") as f:
                f.write(tapes.tap_image([block]))
            subprocess.run([tapgen, one, signal], check=True, stdout=subprocess.DEVNULL)
            g.seek(megabytes << 20, os.SEEK_CUR)
            with open(signal, "rb") as f:
                g.write(f.read())


def report(figures, problems):
    print(figures)
    for problem in problems[:10]:
        print(problem)
    if len(problems) > 10:
        print("(and %d more)" % (len(problems) - 10))
    return 1 if problems else 0


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "make":
        for name, make in RECORDINGS.items():
            with open(os.path.join(argv[2], name), "wb") as f:
                f.write(tapes.tap_image(make()))
    elif command == "hole":
        hole(argv[2], argv[3], int(argv[4]))
    elif command == "spaced":
        spaced(argv[2], argv[3], argv[4], int(argv[5]))
    elif command == "seed":
        seed(argv[2], int(argv[3]), int(argv[4]), argv[5])
    elif command == "hammer":
        return report(*judge_hammer(argv[2], argv[3:]))
    elif command == "intact":
        return report(*judge_intact(argv[2], argv[3], int(argv[4]), argv[5:]))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
