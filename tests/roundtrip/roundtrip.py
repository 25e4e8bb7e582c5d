#!/usr/bin/env python3
"""Round trip through the two programs: TAP files rendered by quorvane-tapgen, the recordings decoded
by quorvane-decode, and every block compared byte for byte with the out%03i.tap it came back as.

    roundtrip.py --tapgen PATH --decode PATH [unittest arguments]

Each decode runs in a fresh directory, so the numbering starts at out001.tap.
"""
import os
import random
import sys
import unittest

from runner import CRC_ERROR, CRC_OK, ROOT, SAMPLE, Case, main, sample_blocks
from tapes import data, header, spoil

MAKE_SAMPLE = os.path.join(ROOT, "tools", "make_sample.py")
SPEEDS = (0.9, 1.0, 1.1)

# What quorvane-tapgen renders by default: a second of silence around blocks, its two levels, and
# the pilot lengths in half-waves.
SECOND = 44100
HIGH, LOW = 200, 56
PILOT_HEADER, PILOT_DATA = 8063, 3223


class RoundTrip(Case):
    def round_trip(self, blocks, name, *options):
        return self.decode(self.render(blocks, name, *options))

    def test_sample_tape(self):
        blocks = sample_blocks()
        self.assertEqual(len(blocks), 4)
        for speed in SPEEDS:
            with self.subTest(speed=speed):
                decoded = self.decode(self.render(SAMPLE, "sample-%s" % speed, "--speed", speed))
                self.assert_blocks(decoded, blocks)
                self.assertEqual(decoded.log.count(CRC_OK), 4)
                self.assertNotIn(CRC_ERROR, decoded.log)
                self.assertIn(b"Program:sinclair  \r\n", decoded.log)
                self.assertIn(b"Bytes:message   \r\n", decoded.log)

    def test_extreme_levels(self):
        # 128 against 127: the smallest swing there is, a sample equal to the base line counting high.
        for high, low in (("255", "0"), ("128", "127")):
            with self.subTest(high=high, low=low):
                pcm = self.render(SAMPLE, "levels-%s" % high, "--high", high, "--low", low)
                self.assert_blocks(self.decode(pcm), sample_blocks())

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
        decoded = self.decode(self.render_spliced(block, 40000))
        self.assert_blocks(decoded, [block])
        self.assertIn(b"Read 68 Kb\r\n", decoded.log)
        self.assertNotIn(b"Read 69 Kb", decoded.log)
        self.assertIn(b"Read 70000 bytes\r\nCRC summ ok\r\n", decoded.log)

    def render_spliced(self, block, cut):
        """A TAP file cannot hold a block over 0xFFFF bytes, so its two parts are rendered as blocks
        of their own and spliced: the first part's signal without the silence after it, then the
        second part's data bits without its silence, pilot and sync. The first part ends on a low
        half-wave and every bit starts high, so the splice is one more ordinary edge."""
        head, tail = block[:cut], block[cut:]
        with open(self.render([head], "long-head"), "rb") as f:
            first = f.read()[:-SECOND]
        with open(self.render([tail], "long-tail"), "rb") as f:
            second = f.read()
        pilot = PILOT_HEADER if tail[0] < 128 else PILOT_DATA
        at = SECOND
        for _ in range(pilot + 2):
            at = second.find(bytes([LOW if second[at] == HIGH else HIGH]), at)
        pcm = self.path("long.pcm")
        with open(pcm, "wb") as f:
            f.write(first)
            f.write(second[at:])
        return pcm

    def test_bad_checksum(self):
        good = data(b"good block")
        blocks = [good, spoil(data(b"bad block")), header(0, "after", 10)]
        decoded = self.round_trip(blocks, "crc")
        self.assert_blocks(decoded, blocks)
        self.assertEqual(decoded.log.count(CRC_ERROR + b"\r\n"), 1)
        self.assertEqual(decoded.log.count(CRC_OK), 2)
        before_error = decoded.log.split(CRC_ERROR)[0]
        self.assertEqual(before_error.count(b"out002.tap"), 0)
        self.assertIn(b"out001.tap", before_error)

    def test_make_sample_reproduces_the_bundled_tape(self):
        out = self.path("remade.tap")
        result = self.run_tool([sys.executable, MAKE_SAMPLE, out])
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        with open(out, "rb") as remade, open(SAMPLE, "rb") as bundled:
            self.assertEqual(remade.read(), bundled.read())


class TapgenCommandLine(Case):
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


if __name__ == "__main__":
    main()
