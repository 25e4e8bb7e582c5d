#!/usr/bin/env python3
"""Test tapes for the Wine checks, and what the program must show and leave for them.

    tapes.py make DIR              write the test TAP files (see TAPES) into DIR
    tapes.py seed DIR              write two finished TAP block files, out003.tap and out010.tap
    tapes.py fill DIR N            write N small finished TAP block files, out001.tap to out%03i.tap N
    tapes.py describe DIR NAME...  the catalogue line of each named file, as the program lists it
    tapes.py headers TAP           the header pane's lines for a run over TAP's blocks
    tapes.py verify TAP DIR FIRST  every block of TAP is its own DIR/out%03i.tap from FIRST on, and the
                                   file after the last one is the unfinished placeholder
    tapes.py blocks TAP DIR FIRST N  the first N blocks of TAP are DIR/out%03i.tap from FIRST on
    tapes.py back TAP DIR FIRST N  how many of those N blocks are byte for byte in DIR/out%03i.tap
                                   files from FIRST on, whatever their numbers
    tapes.py shift IN OUT          move a recording's levels below 128 (for the BaseLine 44 run)
    tapes.py counter OUT.tap N     N numbered blocks (for the long live recording)
    tapes.py order DIR FIRST N     DIR holds the numbered blocks 0..N-1 in order from FIRST on
    tapes.py stamped PANE LOG      the status pane text PANE is LOG's lines, each after a time stamp

Lines are printed as the program's own bytes (Windows-1251), one a line. verify, order: problems
on standard output, exit status 1 when there are any.
"""
import collections
import os
import re
import struct
import sys

PLACEHOLDER = b"\x20\x20"


def with_checksum(block):
    check = 0
    for byte in block:
        check ^= byte
    return block + bytes([check])


def header(kind, name, length, param1=32768, param2=32768):
    name = name if isinstance(name, bytes) else name.encode("ascii")
    body = bytes([0x00, kind]) + name.ljust(10)[:10] + struct.pack("<HHH", length, param1, param2)
    return with_checksum(body)


def data(payload, flag=0xFF):
    return with_checksum(bytes([flag]) + payload)


def spoil(block):
    """The same block with a checksum that does not match."""
    return block[:-1] + bytes([block[-1] ^ 0x5A])


def pattern(size, seed):
    state = seed
    out = bytearray()
    for _ in range(size):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((state >> 16) & 0xFF)
    return bytes(out)


def tap_image(blocks):
    return b"".join(struct.pack("<H", len(b)) + b for b in blocks)


def parse_tap(image):
    blocks, offset = [], 0
    while offset < len(image):
        (length,) = struct.unpack_from("<H", image, offset)
        blocks.append(image[offset + 2:offset + 2 + length])
        offset += 2 + length
    return blocks


BASIC = bytes([0x00, 0x0A, 0x0C, 0x00, 0xF5, 0x22]) + b"QUORVANE" + bytes([0x22, 0x0D])
SCREEN = pattern(6912, 7)
# A name as the tape carries it: raw bytes, here the Windows-1251 letters of "ТЕСТ".
CYRILLIC_NAME = bytes([0xD2, 0xC5, 0xD1, 0xD2]) + b" 1"


def mixed_tape():
    """Headers of three kinds, a BASIC block, a full screen, and a block over 1 KiB whose checksum
    is wrong: everything a user's tape brings to the panes and the catalogue."""
    return [
        header(0, "tape test", len(BASIC) + 0, 10, len(BASIC)),
        data(BASIC),
        header(3, "screen", 6912, 16384),
        data(SCREEN),
        header(3, CYRILLIC_NAME, 1500, 40000),
        spoil(data(pattern(1499, 3))),
    ]


def long_tape():
    """Many data blocks: a raw-file run long enough to be stopped in the middle."""
    return [data(pattern(600, 100 + i)) for i in range(40)]


def one_tape():
    return [header(3, "one", 100, 30000)]


def filler(number):
    """Small blocks of every kind the catalogue describes, for a TAPE that already holds many files."""
    if number % 3 == 0:
        return data(pattern(20 + number % 50, number))
    return header(number % 4, "file %d" % number, 100 + number, 32768, 100 + number)


def counter_tape(count):
    """Block i carries i (two bytes) in its first data bytes, so the order in which the blocks came
    back can be read from the files."""
    return [data(struct.pack("<H", i) + pattern(200, 1000 + i)) for i in range(count)]


