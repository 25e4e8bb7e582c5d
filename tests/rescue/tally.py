#!/usr/bin/env python3
"""How many blocks of damaged tapes come back, from the default decoder and from --rescue.

    tally.py --tapesim PATH --decode PATH [--families a,b] [--strengths 1,2,3] [--seeds 1,2,3]
             [--cases family:strength,...] [--jobs N] [--keep DIR] [--require-rescue N] [--quiet]

For every family, strength and seed the cassette simulator renders a tape of header and data blocks
as a damaged recording (a 16-bit WAV file; the "lossy" family passes a clean one through sox into Ogg
Vorbis at a low quality), and both decoders read it in a directory of their own. A block counts as
recovered when one of the files a decoder wrote holds it byte for byte. --cases names single families
at single strengths instead of every family at every strength. Prints a line per family and
strength, a line per family and the totals; extra files (junk a decoder wrote) are counted apart.

--require-rescue N: exit status 1 unless --rescue recovers at least N % of the blocks of every family
at every strength, and never fewer blocks than the default decoder (the check CI runs on a few
families).
"""
import argparse
import concurrent.futures
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
from tapes import data, header, tap_image  # noqa: E402

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


def run_case(args, work, family, strength, seed):
    case = "%s-%d-%d" % (family, strength, seed)
    cwd = os.path.join(work, case)
    os.makedirs(cwd, exist_ok=True)
    blocks = tape_blocks(seed * 100 + strength)
    tap = os.path.join(cwd, "tape.tap")
    with open(tap, "wb") as f:
        f.write(tap_image(blocks))
    wav = os.path.join(cwd, "tape.wav")
    simulated = "clean" if family == "lossy" else family
    subprocess.run([args.tapesim, tap, wav, "--family", simulated, "--strength", str(strength),
                    "--seed", str(seed)], check=True)
    if family == "lossy":
        quality, rate = LOSSY[strength]
        ogg = os.path.join(cwd, "tape.ogg")
        command = ["sox", wav]
        if rate:
            command += ["-r", rate]
        command += ["-C", quality, ogg]
        subprocess.run(command, check=True, stderr=subprocess.DEVNULL)
        os.remove(wav)
        wav = ogg
    results = []
    for mode, extra in (("default", []), ("rescue", ["--rescue"])):
        mode_dir = os.path.join(cwd, mode)
        os.makedirs(mode_dir, exist_ok=True)
        subprocess.run([args.decode] + extra + [wav], cwd=mode_dir, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        results.append(recovered(blocks, written_blocks(os.path.join(mode_dir, "TAPE"))))
    if not args.keep:
        shutil.rmtree(cwd)
    return family, strength, seed, len(blocks), results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tapesim", required=True)
    parser.add_argument("--decode", required=True)
    parser.add_argument("--families", default=",".join(FAMILIES))
    parser.add_argument("--strengths", default="1,2,3")
    parser.add_argument("--seeds", default="1,2,3")
    parser.add_argument("--cases", help="family:strength pairs, instead of --families and --strengths")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--keep", help="leave the recordings and outputs in this directory")
    parser.add_argument("--require-rescue", type=float, default=None)
    parser.add_argument("--quiet", action="store_true")
    args = parser.parse_args()
    args.tapesim = os.path.abspath(args.tapesim)
    args.decode = os.path.abspath(args.decode)
    seeds = [int(s) for s in args.seeds.split(",")]
    if args.cases:
        pairs = [(c.split(":")[0], int(c.split(":")[1])) for c in args.cases.split(",")]
    else:
        pairs = [(f, int(s)) for f in args.families.split(",") for s in args.strengths.split(",")]
    for family, _ in pairs:
        if family not in FAMILIES:
            parser.error("unknown family %s" % family)
    families = list(dict.fromkeys(f for f, _ in pairs))

    work = args.keep or tempfile.mkdtemp(prefix="qv-tally-")
    os.makedirs(work, exist_ok=True)
    cases = [(f, s, seed) for f, s in pairs for seed in seeds]
    table = {}
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            futures = [pool.submit(run_case, args, work, *case) for case in cases]
            for future in futures:
                family, strength, seed, total, results = future.result()
                row = table.setdefault((family, strength), [0, 0, 0, 0, 0])
                row[0] += total
                row[1] += results[0][0]
                row[2] += results[1][0]
                row[3] += results[0][1]
                row[4] += results[1][1]
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    def pct(n, total):
        return 100.0 * n / total if total else 0.0

    problems = []
    print("%-10s %8s %7s %16s %16s %12s" % ("family", "strength", "blocks", "default", "rescue", "extra d/r"))
    grand = [0, 0, 0]
    for family in families:
        fam = [0, 0, 0]
        for strength in [s for f, s in pairs if f == family]:
            total, d, r, xd, xr = table[(family, strength)]
            fam = [fam[0] + total, fam[1] + d, fam[2] + r]
            if not args.quiet:
                print("%-10s %8d %7d %8d %6.1f%% %8d %6.1f%% %6d/%d" % (family, strength, total, d, pct(d, total), r,
                                                                       pct(r, total), xd, xr))
            if args.require_rescue is not None:
                if pct(r, total) < args.require_rescue:
                    problems.append("%s at strength %d: rescue recovered %d of %d blocks" % (family, strength, r, total))
                if r < d:
                    problems.append("%s at strength %d: rescue recovered %d blocks, the default %d" % (family, strength, r, d))
        print("%-10s %8s %7d %8d %6.1f%% %8d %6.1f%%" % (family, "all", fam[0], fam[1], pct(fam[1], fam[0]), fam[2],
                                                         pct(fam[2], fam[0])))
        grand = [grand[0] + fam[0], grand[1] + fam[1], grand[2] + fam[2]]
    print("%-10s %8s %7d %8d %6.1f%% %8d %6.1f%%" % ("total", "", grand[0], grand[1], pct(grand[1], grand[0]), grand[2],
                                                     pct(grand[2], grand[0])))
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
