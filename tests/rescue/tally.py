#!/usr/bin/env python3
"""How many blocks of damaged tapes come back, from the default decoder and from --rescue.

    tally.py --tapesim PATH --decode PATH [--families a,b] [--strengths 1,2,3] [--seeds 1,2,3]
             [--cases family:strength,...] [--plays N] [--jobs N] [--keep DIR] [--require-rescue N]
             [--quiet]

For every family, strength and seed the cassette simulator renders a tape of header and data blocks
as a damaged recording (a 16-bit WAV file; the "lossy" family passes a clean one through sox into Ogg
Vorbis at a low quality), and both decoders read it in a directory of their own. A block counts as
recovered when one of the files a decoder wrote holds it byte for byte. --cases names single families
at single strengths instead of every family at every strength. Prints a line per family and
strength, a line per family and the totals; extra files (junk a decoder wrote) are counted apart,
and so are the blocks --rescue reports "ok" whose file holds no block of the tape (wrongly good).

--plays N: every tape is played N times (the simulator's --play: the tape's own drop-outs at the
same places in every play, the player's own damage drawn afresh for each). The default decoder and
--rescue read the first play; --rescue also reads each play alone (the best of those is printed) and
all N plays at once.

--require-rescue N: exit status 1 unless --rescue (with --plays, the plays read at once) recovers at
least N % of the blocks of every family at every strength, never fewer blocks than the default
decoder (with --plays, than the best single play), and calls no block wrongly good (with --plays,
read with all the plays at once) (the check CI runs on a few families).
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


def tape_blocks(seed):
    """A BASIC program with its header, a code block with its header, a headerless block: the kinds
    of block a tape carries, with contents and lengths from the seed."""
    rng = random.Random(seed)
    basic = bytes(rng.randrange(256) for _ in range(rng.randrange(200, 700)))
    code = bytes(rng.randrange(256) for _ in range(rng.randrange(800, 2000)))
    loose = bytes(rng.randrange(256) for _ in range(rng.randrange(100, 400)))
    return [
        header(0, "prog %d" % seed, len(basic), 10, len(basic)),
        data(basic),
        header(3, "code %d" % seed, len(code), 32768),
        data(code),
        data(loose, flag=0xFF),
    ]


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


def recovered(blocks, written):
    left = list(written)
    count = 0
    for block in blocks:
        if block in left:
            left.remove(block)
            count += 1
    return count, len(left)


def wrongly_good(blocks, mode_dir):
    """Blocks the report calls ok whose file holds no block of the tape."""
    try:
        with open(os.path.join(mode_dir, "report.json"), encoding="utf-8") as f:
            report = json.load(f)
    except (OSError, ValueError):
        return 0
    wrong = 0
    for entry in report["blocks"]:
        if entry["checksum"] == "ok":
            with open(os.path.join(mode_dir, "TAPE", entry["file"]), "rb") as f:
                wrong += f.read()[2:] not in blocks
    return wrong


def decode(args, mode_dir, extra, recordings, blocks):
    """(blocks recovered, extra files, blocks wrongly called good) of one decoder run."""
    os.makedirs(mode_dir, exist_ok=True)
    report = ["--report", "report.json"] if "--rescue" in extra else []
    subprocess.run([args.decode] + extra + report + recordings, cwd=mode_dir, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    count, extra_files = recovered(blocks, written_blocks(os.path.join(mode_dir, "TAPE")))
    return count, extra_files, wrongly_good(blocks, mode_dir)


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
    """The case's blocks and, per column (default, rescue, and with --plays the best single play and
    the plays at once), the blocks recovered, extra files and blocks wrongly called good."""
    case = "%s-%d-%d" % (family, strength, seed)
    cwd = os.path.join(work, case)
    os.makedirs(cwd, exist_ok=True)
    blocks = tape_blocks(seed * 100 + strength)
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
        best = max(single, key=lambda r: r[0])
        wrong = sum(r[2] for r in single)
        columns = [decode(args, os.path.join(cwd, "default"), [], plays[:1], blocks), single[0],
                   (best[0], best[1], wrong),
                   decode(args, os.path.join(cwd, "plays"), ["--rescue"], plays, blocks)]
    if not args.keep:
        shutil.rmtree(cwd)
    return family, strength, seed, len(blocks), columns


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tapesim", required=True)
    parser.add_argument("--decode", required=True)
    parser.add_argument("--families", default=",".join(FAMILIES))
    parser.add_argument("--strengths", default="1,2,3")
    parser.add_argument("--seeds", default="1,2,3")
    parser.add_argument("--cases", help="family:strength pairs, instead of --families and --strengths")
    parser.add_argument("--plays", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--keep", help="leave the recordings and outputs in this directory")
    parser.add_argument("--require-rescue", type=float, default=None)
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
    # Per family and strength: blocks, then per column recovered, extra and wrongly good.
    table = {}
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            futures = [pool.submit(run_case, args, work, *case) for case in cases]
            for future in futures:
                family, strength, seed, total, columns = future.result()
                row = table.setdefault((family, strength), [0] + [[0, 0, 0] for _ in names])
                row[0] += total
                for k, column in enumerate(columns):
                    row[k + 1] = [a + b for a, b in zip(row[k + 1], column)]
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    def pct(n, total):
        return 100.0 * n / total if total else 0.0

    def wrong_of(columns):
        # Wrongly good from --rescue on one play (with --plays, the best-of column sums them over
        # every play), and from the plays at once.
        return columns[1][2] if args.plays == 1 else columns[2][2], columns[-1][2] if args.plays > 1 else 0

    def line(family, strength, total, columns, extra):
        text = "%-10s %8s %7d" % (family, strength, total)
        for recovered_, _, _ in columns:
            text += " %6d %6.1f%%" % (recovered_, pct(recovered_, total))
        wrong = wrong_of(columns)
        text += " %9s" % ("%d" % wrong[0] if args.plays == 1 else "%d/%d" % wrong)
        if extra:
            text += "  " + "/".join(str(c[1]) for c in columns)
        print(text)

    print("%-10s %8s %7s" % ("family", "strength", "blocks") + "".join(" %14s" % n for n in names) +
          " %9s  %s" % ("wrong ok" if args.plays == 1 else "wrong 1/%d" % args.plays, "extra " + "/".join(n.split()[0][0] for n in names)))
    problems = []
    grand = [0] + [[0, 0, 0] for _ in names]
    for family in families:
        fam = [0] + [[0, 0, 0] for _ in names]
        for strength in [s for f, s in pairs if f == family]:
            row = table[(family, strength)]
            fam = [fam[0] + row[0]] + [[a + b for a, b in zip(x, y)] for x, y in zip(fam[1:], row[1:])]
            if not args.quiet:
                line(family, strength, row[0], row[1:], True)
            if args.require_rescue is not None:
                total, default, rescue, last = row[0], row[1][0], row[2][0], row[-1][0]
                floor = row[3][0] if args.plays > 1 else default
                if pct(last, total) < args.require_rescue:
                    problems.append("%s at strength %d: rescue recovered %d of %d blocks" % (family, strength, last, total))
                if last < floor:
                    problems.append("%s at strength %d: rescue recovered %d blocks, the %s %d" %
                                    (family, strength, last, "best single play" if args.plays > 1 else "default", floor))
                if rescue < default and args.plays == 1:
                    problems.append("%s at strength %d: rescue below the default" % (family, strength))
                wrong = wrong_of(row[1:])[-1 if args.plays > 1 else 0]
                if wrong:
                    problems.append("%s at strength %d: %d blocks wrongly called good" % (family, strength, wrong))
        line(family, "all", fam[0], fam[1:], False)
        grand = [grand[0] + fam[0]] + [[a + b for a, b in zip(x, y)] for x, y in zip(grand[1:], fam[1:])]
    line("total", "", grand[0], grand[1:], False)
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
