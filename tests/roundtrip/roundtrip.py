#!/usr/bin/env python3
"""Round trip through the two programs: TAP files rendered by quorvane-tapgen, the recordings decoded
by quorvane-decode, and every block compared byte for byte with the out%03i.tap it came back as.

    roundtrip.py --tapgen PATH --decode PATH [unittest arguments]

Each decode runs in a fresh directory, so the numbering starts at out001.tap.
"""
import argparse
import os
import random
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
SAMPLE = os.path.join(ROOT, "samples", "sinclair.tap")
MAKE_SAMPLE = os.path.join(ROOT, "tools", "make_sample.py")

# The TAP building blocks the Wine checks use too.
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
from tapes import data, header, parse_tap, tap_image  # noqa: E402

TAPGEN = None
DECODE = None

CRC_ERROR = b"Warning! CRC summ error "
CRC_OK = b"CRC summ ok"
SPEEDS = (0.9, 1.0, 1.1)

# What quorvane-tapgen renders by default: a second of silence around blocks, its two levels, and
# the pilot lengths in half-waves.
SECOND = 44100
HIGH, LOW = 200, 56
PILOT_HEADER, PILOT_DATA = 8063, 3223


class Decoded:
    """The outcome of one decode: the TAPE directory's files and status.log."""

    def __init__(self, tape_dir):
        self.tape_dir = tape_dir
        with open(os.path.join(tape_dir, "status.log"), "rb") as f:
            self.log = f.read()

    def tap(self, number):
        path = os.path.join(self.tape_dir, "out%03i.tap" % number)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()