def frozen_tape():
    """Seven header and data pairs, one of them a full screen, and a block without a header: long
    enough for a stalled window to fall on every part of a block."""
    blocks = []
    for i in range(7):
        size = 6912 if i == 3 else 40 + 30 * i
        blocks += [header(3, "frozen %d" % i, size, 16384), data(pattern(size, 50 + i))]
    return blocks + [data(pattern(100, 60))]


def damaged_tape():
    """Two header and data pairs and a block without a header: short enough to play in CI, rendered
    with hum the fixed thresholds lose most of it to (the rescue decoder does not)."""
    return [
        header(3, "rescue", 300, 16384),
        data(pattern(300, 70)),
        data(pattern(200, 71)),
        header(0, "basic", len(BASIC), 10, len(BASIC)),
        data(BASIC),
    ]


TAPES = {"mixed.tap": mixed_tape, "long.tap": long_tape, "one.tap": one_tape, "frozen.tap": frozen_tape,
         "damaged.tap": damaged_tape}


def is_header(content):
    return len(content) == 21 and content[2] == 0


def describe(path):
    """The catalogue line of one TAP block file, built the way the program builds it."""
    with open(path, "rb") as f:
        content = f.read()
    name = os.path.basename(path).encode("ascii")
    size = str(len(content) - 2).encode("ascii")
    label, length = b"Data:", b""
    if is_header(content):
        words = {0: b"Head(Program):", 1: b"Head(Array):", 2: b"Head(Array):", 3: b"Head(Bytes):"}
        if content[3] in words:
            label = words[content[3]]
        label += content[4:14].split(b"\x00")[0]
        length = str(content[14] | content[15] << 8).encode("ascii")
    return name + b" " + label + b" " + length + b" (" + size + b")"


def header_lines(blocks):
    lines = []
    for block in blocks:
        check = 0
        for byte in block:
            check ^= byte
        if check == 0:
            lines.append(b"Read %d bytes okey" % len(block))
        if len(block) == 19 and block[0] == 0:
            words = {0: b"Program:", 1: b"Array:", 2: b"Array:", 3: b"Bytes:"}
            lines.append(words.get(block[1], b"") + block[2:12].split(b"\x00")[0])
            lines.append(b"Wait %d bytes" % (block[12] | block[13] << 8))
    return lines


def verify(blocks, directory, first, unfinished=True):
    problems = []
    for i, block in enumerate(blocks):
        name = "out%03d.tap" % (first + i)
        path = os.path.join(directory, name)
        if not os.path.exists(path):
            problems.append("%s missing" % name)
            continue
        with open(path, "rb") as f:
            content = f.read()
        want = struct.pack("<H", len(block) & 0xFFFF) + block
        if content != want:
            problems.append("%s holds %d bytes, not block %d (%d bytes)" % (name, len(content), i + 1, len(want)))
    if not unfinished:
        return problems
    last = "out%03d.tap" % (first + len(blocks))
    path = os.path.join(directory, last)
    if not os.path.exists(path):
        problems.append("%s (the unfinished file) missing" % last)
    else:
        with open(path, "rb") as f:
            content = f.read()
        if content != PLACEHOLDER:
            problems.append("%s holds %r, not the placeholder" % (last, content[:8]))
    return problems


def back(blocks, directory, first):
    """A block lost on the way moves the ones after it to lower numbers, and a glitch can add an
    empty block; neither makes those blocks lost, so they are looked for in every file from first on."""
    held = collections.Counter()
    for name in os.listdir(directory):
        match = re.fullmatch(r"out(\d{3,})\.tap", name)
        if match and int(match.group(1)) >= first:
            with open(os.path.join(directory, name), "rb") as f:
                held[f.read()] += 1
    wanted = collections.Counter(struct.pack("<H", len(block)) + block for block in blocks)
    return sum(min(count, held[content]) for content, count in wanted.items())


def shift(source, target):
    """High level 200 to 60, low 56 to 20, silence stays 128: with BaseLine 128 everything but
    silence is low and nothing decodes; with 44 the tape decodes as before."""
    table = bytearray(range(256))
    for value in range(256):
        if value < 128:
            table[value] = 20
        elif value > 128:
            table[value] = 60
    with open(source, "rb") as f, open(target, "wb") as g:
        while True:
            chunk = f.read(1 << 20)
            if not chunk:
                break
            g.write(chunk.translate(bytes(table)))


