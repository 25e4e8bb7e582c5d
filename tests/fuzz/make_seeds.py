#!/usr/bin/env python3
# Writes the fuzz targets' seed corpora (corpus-decoder/, corpus-catalogue/, corpus-audio/,
# corpus-plays/ beside this script): small recordings that reach every stage of the decoder under
# the default and under odd thresholds, TAP files of every kind the catalogue tells apart, a short
# tape in the audio formats the console decoder reads (converted with sox), and two plays of a
# short tape for the rescue decoder. Run it again after changing it; the
# fuzzers only read these files.
import os
import random
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULTS = [21, 36, 300, 4, 18, 15, 28, 33, 54, 128]  # PilotMin ... OneMax, BaseLine


class Signal:
    """Samples built half-wave by half-wave, starting on the high side, at the ROM timings."""

    def __init__(self):
        self.samples = bytearray()
        self.high = True

    def half(self, length):
        self.samples += bytes([200 if self.high else 56]) * length
        self.high = not self.high
        return self

    def pilot(self, count, length=27):
        for _ in range(count):
            self.half(length)
        return self

    def byte(self, value):
        for bit in range(7, -1, -1):
            length = 22 if value >> bit & 1 else 11
            self.half(length).half(length)
        return self

    def block(self, data, pilot=400):
        self.pilot(pilot).half(8).half(9)
        for value in data:
            self.byte(value)
        return self.half(60).half(300)


def with_checksum(flag, payload):
    block = bytes([flag]) + bytes(payload)
    check = 0
    for value in block:
        check ^= value
    return block + bytes([check])


def header(kind, name, length):
    payload = bytes([kind]) + name.ljust(10)[:10] + struct.pack('<HHH', length, 10, 0x8000)
    return with_checksum(0x00, payload)


def settings(values):
    return b''.join(struct.pack('<i', v) for v in values)


