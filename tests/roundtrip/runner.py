"""What the round trips share: the two programs named on the command line, a fresh directory per test
and per decode (so the numbering starts at out001.tap), and the block-by-block comparison.

    SCRIPT --tapgen PATH --decode PATH [unittest arguments]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
SAMPLE = os.path.join(ROOT, "samples", "sinclair.tap")
sys.path.insert(0, os.path.join(ROOT, "tests"))
import tapes  # noqa: E402

PROGRAMS = {}
CRC_OK = b"CRC summ ok"
CRC_ERROR = b"Warning! CRC summ error "


class Decoded:
    """The outcome of one decode: the TAPE directory's files and status.log (None when not made)."""

    def __init__(self, cwd, result):
        self.cwd = cwd
        self.result = result
        self.tape_dir = os.path.join(cwd, "TAPE")
        path = os.path.join(self.tape_dir, "status.log")
        self.log = tapes.read(path) if os.path.exists(path) else None

    def tap(self, number):
        path = os.path.join(self.tape_dir, "out%03i.tap" % number)
        return tapes.read(path) if os.path.exists(path) else None


class Case(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory(prefix="qv-roundtrip-")
        self.addCleanup(self.work.cleanup)
        self.runs = 0

    def path(self, name):
        return os.path.join(self.work.name, name)

    def run_tool(self, args, cwd=None):
        return subprocess.run(args, cwd=cwd or self.work.name, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def tapgen(self, *args):
        return self.run_tool([PROGRAMS["tapgen"]] + [str(a) for a in args])

    def render(self, blocks, name, *options):
        """blocks (or a TAP file's path) as the raw recording NAME.pcm."""
        try:
            return tapes.render(PROGRAMS["tapgen"], blocks, self.path(name + ".pcm"), *options)
        except subprocess.CalledProcessError as error:
            self.fail(error.stderr.decode(errors="replace"))

    def convert(self, pcm, out, options):
        try:
            return tapes.convert(pcm, self.path(out), *options)
        except subprocess.CalledProcessError as error:
            self.fail(error.stderr.decode(errors="replace"))

    def decode(self, recording, *options, expect=0):
        self.runs += 1
        cwd = self.path("run%i" % self.runs)
        os.mkdir(cwd)
        result = self.run_tool([PROGRAMS["decode"], recording] + list(options), cwd=cwd)
        self.assertEqual(result.returncode, expect, result.stderr.decode(errors="replace"))
        return Decoded(cwd, result)

    def assert_blocks(self, decoded, blocks):
        # The end of the recording cuts the next, still empty, block short: at most its unfinished
        # file with the placeholder length, nothing beyond.
        self.assertEqual(tapes.verify(blocks, decoded.tape_dir, 1, False), [])
        self.assertIn(decoded.tap(len(blocks) + 1), (None, tapes.PLACEHOLDER))
        self.assertIsNone(decoded.tap(len(blocks) + 2))


def sample_blocks():
    return tapes.read_tap(SAMPLE)


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--tapgen", required=True)
    parser.add_argument("--decode", required=True)
    known, rest = parser.parse_known_args()
    PROGRAMS.update(tapgen=os.path.abspath(known.tapgen), decode=os.path.abspath(known.decode))
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest)
