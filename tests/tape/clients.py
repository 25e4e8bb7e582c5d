#!/usr/bin/env python3
"""The tape images Quorvane writes, checked by the real clients that read them (Debian's
fuse-emulator-utils): every TZX written is listed by tzxlist without complaint and rendered by tape2wav,
and its data blocks are the source tape's byte for byte, their timings within 3 % of the source's. The
sources are the shared builder's families of synthetic tapes (tests/tapes.py) and, where ../shared is,
the 47loader tapes.

  --tapewrite QV-TAPEWRITE   the writers alone, given each source's items (tests/tape/tapewrite_main.cpp):
                             every item must come back, pauses, tones and pulse sequences too; plus a
                             CSW written from a ROM tape's pulses (fractions of a sample carried),
                             rendered by tape2wav and decoded by `quorvane-decode --rescue`: its blocks.
  --decode QUORVANE-DECODE   with --tapewrite, the decoder of that CSW check; alone, the whole way: each
                             source rendered by tape2wav at 44100 and 48000/s, read by
                             `quorvane-decode --rescue X.wav --tzx Y.tzx --csw Z.csw`, Y checked as above
                             (data blocks only) and Z rendered and decoded again to the same blocks.

Prints a line per source and a last line with the count; exits 1 on a problem, 77 (skipped, one line
saying why) when tzxlist or tape2wav is not installed.
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import tapes  # noqa: E402

SKIPPED = 77
T_PER_SECOND = 3500000.0


def levels(item):
    """A direct recording's samples as a string of 0 and 1."""
    return "".join("1" if item.block[k // 8] >> (7 - k % 8) & 1 else "0"
                   for k in range(len(item.block) * 8 - (8 - item.used)))


def items_text(items):
    """The items as qv-tapewrite reads them."""
    lines = []
    for i in items:
        if i.kind == "data":
            verdict = "ok" if tapes.with_checksum(i.block[:-1]) == i.block else "bad"
            lines.append("data %s %d %d %s %d %d %d %d %d %d %d %s" % (
                verdict, i.pilot, i.pilot_count, ",".join(map(str, i.sync)) or "-", i.zero[0], i.zero[1],
                i.one[0], i.one[1], i.used, i.tail, i.pause, i.block.hex()))
        elif i.kind == "tone":
            lines.append("tone %d %d %d" % (i.pulse, i.count, i.pause))
        elif i.kind == "pulses":
            lines.append("pulses %s %d" % (",".join(map(str, i.pulses)), i.pause))
        elif i.kind == "direct":
            lines.append("direct %f %s %d" % (T_PER_SECOND / i.pulse, levels(i), i.pause))
        else:
            lines.append("pause %d" % i.pause)
    return "\n".join(lines) + "\n"


def pulses_of(items):
    """The tape's pulses in T-states, as a player makes them: a pause is one long pulse."""
    out = []
    for i in items:
        if i.kind == "data":
            out += [i.pilot] * i.pilot_count + list(i.sync)
            bits = len(i.block) * 8 - (8 - i.used)
            for k in range(bits):
                out += list(i.one if i.block[k // 8] >> (7 - k % 8) & 1 else i.zero)
            out += [i.tail] if i.tail else []
        elif i.kind == "tone":
            out += [i.pulse] * i.count
        elif i.kind == "pulses":
            out += i.pulses
        if i.pause:
            out.append(i.pause * 3500)
    return out


def near(a, b):
    return abs(a - b) <= 0.03 * max(a, b)


def compare(source, ours, whole):
    """What differs between two tapes' items: the data blocks (bytes, used bits, timings within 3 %), and
    with whole every other item and pause as well."""
    problems = []
    pick = (lambda items: items) if whole else (lambda items: [i for i in items if i.kind == "data"])
    a, b = pick(source), pick(ours)
    if len(a) != len(b):
        return ["%d items, the source has %d" % (len(b), len(a))]
    for n, (s, o) in enumerate(zip(a, b)):
        where = "item %d (%r)" % (n + 1, s)
        if s.kind != o.kind:
            problems.append("%s comes back as %r" % (where, o))
            continue
        pairs = [(s.pause, o.pause)] if whole else []
        if s.kind == "data":
            if s.block != o.block:
                problems.append("%s: the bytes differ" % where)
            if s.used != o.used or len(s.sync) != len(o.sync) or bool(s.pilot_count) != bool(o.pilot_count):
                problems.append("%s comes back as %r" % (where, o))
                continue
            pairs += [(s.pilot, o.pilot), (s.pilot_count, o.pilot_count)] + list(zip(s.sync, o.sync))
            pairs += list(zip(s.zero + s.one, o.zero + o.one))
        elif s.kind == "tone":
            pairs += [(s.pulse, o.pulse), (s.count, o.count)]
        elif s.kind == "pulses":
            pairs += list(zip(s.pulses, o.pulses)) if len(s.pulses) == len(o.pulses) else [(0, 1)]
        elif s.kind == "direct":
            pairs += [(s.pulse, o.pulse)] + ([] if levels(s) == levels(o) else [(0, 1)])
        if not all(near(x, y) for x, y in pairs):
            problems.append("%s comes back as %r" % (where, o))
    return problems


def missing_tools():
    return [tool for tool in ("tzxlist", "tape2wav") if not shutil.which(tool)]


def run(command, **options):
    return subprocess.run([str(c) for c in command], capture_output=True, text=True, **options)


def client_problems(tzx, work):
    """tzxlist lists it without complaint, tape2wav renders it."""
    problems = []
    listed = run(["tzxlist", tzx])
    if listed.returncode != 0 or listed.stderr.strip():
        problems.append("tzxlist: exit %d, %s" % (listed.returncode, listed.stderr.strip()[:200]))
    wav = os.path.join(work, "again.wav")
    rendered = run(["tape2wav", tzx, wav])
    if rendered.returncode != 0 or not os.path.exists(wav) or os.path.getsize(wav) <= 44:
        problems.append("tape2wav: exit %d, %s" % (rendered.returncode, rendered.stderr.strip()[:200]))
    return problems


def decoded_blocks(decode, recording, work):
    """The blocks `quorvane-decode --rescue` writes for a recording, in file order."""
    folder = tempfile.mkdtemp(dir=work)
    run([decode, "--rescue", os.path.abspath(recording)], cwd=folder, check=True)
    tape = os.path.join(folder, "TAPE")
    return [tapes.read(os.path.join(tape, n))[2:] for n in tapes.tap_files(tape, 1)]


def csw_problems(decode, tapewrite, items, work, rate):
    """A CSW of the tape's pulses, rendered by tape2wav and decoded: the tape's data blocks."""
    lengths = os.path.join(work, "lengths.txt")
    tapes.write(lengths, "\n".join("%.6f" % (t * rate / T_PER_SECOND) for t in pulses_of(items)).encode())
    csw = os.path.join(work, "tape.csw")
    written = run([tapewrite, "csw", lengths, csw, rate])
    if written.returncode != 0:
        return ["qv-tapewrite csw: " + written.stderr.strip()]
    wav = tapes.render_tzx(csw, os.path.join(work, "csw.wav"), 44100)
    want = [i.block for i in items if i.kind == "data"]
    got = decoded_blocks(decode, wav, work)
    return [] if got == want else ["the CSW at %d/s decodes to %d blocks, %d of them the tape's" % (
        rate, len(got), sum(1 for b in got if b in want))]


def sources(shared):
    found = [(name, family()) for name, family in sorted(tapes.FAMILIES.items())]
    # What else a tape can hold: a bad block, a long pause, a long tone, a direct recording.
    odd = [tapes.rom(tapes.spoil(tapes.data(tapes.pattern(50, 7))), 70000), tapes.tone(1000, 70000),
           tapes.Item("direct", bytes([0xF0, 0x0F, 0xAA]), pulse=79, used=5, pause=20),
           tapes.rom(tapes.data(tapes.pattern(20, 8)), 1000)]
    found.append(("odd", odd))
    for path in sorted(glob.glob(os.path.join(shared, "tapes", "47loader", "*.tzx"))):
        found.append(("47loader/" + os.path.basename(path), tapes.read_tzx(tapes.read(path))[0]))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tapewrite")
    parser.add_argument("--decode")
    parser.add_argument("--shared", default=os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared"))
    args = parser.parse_args()
    args.tapewrite, args.decode = (os.path.abspath(p) if p else p for p in (args.tapewrite, args.decode))
    missing = missing_tools()
    if missing:
        print("skipped: %s not installed (Debian's fuse-emulator-utils)" % " and ".join(missing))
        return SKIPPED
    failures = checked = 0
    with tempfile.TemporaryDirectory() as work:
        for name, items in sources(args.shared):
            if args.decode and not args.tapewrite and any(i.kind == "direct" for i in items):
                continue
            source = tapes.write_tzx(os.path.join(work, "source.tzx"), items)
            # The source as a reader of TZX sees it: a tone and pulses before pure data are its pilot
            # and sync, whoever reads them.
            items = tapes.read_tzx(tapes.read(source))[0]
            problems = []
            if args.tapewrite:
                text = os.path.join(work, "items.txt")
                tapes.write(text, items_text(items).encode())
                ours = os.path.join(work, "ours.tzx")
                written = run([args.tapewrite, "tzx", text, ours])
                problems = ["qv-tapewrite: " + written.stderr.strip()] if written.returncode else \
                    client_problems(ours, work) + compare(items, tapes.read_tzx(tapes.read(ours))[0], True)
            else:
                for rate in (44100, 48000):
                    wav = tapes.render_tzx(source, os.path.join(work, "source.wav"), rate)
                    ours, csw = os.path.join(work, "ours.tzx"), os.path.join(work, "ours.csw")
                    folder = tempfile.mkdtemp(dir=work)
                    decoded = run([args.decode, "--rescue", wav, "--tzx", ours, "--csw", csw], cwd=folder)
                    if decoded.returncode != 0:
                        problems.append("at %d/s: quorvane-decode exit %d: %s" % (
                            rate, decoded.returncode, decoded.stderr.strip()[:200]))
                        continue
                    found = client_problems(ours, work) + compare(items, tapes.read_tzx(tapes.read(ours))[0], False)
                    want = [i.block for i in items if i.kind == "data"]
                    try:
                        again = decoded_blocks(args.decode, tapes.render_tzx(csw, os.path.join(work, "csw.wav")), work)
                    except subprocess.CalledProcessError as e:
                        again = "%s: exit %d" % (e.cmd[0], e.returncode)
                    if again != want:
                        found.append("its CSW, rendered and decoded again, does not give the tape's blocks (%s)" % (
                            again if isinstance(again, str) else "%d blocks, %d of them the tape's" % (
                                len(again), sum(1 for b in again if b in want))))
                    problems += ["at %d/s: %s" % (rate, p) for p in found]
            checked += 1
            failures += bool(problems)
            print("%-28s %s" % (name, "ok" if not problems else "; ".join(problems[:4])))
        if args.tapewrite and args.decode:
            ok = [tapes.rom(tapes.header(3, "CSW", 500), 500), tapes.rom(tapes.data(tapes.pattern(500, 9)), 700)]
            for rate in (44100, 48000):
                problems = csw_problems(args.decode, args.tapewrite, ok, work, rate)
                checked += 1
                failures += bool(problems)
                print("%-28s %s" % ("csw at %d/s" % rate, "ok" if not problems else "; ".join(problems)))
    print("%d of %d tapes as their source" % (checked - failures, checked))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