def write(corpus, name, data):
    path = os.path.join(HERE, corpus, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as out:
        out.write(data)


def decoder_seeds():
    rng = random.Random(1)
    s = Signal()
    s.block(header(3, b'SCREEN', 6912)).block(with_checksum(0xFF, range(40)))
    s.pilot(400).half(8).half(9).byte(0x11).half(3)  # the recording ends inside a block
    write('corpus-decoder', 'defaults-header-data-cut', settings(DEFAULTS) + s.samples)

    short = DEFAULTS[:]
    short[2] = 8  # PilotWait: blocks after a few pilot half-periods keep the inputs small
    s = Signal()
    s.block(header(0, b'MYGAME', 1234), pilot=12).block(with_checksum(0xFF, [1, 2, 3]), pilot=12)
    s.pilot(12).half(8).half(9).half(60).half(300)  # an empty block
    s.block(with_checksum(0xFF, [7, 7]) + b'\x01', pilot=12)  # a bad checksum
    write('corpus-decoder', 'short-pilot-blocks', settings(short) + s.samples)

    s = Signal()
    s.pilot(12).half(40).pilot(12).half(8).half(30).pilot(12).half(8).half(9).half(300)
    write('corpus-decoder', 'short-pilot-breaks', settings(short) + s.samples)

    noise = bytes(rng.randrange(256) for _ in range(4000))
    inverted = [36, 21, 1, 18, 4, 28, 15, 54, 33, 128]  # every minimum above its maximum
    write('corpus-decoder', 'inverted-ranges', settings(inverted) + noise)
    open_ranges = [-5, 1000, 0, -1, 1000, -2, 1000, -2, 1000, 0]  # everything matches, BaseLine 0
    write('corpus-decoder', 'open-ranges', settings(open_ranges) + noise)
    huge = [21, 36, 0x7FFFFFFF, 4, 18, 15, 28, 33, 54, 0x7FFFFFFF]  # huge PilotWait, BaseLine 255
    write('corpus-decoder', 'huge-wait', settings(huge) + noise[:500])
    overlap = [21, 36, 8, 4, 18, 15, 60, 15, 60, 300]  # overlapping bit ranges, BaseLine 300 = 44
    s = Signal()
    s.block(with_checksum(0xFF, [0x55, 0xAA]), pilot=12)
    write('corpus-decoder', 'overlapping-bits', settings(overlap) + s.samples)
    write('corpus-decoder', 'settings-only', settings(DEFAULTS))
    write('corpus-decoder', 'empty', b'')


def catalogue_seeds():
    def tap(block):
        return struct.pack('<H', len(block) & 0xFFFF) + block

    cases = {
        'program-header': (0x00, tap(header(0, b'MYGAME', 1234))),
        'array-header': (0x11, tap(header(1, b'NUMBERS', 50))),
        'bytes-header': (0x22, tap(header(3, b'SCREEN', 6912))),
        'unknown-type-header': (0x33, tap(header(7, b'ODD', 3))),
        'name-with-zero': (0xF4, tap(header(0, b'AB\x00CDEFGHI', 9))),
        'data-flag-21-bytes': (0x85, tap(with_checksum(0xFF, range(17)))),
        'data-block': (0x96, tap(with_checksum(0xFF, range(200)))),
        'placeholder-only': (0xA7, b'\x20\x20'),
        'unfinished': (0xB8, b'\x20\x20\x00\x03'),
        'one-byte': (0xC9, b'\x13'),
        'twenty-bytes': (0xDA, tap(header(0, b'SHORT', 1))[:20]),
        'twenty-two-bytes': (0xEB, tap(header(0, b'LONG', 1)) + b'\x00'),
        'empty': (0x0C, b''),
    }
    for name, (layout, contents) in cases.items():
        write('corpus-catalogue', name, bytes([layout]) + contents)


def audio_seeds():
    """Three bytes of run settings (channel choice, BaseLine, PilotWait) before each file."""
    s = Signal()
    s.block(header(3, b'AUDIO', 3), pilot=12).block(with_checksum(0xFF, [1, 2, 3]), pilot=12)
    formats = {
        'wav-u8-mono': ['-t', 'wav', '-b', '8'],
        'wav-s16-stereo-48k': ['-t', 'wav', '-b', '16', '-c', '2', '-r', '48000'],
        'wav-s24-96k': ['-t', 'wav', '-b', '24', '-r', '96000'],
        'wav-float': ['-t', 'wav', '-e', 'floating-point', '-b', '32'],
        'w64-u8': ['-t', 'w64', '-b', '8'],
        'aiff-s8': ['-t', 'aiff', '-b', '8'],
        'au-s16-22k': ['-t', 'au', '-b', '16', '-r', '22050'],
        'caf-s8': ['-t', 'caf', '-b', '8'],
        'flac-16': ['-t', 'flac', '-b', '16'],
        'ogg-stereo': ['-t', 'ogg', '-c', '2'],
    }
    with tempfile.TemporaryDirectory() as work:
        raw = os.path.join(work, 'tape.pcm')
        with open(raw, 'wb') as out:
            out.write(s.samples)
        for name, options in formats.items():
            made = os.path.join(work, name)
            subprocess.run(['sox', '-D', '-t', 'raw', '-r', '44100', '-e', 'unsigned', '-b', '8', '-c', '1', raw]
                           + options + [made], check=True)
            with open(made, 'rb') as f:
                contents = f.read()
            write('corpus-audio', name, bytes([name.count('stereo') * 2, 128, 8]) + contents)
    write('corpus-audio', 'raw', bytes([0, 128, 8]) + s.samples)
    write('corpus-audio', 'empty', b'')


def plays_seeds():
    """A byte that says where the first play ends, then both plays' samples."""
    def play(blocks):
        s = Signal()
        s.pilot(40)  # the deck starting: no pilot yet
        for block in blocks:
            s.block(block, pilot=300).pilot(0)
        return bytes(s.samples) + bytes([128]) * 500

    head, body = header(3, b'PLAYS', 6), with_checksum(0xFF, [9, 8, 7, 6, 5, 4])
    spoilt = body[:3] + bytes([body[3] ^ 0x10]) + body[4:]
    for name, first, second in (('same-tape', [head, body], [spoilt]),
                                ('both-bad', [head, spoilt], [head, body[:5] + b'\x00' + body[6:]]),
                                ('other-tape', [head, body], [with_checksum(0xFF, [1, 1, 2, 3])])):
        a, b = play(first), play(second)
        write('corpus-plays', name, bytes([len(a) * 256 // (len(a) + len(b))]) + a + b)


decoder_seeds()
catalogue_seeds()
audio_seeds()
plays_seeds()