def order(directory, first, count):
    problems = []
    for k, block in enumerate(counter_tape(count)):
        name = "out%03d.tap" % (first + k)
        path = os.path.join(directory, name)
        if not os.path.exists(path):
            problems.append("%s missing" % name)
            continue
        with open(path, "rb") as f:
            content = f.read()
        if content != struct.pack("<H", len(block)) + block:
            held = content[3] | content[4] << 8 if len(content) >= 5 else -1
            if held == k:
                problems.append("%s holds counter block %d damaged (%d bytes, %d expected)"
                                % (name, k, len(content), len(block) + 2))
            else:
                problems.append("%s is not counter block %d (it holds %d)" % (name, k, held))
    return problems


def stamped(pane, log):
    """Every pane line is "hh:mm:ss " and a message; the messages are the log's lines."""
    if not pane.endswith(b"\r\n") or not log.endswith(b"\r\n"):
        return ["the pane or the log does not end in CR LF"]
    lines, messages, problems = pane.split(b"\r\n")[:-1], log.split(b"\r\n")[:-1], []
    for number, line in enumerate(lines, 1):
        if len(line) < 9 or line[2:3] != b":" or line[5:6] != b":" or line[8:9] != b" ":
            problems.append("pane line %d %r has no time stamp" % (number, line[:20]))
            continue
        try:
            hour, minute, second = int(line[0:2]), int(line[3:5]), int(line[6:8])
        except ValueError:
            problems.append("pane line %d %r has no time stamp" % (number, line[:20]))
            continue
        if hour > 23 or minute > 59 or second > 59:
            problems.append("pane line %d has the time %r" % (number, line[:8]))
    bare = [line[9:] for line in lines]
    if bare != messages:
        for number, (got, want) in enumerate(zip(bare, messages), 1):
            if got != want:
                problems.append("line %d: pane %r, log %r" % (number, got, want))
                break
        else:
            problems.append("pane has %d lines, log %d" % (len(bare), len(messages)))
    return problems


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    out = sys.stdout.buffer
    if command == "make":
        for name, make in TAPES.items():
            with open(os.path.join(argv[2], name), "wb") as f:
                f.write(tap_image(make()))
    elif command == "seed":
        blocks = {3: header(0, "seeded", 1234, 10, 1234), 10: data(pattern(300, 9))}
        for number, block in blocks.items():
            with open(os.path.join(argv[2], "out%03d.tap" % number), "wb") as f:
                f.write(struct.pack("<H", len(block)) + block)
    elif command == "fill":
        for number in range(1, int(argv[3]) + 1):
            block = filler(number)
            with open(os.path.join(argv[2], "out%03d.tap" % number), "wb") as f:
                f.write(struct.pack("<H", len(block)) + block)
    elif command == "describe":
        for name in argv[3:]:
            out.write(describe(os.path.join(argv[2], name)) + b"\n")
    elif command == "headers":
        with open(argv[2], "rb") as f:
            for line in header_lines(parse_tap(f.read())):
                out.write(line + b"\n")
    elif command == "verify":
        with open(argv[2], "rb") as f:
            problems = verify(parse_tap(f.read()), argv[3], int(argv[4]))
        print("; ".join(problems))
        return 1 if problems else 0
    elif command == "blocks":
        with open(argv[2], "rb") as f:
            blocks = parse_tap(f.read())[:int(argv[5])]
        problems = verify(blocks, argv[3], int(argv[4]), unfinished=False)
        print("; ".join(problems))
        return 1 if problems else 0
    elif command == "back":
        with open(argv[2], "rb") as f:
            blocks = parse_tap(f.read())[:int(argv[5])]
        print(back(blocks, argv[3], int(argv[4])))
    elif command == "shift":
        shift(argv[2], argv[3])
    elif command == "counter":
        with open(argv[2], "wb") as f:
            f.write(tap_image(counter_tape(int(argv[3]))))
    elif command == "order":
        problems = order(argv[2], int(argv[3]), int(argv[4]))
        print("; ".join(problems[:5]) + (" (and %d more)" % (len(problems) - 5) if len(problems) > 5 else ""))
        return 1 if problems else 0
    elif command == "stamped":
        with open(argv[2], "rb") as f, open(argv[3], "rb") as g:
            problems = stamped(f.read(), g.read())
        print("; ".join(problems[:3]))
        return 1 if problems else 0
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
