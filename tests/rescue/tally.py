#!/usr/bin/env python3
"""How many blocks of damaged tapes come back, from the default decoder and from --rescue.

    tally.py --tapesim PATH --decode PATH [--families a,b] [--strengths 1,2,3] [--seeds 1,2,3]
             [--cases family:strength,...] [--games] [--plays N] [--jobs N] [--keep DIR]
             [--require-rescue N] [--require-long N] [--quiet]

For every family, strength and seed the cassette simulator renders a tape of header and data blocks
as a damaged recording (a 16-bit WAV file; the "lossy" family passes a clean one through sox into Ogg
Vorbis at a low quality), and both decoders read it in a directory of their own. A block counts as
recovered when one of the files a decoder wrote holds it byte for byte. --cases names single families
at single strengths instead of every family at every strength. Prints a line per family and
strength, a line per family and the totals; extra files (junk a decoder wrote) are counted apart,
and so are the blocks --rescue reports "ok" or "repaired" whose file holds no block of the tape
(wrongly good). Then the blocks recovered by their length (under 1 KB, 1-10 KB, over 10 KB) per
family, and the blocks --rescue repaired by the checksum, each checked against the tape's own.

--games: every tape also carries a 48K game after its blocks, a header and a block of 40 to 48 KB
that plays for four to five minutes (a case then takes about half a minute; CI runs one).

--plays N: every tape is played N times (the simulator's --play: the tape's own drop-outs at the
same places in every play, the player's own damage drawn afresh for each). The default decoder and
--rescue read the first play; --rescue also reads each play alone (the best of those is printed) and
all N plays at once.

--require-rescue N: exit status 1 unless --rescue (with --plays, the plays read at once) recovers at
least N % of the blocks of every family at every strength, never fewer blocks than the default
decoder (with --plays, than the best single play), and calls no block wrongly good (with --plays,
neither one play alone nor all the plays at once) (the check CI runs on a few families).
--require-long N: the same for the blocks over 10 KB alone, N % of them in every family.
"""
import argparse
import concurrent.futures
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from tapes import data, header, simulate, tap_image  # noqa: E402

FAMILIES = ["clean", "hum", "hiss", "dropout", "click", "drift", "lowpass", "skew", "speed", "stereo",
            "lossy", "combined"]
# Ogg Vorbis quality and rate for the lossy family's strengths.
LOSSY = {1: ("0", None), 2: ("-1", None), 3: ("-1", "22050")}


# Blocks by their length, flag and checksum included: under 1 KB, 1-10 KB, over 10 KB.
LENGTHS = [("< 1 KB", 0, 1024), ("1-10 KB", 1024, 10240), ("> 10 KB", 10240, 1 << 20)]


def length_class(block):
    return next(k for k, (_, low, high) in enumerate(LENGTHS) if low <= len(block) < high)


def tape_blocks(seed, game=False):
    """A BASIC program with its header, a code block with its header, a headerless block: the kinds
    of block a tape carries, with contents and lengths from the seed; with game, then a 48K game's
    code with its header, as long as a game loaded into a 48K machine's memory is."""
    rng = random.Random(seed)
    basic = bytes(rng.randrange(256) for _ in range(rng.randrange(200, 700)))
    code = bytes(rng.randrange(256) for _ in range(rng.randrange(800, 2000)))
    loose = bytes(rng.randrange(256) for _ in range(rng.randrange(100, 400)))
    blocks = [
        header(0, "prog %d" % seed, len(basic), 10, len(basic)),
        data(basic),
        header(3, "code %d" % seed, len(code), 32768),
        data(code),
        data(loose, flag=0xFF),
    ]
    if game:
        body = bytes(rng.randrange(256) for _ in range(rng.randrange(40000, 48000)))
        blocks += [header(3, "game %d" % seed, len(body), 65536 - len(body)), data(body)]
    return blocks


def written_blocks(tape_dir):
    blocks = []
    if not os.path.isdir(tape_dir):
        return blocks
    for name in sorted(os.listdir(tape_dir)):
        if name.startswith("out") and name.endswith(".tap"):
            with open(os.path.join(tape_dir, name), "rb") as f:
                content = f.read()
            if len(content) > 2:
                blocks.append(content[2:])
    return blocks


class Column:
    """What one decoder run gave: blocks recovered by length class, extra files, blocks wrongly
    called good, and the blocks it repaired with how many of those are the tape's own."""

    def __init__(self):
        self.got = [0] * len(LENGTHS)
        self.extra = self.wrong = self.repaired = self.repaired_right = 0

    def add(self, other):
        self.got = [a + b for a, b in zip(self.got, other.got)]
        self.extra += other.extra
        self.wrong += other.wrong
        self.repaired += other.repaired
        self.repaired_right += other.repaired_right

    def total(self):
        return sum(self.got)


