#!/usr/bin/env python3
"""Makes samples/sinclair.tap, the bundled sample tape: a BASIC loader and the machine code it loads.

    python3 tools/make_sample.py [OUT.tap]

The tape is what a Spectrum would save with SAVE "sinclair" LINE 10 followed by
SAVE "message" CODE 32768,<length>: a program header and its data block, then a bytes header and its
data block. Turned into a recording with quorvane-tapgen and decoded again, it must give back these
four blocks as out001.tap to out004.tap.
"""
import os
import struct
import sys

# Spectrum BASIC keyword tokens used by the loader.
CLEAR, LOAD, CODE, RANDOMIZE, USR, PRINT = 0xFD, 0xEF, 0xAF, 0xF9, 0xC0, 0xF5

CODE_START = 32768


def number(value):
    """A numeric literal as BASIC stores it: the digits as typed, then 0x0E and the five-byte
    small-integer form (0, sign, value low and high, 0)."""
    assert 0 <= value <= 65535
    return str(value).encode("ascii") + bytes([0x0E, 0, 0]) + struct.pack("<H", value) + b"\x00"


def line(line_number, *parts):
    """One program line: number big-endian, text length little-endian, text ending in ENTER."""
    text = b"".join(bytes([p]) if isinstance(p, int) else p for p in parts) + b"\x0d"
    return struct.pack(">H", line_number) + struct.pack("<H", len(text)) + text


def message_code(text):
    """Z80 code at CODE_START printing text on the upper screen, then returning to BASIC."""
    code = bytes([
        0x3E, 0x02,          # ld a,2           stream 2, the upper screen
        0xCD, 0x01, 0x16,    # call CHAN-OPEN
        0x21, 0x00, 0x00,    # ld hl,message    (patched below)
        0x7E,                # next: ld a,(hl)
        0xB7,                # or a
        0xC8,                # ret z
        0xD7,                # rst 16           print the character in a
        0x23,                # inc hl
        0x18, 0xF9,          # jr next
    ])
    code = code[:6] + struct.pack("<H", CODE_START + len(code)) + code[8:]
    return code + text.encode("ascii") + b"\x0d\x00"


def header(kind, name, length, param1, param2):
    name = name.encode("ascii").ljust(10)
    assert len(name) == 10
    return bytes([0x00, kind]) + name + struct.pack("<HHH", length, param1, param2)


def with_checksum(block):
    check = 0
    for byte in block:
        check ^= byte
    return block + bytes([check])


def tape():
    program = b"".join([
        line(10, CLEAR, number(CODE_START - 1)),
        line(20, LOAD, b'""', CODE),
        line(30, RANDOMIZE, USR, number(CODE_START)),
        line(40, PRINT, b'"Loaded by Quorvane"'),
    ])
    code = message_code("Hello from the Quorvane sample tape")
    blocks = [
        header(0, "sinclair", len(program), 10, len(program)),
        b"\xff" + program,
        header(3, "message", len(code), CODE_START, 32768),
        b"\xff" + code,
    ]
    return b"".join(struct.pack("<H", len(b) + 1) + with_checksum(b) for b in blocks)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "samples", "sinclair.tap")
    with open(out, "wb") as f:
        f.write(tape())


if __name__ == "__main__":
    main()
