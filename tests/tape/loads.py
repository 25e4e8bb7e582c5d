#!/usr/bin/env python3
"""Simulated loads: each 47loader tape (a homebrew turbo loader, ../shared/tapes/47loader) and the TZX
Quorvane makes of it are loaded by SkoolKit's tap2sna.py (../shared/tools/skoolkit), which runs LOAD ""
on a simulated Spectrum with the tape's own loader reading the pulses; the memory both leave must be the
same. A copy of one tape with a byte of a turbo block changed must not load the same, which shows the
comparison can fail.

  --from original           the original tape against itself (the harness alone)
  --from writer --tapewrite QV-TAPEWRITE
                            ours written by the TZX writer from the original's items
  --from decode --decode QUORVANE-DECODE
                            ours from the original rendered by tape2wav at 44100/s and read by
                            `quorvane-decode --rescue X.wav --tzx Y.tzx`

  --build DIR               where a copy of SkoolKit gets its C simulator built (ten times faster;
                            needs Python's headers and setuptools), kept for the next run; without
                            it, or where it does not build, the pure Python simulator runs

Prints a line per tape and the count; exits 1 when one differs, 77 (skipped, one line saying why)
where ../shared or tape2wav is not.
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
import tapes  # noqa: E402
import clients  # noqa: E402

SKIPPED = 77


def with_simulator(skoolkit, build):
    """SkoolKit with its C simulator built, in build; the shared copy where that cannot be done."""
    copy = os.path.join(build, "skoolkit")
    if glob.glob(os.path.join(copy, "skoolkit", "csimulator*.so")):
        return copy
    shutil.rmtree(copy, ignore_errors=True)
    shutil.copytree(skoolkit, copy)
    for base, folders, files in os.walk(copy):
        for name in folders + files:
            os.chmod(os.path.join(base, name), 0o755)
    done = subprocess.run([sys.executable, "setup.py", "build_ext", "--inplace"], cwd=copy, capture_output=True,
                          text=True)
    if done.returncode == 0 and glob.glob(os.path.join(copy, "skoolkit", "csimulator*.so")):
        return copy
    print("SkoolKit's C simulator did not build (%s); the pure Python one runs" % (
        done.stderr.strip().splitlines() or ["no reason given"])[-1])
    return skoolkit


def load(skoolkit, tzx, work):
    """The 48 KB of RAM tap2sna leaves after loading the tape, or the reason it did not."""
    z80 = os.path.join(work, "load.z80")
    if os.path.exists(z80):
        os.remove(z80)
    done = subprocess.run([sys.executable, os.path.join(skoolkit, "tap2sna.py"), tzx, z80], capture_output=True,
                          text=True, timeout=900)
    if done.returncode != 0 or not os.path.exists(z80):
        return "tap2sna exit %d: %s" % (done.returncode, (done.stderr or done.stdout).strip()[-200:])
    from skoolkit.snapshot import Snapshot
    return bytes(Snapshot.get(z80).ram())


def ours(args, original, work):
    """The TZX Quorvane makes of the original, or why there is none."""
    tzx = os.path.join(work, "ours.tzx")
    if args.source == "original":
        return original
    if args.source == "writer":
        text = os.path.join(work, "items.txt")
        tapes.write(text, clients.items_text(tapes.read_tzx(tapes.read(original))[0]).encode())
        done = subprocess.run([args.tapewrite, "tzx", text, tzx], capture_output=True, text=True)
    else:
        wav = tapes.render_tzx(original, os.path.join(work, "tape.wav"), 44100)
        done = subprocess.run([args.decode, "--rescue", wav, "--tzx", tzx], capture_output=True, text=True,
                              cwd=tempfile.mkdtemp(dir=work))
    return tzx if done.returncode == 0 else "exit %d: %s" % (done.returncode, done.stderr.strip()[:200])


def spoiled(original, work):
    """The tape with one byte in the middle of its longest turbo block changed."""
    image = bytearray(tapes.read(original))
    items = tapes.read_tzx(bytes(image))[0]
    longest = max((i.block for i in items if i.kind == "data" and i.pilot != tapes.ROM_PILOT), key=len)
    at = bytes(image).index(longest) + len(longest) // 2
    image[at] ^= 0x01
    path = os.path.join(work, "spoiled.tzx")
    tapes.write(path, bytes(image))
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--from", dest="source", choices=("original", "writer", "decode"), default="original")
    parser.add_argument("--tapewrite")
    parser.add_argument("--decode")
    parser.add_argument("--shared", default=os.path.join(here, "..", "..", "..", "shared"))
    parser.add_argument("--build")
    args = parser.parse_args()
    args.tapewrite, args.decode = (os.path.abspath(p) if p else p for p in (args.tapewrite, args.decode))
    skoolkit = os.path.join(args.shared, "tools", "skoolkit")
    originals = sorted(glob.glob(os.path.join(args.shared, "tapes", "47loader", "*.tzx")))
    if not os.path.exists(os.path.join(skoolkit, "tap2sna.py")) or not originals:
        print("skipped: no SkoolKit or 47loader tapes under %s" % os.path.abspath(args.shared))
        return SKIPPED
    if args.source == "decode" and clients.missing_tools():
        print("skipped: %s not installed (Debian's fuse-emulator-utils)" % " and ".join(clients.missing_tools()))
        return SKIPPED
    if args.build:
        os.makedirs(args.build, exist_ok=True)
        skoolkit = with_simulator(skoolkit, args.build)
    sys.path.insert(0, skoolkit)
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for original in originals:
            name = os.path.basename(original)
            want = load(skoolkit, original, work)
            tzx = ours(args, original, work)
            got = load(skoolkit, tzx, work) if os.path.exists(tzx) else tzx
            if isinstance(want, str):
                problem = "the original does not load: " + want
            elif isinstance(got, str):
                problem = "ours does not load: " + got
            elif got != want:
                differ = [a for a in range(len(want)) if want[a] != got[a]]
                problem = "%d bytes of RAM differ, the first at %d" % (len(differ), 16384 + differ[0])
            else:
                problem = ""
            failures += bool(problem)
            print("%-22s %s" % (name, problem or "loads the same (%d bytes of RAM)" % len(want)))
        # want is the last original's memory.
        same = load(skoolkit, spoiled(originals[-1], work), work) == want
        failures += same
        print("%-22s %s" % ("a byte changed", "loads the same: the comparison sees nothing" if same else "differs"))
    print("%d problems over %d tapes" % (failures, len(originals)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
