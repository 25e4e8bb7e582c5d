#!/usr/bin/env python3
"""quorvane-decode --histogram, looked at as a user sees it: the SVG rendered to pixels by an SVG
renderer (rsvg-convert, or ImageMagick where it reads SVG), and the picture read back.

    check_render.py --decode PATH --tapgen PATH [--keep DIR]
    check_render.py --picture PNG --recording RAW [--set NAME=VALUE]...

A tape (the bundled sample, rendered by quorvane-tapgen) is decoded with thresholds other than the
defaults. Its half-waves are counted here, from the raw samples, as the default decoder measures
them; in the rendered picture every length's bar must stand as high as its count says on the log
axis (from 0.1 to the decade at or above the largest count), a length with no half-wave must have
no bar, and each threshold's lane must be shaded over the lengths it takes. The plot is found by
its axes, the bars and lanes by their colours.

The second form looks at a picture drawn elsewhere (the window's, cut out of a screenshot) of the
raw recording RAW, against the thresholds THRESHOLDS below with those --set changes, which the
window's settings fields were given.

Exit status 0 when all holds, 1 when not, 77 when no SVG renderer is installed (ctest: skipped).
"""
import argparse
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "..", "samples", "sinclair.tap")
INK = (0x20, 0x20, 0x20)
BAR = (0x20, 0x60, 0xC0)
LANES = {"Pilot": (0xE0, 0xA0, 0x20), "Sync": (0xD0, 0x40, 0x40), "Zero": (0x40, 0xA0, 0x40),
         "One": (0x90, 0x50, 0xC0)}
THRESHOLDS = {"PilotMin": 23, "PilotMax": 33, "SyncMin": 5, "SyncMax": 13, "ZeroMin": 16, "ZeroMax": 27,
              "OneMin": 34, "OneMax": 50}
TIMEOUT = 200  # samples on one side after which the decoder gives a half-wave up


def half_waves(samples, base_line=128):
    """Every length the default decoder measures, as it measures them one sample at a time."""
    counts = [0] * 61
    polarity, run = 1, 0
    for sample in samples:
        if (1 if sample >= base_line else -1) != polarity:
            if 0 < run <= 60:
                counts[run] += 1
            run, polarity = 1, -polarity
        else:
            run += 1
            if run > TIMEOUT:
                run = 0
    return counts


def render(svg, png):
    """The SVG as a PNG; False when nothing here renders SVG."""
    if shutil.which("rsvg-convert"):
        subprocess.run(["rsvg-convert", "-o", png, svg], check=True)
        return True
    if shutil.which("convert"):
        formats = subprocess.run(["convert", "-list", "format"], capture_output=True, text=True).stdout
        if any(line.split()[:1] == ["SVG"] for line in formats.splitlines()):
            subprocess.run(["convert", svg, "png:" + png], check=True)
            return True
    return False


def read_png(path):
    """(width, height, rows of (r, g, b) tuples) of an 8-bit RGB or RGBA PNG without interlacing."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, "PNG of a kind not read here"
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b, c = previous[i], previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def longest_run(cells):
    """(start, length) of the longest run of True."""
    best, start = (0, 0), None
    for i, cell in enumerate(list(cells) + [False]):
        if cell and start is None:
            start = i
        elif not cell and start is not None:
            best = max(best, (i - start, start))
            start = None
    return best[1], best[0]


def check(png, counts, thresholds):
    width, height, rows = read_png(png)
    problems = []
    # The x axis is the longest row of ink, the y axis the longest column of it.
    axis_row = max(range(height), key=lambda y: longest_run(p == INK for p in rows[y])[1])
    left_ink, axis_length = longest_run(p == INK for p in rows[axis_row])
    axis_column = max(range(width), key=lambda x: longest_run(rows[y][x] == INK for y in range(height))[1])
    top, _ = longest_run(rows[y][axis_column] == INK for y in range(height))
    left, right, bottom = axis_column + 1, left_ink + axis_length, axis_row
    bar_width = (right - left) // 60
    if bar_width < 2 or right - left != 60 * bar_width:
        return ["no plot of 60 lengths found (axes at x %d, y %d, %d wide)" % (axis_column, axis_row, right - left)]
    most = max(counts[1:])
    decades = max(1, math.ceil(math.log10(most)))
    for n in range(1, 61):
        column = left + (n - 1) * bar_width
        bar = [y for y in range(top, bottom) if rows[y][column] == BAR]
        want = 0 if counts[n] == 0 else (bottom - top) * (math.log10(counts[n]) + 1) / (decades + 1)
        got = len(bar)
        if abs(got - want) > 1.5 or (bar and bar[-1] != bottom - 1):
            problems.append("length %d: %d half-waves, bar %d pixels high, not %.1f" % (n, counts[n], got, want))
    for name, colour in LANES.items():
        low, high = thresholds[name + "Min"], thresholds[name + "Max"]
        if name in ("Zero", "One"):
            low, high = (low - 0.5) / 2 + 0.5, (high + 0.5) / 2 - 0.5
        want = (left + round((low - 1) * bar_width), left + round(high * bar_width))
        spans = [longest_run(p == colour for p in row) for row in rows if colour in row]
        got = (spans[0][0], spans[0][0] + spans[0][1]) if spans else None
        if not spans or abs(got[0] - want[0]) > 1 or abs(got[1] - want[1]) > 1:
            problems.append("%s window %s..%s shaded over x %s, not %s" % (name, thresholds[name + "Min"],
                                                                         thresholds[name + "Max"], got, want))
    print("plot %dx%d at (%d, %d), %d pixels a length; %d lengths seen, the most %d half-waves" %
          (right - left, bottom - top, left, top, bar_width, sum(1 for c in counts[1:] if c), most))
    return problems


def report(problems, what):
    for problem in problems:
        print("FAIL " + problem)
    print("the %s %s" % (what, "is wrong" if problems else "shows the half-waves and thresholds"))
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--decode")
    parser.add_argument("--tapgen")
    parser.add_argument("--keep")
    parser.add_argument("--picture")
    parser.add_argument("--recording")
    parser.add_argument("--set", action="append", default=[])
    args = parser.parse_args()
    if args.picture:
        thresholds = dict(THRESHOLDS)
        for change in args.set:
            name, value = change.split("=")
            thresholds[name] = int(value)
        with open(args.recording, "rb") as f:
            counts = half_waves(f.read())
        return report(check(args.picture, counts, thresholds), "picture")
    if not args.decode or not args.tapgen:
        parser.error("--decode and --tapgen, or --picture and --recording")
    decode, tapgen = os.path.abspath(args.decode), os.path.abspath(args.tapgen)
    work = args.keep or tempfile.mkdtemp(prefix="qv-histogram-")
    os.makedirs(work, exist_ok=True)
    try:
        raw = os.path.join(work, "sample.pcm")
        subprocess.run([tapgen, SAMPLE, raw], check=True, stdout=subprocess.DEVNULL)
        options = [item for name, value in THRESHOLDS.items() for item in ("--" + name, str(value))]
        svg, png = os.path.join(work, "histogram.svg"), os.path.join(work, "histogram.png")
        subprocess.run([decode, raw, "--histogram", svg] + options, cwd=work, check=True,
                       stdout=subprocess.DEVNULL)
        if not render(svg, png):
            print("skipped: neither rsvg-convert nor an ImageMagick that reads SVG is installed")
            return 77
        with open(raw, "rb") as f:
            counts = half_waves(f.read())
        return report(check(png, counts, THRESHOLDS), "rendered histogram")
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