def recovered(blocks, written, column):
    left = list(written)
    for block in blocks:
        if block in left:
            left.remove(block)
            column.got[length_class(block)] += 1
    column.extra = len(left)


def judged(blocks, mode_dir, column):
    """The blocks the report calls ok or repaired whose file holds no block of the tape, and the
    repaired ones checked against the tape."""
    try:
        with open(os.path.join(mode_dir, "report.json"), encoding="utf-8") as f:
            report = json.load(f)
    except (OSError, ValueError):
        return
    for entry in report["blocks"]:
        if entry["checksum"] in ("ok", "repaired"):
            with open(os.path.join(mode_dir, "TAPE", entry["file"]), "rb") as f:
                right = f.read()[2:] in blocks
            column.wrong += not right
            if entry["checksum"] == "repaired":
                column.repaired += 1
                column.repaired_right += right


def decode(args, mode_dir, extra, recordings, blocks):
    """What one decoder run over the recordings gave (a Column)."""
    os.makedirs(mode_dir, exist_ok=True)
    report = ["--report", "report.json"] if "--rescue" in extra else []
    subprocess.run([args.decode] + extra + report + recordings, cwd=mode_dir, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    column = Column()
    recovered(blocks, written_blocks(os.path.join(mode_dir, "TAPE")), column)
    judged(blocks, mode_dir, column)
    return column


def render(args, cwd, tap, family, strength, seed, play):
    name = "play%d" % play if play else "tape"
    wav = os.path.join(cwd, name + ".wav")
    simulate(args.tapesim, tap, wav, "clean" if family == "lossy" else family, strength, seed,
             *(["--play", play] if play else []))
    if family == "lossy":
        quality, rate = LOSSY[strength]
        ogg = os.path.join(cwd, name + ".ogg")
        command = ["sox", wav]
        if rate:
            command += ["-r", rate]
        command += ["-C", quality, ogg]
        subprocess.run(command, check=True, stderr=subprocess.DEVNULL)
        os.remove(wav)
        wav = ogg
    return wav


def run_case(args, work, family, strength, seed):
    """The case's blocks by length class and its columns (default, rescue, and with --plays the
    best single play and the plays at once)."""
    case = "%s-%d-%d" % (family, strength, seed)
    cwd = os.path.join(work, case)
    os.makedirs(cwd, exist_ok=True)
    blocks = tape_blocks(seed * 100 + strength, args.games)
    tap = os.path.join(cwd, "tape.tap")
    with open(tap, "wb") as f:
        f.write(tap_image(blocks))
    if args.plays == 1:
        wav = render(args, cwd, tap, family, strength, seed, 0)
        columns = [decode(args, os.path.join(cwd, "default"), [], [wav], blocks),
                   decode(args, os.path.join(cwd, "rescue"), ["--rescue"], [wav], blocks)]
    else:
        plays = [render(args, cwd, tap, family, strength, seed, k) for k in range(1, args.plays + 1)]
        single = [decode(args, os.path.join(cwd, "rescue%d" % k), ["--rescue"], [play], blocks)
                  for k, play in enumerate(plays, 1)]
        # The best single play, with every single play's wrongly good blocks.
        best = Column()
        best.add(max(single, key=Column.total))
        best.wrong = sum(c.wrong for c in single)
        columns = [decode(args, os.path.join(cwd, "default"), [], plays[:1], blocks), single[0], best,
                   decode(args, os.path.join(cwd, "plays"), ["--rescue"], plays, blocks)]
    if not args.keep:
        shutil.rmtree(cwd)
    sizes = [0] * len(LENGTHS)
    for block in blocks:
        sizes[length_class(block)] += 1
    return family, strength, seed, sizes, columns


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tapesim", required=True)
    parser.add_argument("--decode", required=True)
    parser.add_argument("--families", default=",".join(FAMILIES))
    parser.add_argument("--strengths", default="1,2,3")
    parser.add_argument("--seeds", default="1,2,3")
    parser.add_argument("--cases", help="family:strength pairs, instead of --families and --strengths")
    parser.add_argument("--games", action="store_true")
    parser.add_argument("--plays", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--keep", help="leave the recordings and outputs in this directory")
    parser.add_argument("--require-rescue", type=float, default=None)
    parser.add_argument("--require-long", type=float, default=None)
    parser.add_argument("--quiet", action="store_true")
    args = parser.parse_args()
    args.tapesim = os.path.abspath(args.tapesim)
    args.decode = os.path.abspath(args.decode)
    if args.plays < 1:
        parser.error("--plays takes a number from 1")
    seeds = [int(s) for s in args.seeds.split(",")]
    if args.cases:
        pairs = [(c.split(":")[0], int(c.split(":")[1])) for c in args.cases.split(",")]
    else:
        pairs = [(f, int(s)) for f in args.families.split(",") for s in args.strengths.split(",")]
    for family, _ in pairs:
        if family not in FAMILIES:
            parser.error("unknown family %s" % family)
    families = list(dict.fromkeys(f for f, _ in pairs))
    names = ["default", "rescue"] if args.plays == 1 else ["default", "rescue", "best of %d" % args.plays,
                                                           "%d plays" % args.plays]

    work = os.path.abspath(args.keep) if args.keep else tempfile.mkdtemp(prefix="qv-tally-")
    os.makedirs(work, exist_ok=True)
    cases = [(f, s, seed) for f, s in pairs for seed in seeds]
    # Per family and strength: the blocks by length class, then the columns.
    table = {}
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            futures = [pool.submit(run_case, args, work, *case) for case in cases]
            for future in futures:
                family, strength, seed, sizes, columns = future.result()
                row = table.setdefault((family, strength), ([0] * len(LENGTHS), [Column() for _ in names]))
                for k, size in enumerate(sizes):
                    row[0][k] += size
                for mine, column in zip(row[1], columns):
                    mine.add(column)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    def pct(n, total):
        return 100.0 * n / total if total else 0.0

    def wrong_of(columns):
        # Wrongly good from --rescue on one play (with --plays, the best-of column sums them over
        # every play), and from the plays at once.
        return columns[1].wrong if args.plays == 1 else columns[2].wrong, columns[-1].wrong if args.plays > 1 else 0

    def line(family, strength, total, columns, extra):
        text = "%-10s %8s %7d" % (family, strength, total)
        for column in columns:
            text += " %6d %6.1f%%" % (column.total(), pct(column.total(), total))
        wrong = wrong_of(columns)
        text += " %9s" % ("%d" % wrong[0] if args.plays == 1 else "%d/%d" % wrong)
        if extra:
            text += "  " + "/".join(str(c.extra) for c in columns)
        print(text)

    def summed(rows):
        sizes, columns = [0] * len(LENGTHS), [Column() for _ in names]
        for row in rows:
            sizes = [a + b for a, b in zip(sizes, row[0])]
            for mine, column in zip(columns, row[1]):
                mine.add(column)
        return sizes, columns

    print("%-10s %8s %7s" % ("family", "strength", "blocks") + "".join(" %14s" % n for n in names) +
          " %9s  %s" % ("wrong ok" if args.plays == 1 else "wrong 1/%d" % args.plays, "extra " + "/".join(n.split()[0][0] for n in names)))
    problems = []
    by_family = {}
    for family in families:
        strengths = [s for f, s in pairs if f == family]
        for strength in strengths:
            sizes, columns = table[(family, strength)]
            total = sum(sizes)
            if not args.quiet:
                line(family, strength, total, columns, True)
            last, floor = columns[-1].total(), columns[2].total() if args.plays > 1 else columns[0].total()
            if args.require_rescue is not None:
                if pct(last, total) < args.require_rescue:
                    problems.append("%s at strength %d: rescue recovered %d of %d blocks" % (family, strength, last, total))
                if last < floor:
                    problems.append("%s at strength %d: rescue recovered %d blocks, the %s %d" %
                                    (family, strength, last, "best single play" if args.plays > 1 else "default", floor))
                if columns[1].total() < columns[0].total() and args.plays == 1:
                    problems.append("%s at strength %d: rescue below the default" % (family, strength))
                wrong = sum(wrong_of(columns))
                if wrong:
                    problems.append("%s at strength %d: %d blocks wrongly called good" % (family, strength, wrong))
        by_family[family] = summed(table[(family, s)] for s in strengths)
        line(family, "all", sum(by_family[family][0]), by_family[family][1], False)
        long_blocks, long_got = by_family[family][0][-1], by_family[family][1][-1].got[-1]
        if args.require_long is not None and long_blocks and pct(long_got, long_blocks) < args.require_long:
            problems.append("%s: rescue recovered %d of %d blocks over 10 KB" % (family, long_got, long_blocks))
    grand = summed(by_family.values())
    line("total", "", sum(grand[0]), grand[1], False)

    print()
    print("%-10s %8s %7s" % ("family", "length", "blocks") + "".join(" %14s" % n for n in names))
    for family, (sizes, columns) in list(by_family.items()) + [("total", grand)]:
        for k, (name, _, _) in enumerate(LENGTHS):
            if sizes[k]:
                print("%-10s %8s %7d" % (family, name, sizes[k]) +
                      "".join(" %6d %6.1f%%" % (c.got[k], pct(c.got[k], sizes[k])) for c in columns))
    print()
    for name, column in zip(names[1:], grand[1][1:]):
        print("repaired by the checksum (%s): %d, of them the tape's own block %d" %
              (name, column.repaired, column.repaired_right))
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