class RoundTrip(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory(prefix="qv-roundtrip-")
        self.addCleanup(self.work.cleanup)

    def run_tool(self, args, cwd=None):
        return subprocess.run(args, cwd=cwd or self.work.name, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)

    def render(self, tap_path, pcm_path, *options):
        result = self.run_tool([TAPGEN, tap_path, pcm_path] + list(options))
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        return result

    def decode(self, pcm_path, name):
        cwd = os.path.join(self.work.name, name)
        os.mkdir(cwd)
        result = self.run_tool([DECODE, pcm_path], cwd=cwd)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        return Decoded(os.path.join(cwd, "TAPE"))

    def render_tap(self, blocks, name, pcm_path, *options):
        tap_path = os.path.join(self.work.name, name + ".tap")
        with open(tap_path, "wb") as f:
            f.write(tap_image(blocks))
        self.render(tap_path, pcm_path, *options)

    def round_trip(self, blocks, name, *options):
        pcm_path = os.path.join(self.work.name, name + ".pcm")
        self.render_tap(blocks, name, pcm_path, *options)
        return self.decode(pcm_path, name)

    def assert_blocks(self, decoded, blocks):
        for number, block in enumerate(blocks, start=1):
            tap = decoded.tap(number)
            self.assertIsNotNone(tap, "out%03i.tap missing" % number)
            self.assertEqual(tap[:2], struct.pack("<H", len(block) & 0xFFFF), "out%03i.tap length" % number)
            self.assertEqual(len(tap) - 2, len(block), "out%03i.tap size" % number)
            if tap[2:] != block:
                at = next(i for i in range(len(block)) if tap[2 + i] != block[i])
                self.fail("out%03i.tap differs first at block byte %i" % (number, at))
        # The end of the recording cuts the next, still empty, block short: at most its unfinished
        # file with the placeholder length, nothing beyond.
        trailing = decoded.tap(len(blocks) + 1)
        self.assertIn(trailing, (None, b"  "))
        self.assertIsNone(decoded.tap(len(blocks) + 2))

    def test_sample_tape(self):
        with open(SAMPLE, "rb") as f:
            blocks = parse_tap(f.read())
        self.assertEqual(len(blocks), 4)
        for speed in SPEEDS:
            with self.subTest(speed=speed):
                pcm = os.path.join(self.work.name, "sample-%s.pcm" % speed)
                self.render(SAMPLE, pcm, "--speed", str(speed))
                decoded = self.decode(pcm, "sample-%s" % speed)
                self.assert_blocks(decoded, blocks)
                self.assertEqual(decoded.log.count(CRC_OK), 4)
                self.assertNotIn(CRC_ERROR, decoded.log)
                self.assertIn(b"Program:sinclair  \r\n", decoded.log)
                self.assertIn(b"Bytes:message   \r\n", decoded.log)

    def test_extreme_levels(self):
        # 128 against 127: the smallest swing there is, a sample equal to the base line counting high.
        for high, low in (("255", "0"), ("128", "127")):
            with self.subTest(high=high, low=low):
                pcm = os.path.join(self.work.name, "levels-%s.pcm" % high)
                self.render(SAMPLE, pcm, "--high", high, "--low", low)
                with open(SAMPLE, "rb") as f:
                    self.assert_blocks(self.decode(pcm, "levels-%s" % high), parse_tap(f.read()))

    def test_headers_and_screen(self):
        rng = random.Random(6912)
        screen = bytes(rng.randrange(256) for _ in range(6912))
        table = bytes(rng.randrange(256) for _ in range(300))
        blocks = [
            header(3, "screen", len(screen), 16384),
            data(screen),
            header(1, "table", len(table)),
            data(table),
            data(b""),      # a block of the flag and its checksum only
            data(bytes(1024)),
        ]
        for speed in SPEEDS:
            with self.subTest(speed=speed):
                decoded = self.round_trip(blocks, "screen-%s" % speed, "--speed", str(speed))
                self.assert_blocks(decoded, blocks)
                self.assertEqual(decoded.log.count(CRC_OK), len(blocks))
                self.assertIn(b"Bytes:screen    \r\nBlock size=6912\r\n", decoded.log)
                self.assertIn(b"Array:table     \r\nBlock size=300\r\n", decoded.log)

    def test_block_over_64k(self):
        rng = random.Random(70000)
        block = data(bytes(rng.randrange(256) for _ in range(70000 - 2)))
        pcm = os.path.join(self.work.name, "long.pcm")
        self.render_spliced(block, 40000, pcm)
        decoded = self.decode(pcm, "long")
        self.assert_blocks(decoded, [block])
        self.assertIn(b"Read 68 Kb\r\n", decoded.log)
        self.assertNotIn(b"Read 69 Kb", decoded.log)
        self.assertIn(b"Read 70000 bytes\r\nCRC summ ok\r\n", decoded.log)

    def render_spliced(self, block, cut, pcm):
        """A TAP file cannot hold a block over 0xFFFF bytes, so its two parts are rendered as blocks
        of their own and spliced: the first part's signal without the silence after it, then the
        second part's data bits without its silence, pilot and sync. The first part ends on a low
        half-wave and every bit starts high, so the splice is one more ordinary edge."""
        head, tail = block[:cut], block[cut:]
        self.render_tap([head], "long-head", pcm + ".head")
        self.render_tap([tail], "long-tail", pcm + ".tail")
        with open(pcm + ".head", "rb") as f:
            first = f.read()[:-SECOND]
        with open(pcm + ".tail", "rb") as f:
            second = f.read()
        pilot = PILOT_HEADER if tail[0] < 128 else PILOT_DATA
        at = SECOND
        for _ in range(pilot + 2):
            at = second.find(bytes([LOW if second[at] == HIGH else HIGH]), at)
        with open(pcm, "wb") as f:
            f.write(first)
            f.write(second[at:])

    def test_bad_checksum(self):
        good = data(b"good block")
        bad = bytearray(data(b"bad block"))
        bad[-1] ^= 0x5A
        bad = bytes(bad)
        blocks = [good, bad, header(0, "after", 10)]
        decoded = self.round_trip(blocks, "crc")
        self.assert_blocks(decoded, blocks)
        self.assertEqual(decoded.log.count(CRC_ERROR + b"\r\n"), 1)
        self.assertEqual(decoded.log.count(CRC_OK), 2)
        before_error = decoded.log.split(CRC_ERROR)[0]
        self.assertEqual(before_error.count(b"out002.tap"), 0)
        self.assertIn(b"out001.tap", before_error)

    def test_make_sample_reproduces_the_bundled_tape(self):
        out = os.path.join(self.work.name, "remade.tap")
        result = self.run_tool([sys.executable, MAKE_SAMPLE, out])
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        with open(out, "rb") as remade, open(SAMPLE, "rb") as bundled:
            self.assertEqual(remade.read(), bundled.read())


class TapgenCommandLine(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory(prefix="qv-tapgen-")
        self.addCleanup(self.work.cleanup)

    def tapgen(self, *args):
        return subprocess.run([TAPGEN] + list(args), cwd=self.work.name, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)

    def test_summary_and_missing_output_directory(self):
        result = self.tapgen(SAMPLE, "TAPE/sinclair.pcm")
        self.assertEqual(result.returncode, 0, result.stderr)
        size = os.path.getsize(os.path.join(self.work.name, "TAPE", "sinclair.pcm"))
        self.assertEqual(result.stdout.decode(),
                         "TAPE/sinclair.pcm: 4 blocks, %i samples, %.2f seconds\n" % (size, size / 44100))

    def test_missing_input_is_named(self):
        result = self.tapgen("nowhere.tap", "out.pcm")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"nowhere.tap", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.work.name, "out.pcm")))

    def test_truncated_tap_names_block_and_offset(self):
        with open(SAMPLE, "rb") as f:
            image = f.read()
        cut = os.path.join(self.work.name, "cut.tap")
        with open(cut, "wb") as f:
            f.write(image[:21 + 2 + 10])
        result = self.tapgen(cut, "out.pcm")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"block 2 at offset 21", result.stderr)

    def test_unwritable_output(self):
        result = self.tapgen(SAMPLE, self.work.name)
        self.assertEqual(result.returncode, 1)
        self.assertIn(self.work.name.encode(), result.stderr)

    def test_bad_usage(self):
        for args in ((), (SAMPLE,), (SAMPLE, "o.pcm", "--speed", "x"), (SAMPLE, "o.pcm", "--high", "127"),
                     (SAMPLE, "o.pcm", "--low", "128"), (SAMPLE, "o.pcm", "--pilot", "1")):
            with self.subTest(args=args):
                self.assertEqual(self.tapgen(*args).returncode, 2)


def main():
    global TAPGEN, DECODE
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--tapgen", required=True)
    parser.add_argument("--decode", required=True)
    known, rest = parser.parse_known_args()
    TAPGEN = os.path.abspath(known.tapgen)
    DECODE = os.path.abspath(known.decode)
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
