"""TAP blocks and the recordings made of them, for every script that tests the programs from outside:
the round trips, the Wine checks and the rescue tally.

A block is the bytes a TAP file holds after its two length bytes: the flag, the body and the XOR
checksum. A recording is rendered by quorvane-tapgen (raw, 8-bit mono 44100/s) or by qv-tapesim
(damaged, 16-bit WAV); sox turns one into any other format. Nothing here is thread-bound; a program
that fails raises subprocess.CalledProcessError.
"""
import collections
import os
import re
import struct
import subprocess
import tempfile

PLACEHOLDER = b"\x20\x20"
RAW = ["-t", "raw", "-r", "44100", "-e", "unsigned", "-b", "8", "-c", "1"]


def with_checksum(block):
    check = 0
    for byte in block:
        check ^= byte
    return block + bytes([check])


def header(kind, name, length, param1=32768, param2=32768):
    name = name if isinstance(name, bytes) else name.encode("latin-1")
    body = bytes([0x00, kind]) + name.ljust(10)[:10] + struct.pack("<HHH", length, param1, param2)
    return with_checksum(body)


def data(payload, flag=0xFF):
    return with_checksum(bytes([flag]) + payload)


def spoil(block):
    """The same block with a checksum that does not match."""
    return block[:-1] + bytes([block[-1] ^ 0x5A])


def pattern(size, seed):
    state = seed
    out = bytearray()
    for _ in range(size):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((state >> 16) & 0xFF)
    return bytes(out)


def block_file(block):
    """The out%03i.tap file the decoder writes for a finished block."""
    return struct.pack("<H", len(block) & 0xFFFF) + block


def tap_image(blocks):
    return b"".join(block_file(b) for b in blocks)


def parse_tap(image):
    blocks, offset = [], 0
    while offset < len(image):
        (length,) = struct.unpack_from("<H", image, offset)
        blocks.append(image[offset + 2:offset + 2 + length])
        offset += 2 + length
    return blocks


def read_tap(path):
    with open(path, "rb") as f:
        return parse_tap(f.read())


def write_tap(path, blocks):
    with open(path, "wb") as f:
        f.write(tap_image(blocks))
    return path


def render(tapgen, tap, pcm, *options):
    """The TAP file (or the list of blocks) tap rendered by quorvane-tapgen as the raw recording pcm."""
    if not isinstance(tap, str):
        tap = write_tap(os.path.splitext(pcm)[0] + ".tap", tap)
    subprocess.run([tapgen, tap, pcm] + [str(o) for o in options], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)
    return pcm


def convert(pcm, out, *options):
    """A raw recording as sox writes it with the output options; no dither, so the samples follow the
    tape's levels and nothing else."""
    subprocess.run(["sox", "-D"] + RAW + [pcm] + [str(o) for o in options] + [out], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return out


def spaced(tapgen, tap, pcm, megabytes):
    """Every block rendered on its own, each after megabytes of a level that never crosses the base
    line (a hole in a sparse file: zeros, no disk). The decoder reads a file far faster than it
    plays; the silence keeps a run going long enough for a Stop or an Exit to land where it is meant
    to."""
    with open(pcm, "wb") as g, tempfile.TemporaryDirectory() as work:
        for block in read_tap(tap):
            signal = render(tapgen, [block], os.path.join(work, "one.pcm"))
            g.seek(megabytes << 20, os.SEEK_CUR)
            with open(signal, "rb") as f:
                g.write(f.read())


def shift(source, target):
    """High levels to 60, low to 20, silence stays 128: with BaseLine 128 everything but silence is
    low and nothing decodes; with 44 the tape decodes as before."""
    table = bytes(20 if v < 128 else 60 if v > 128 else 128 for v in range(256))
    with open(source, "rb") as f, open(target, "wb") as g:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            g.write(chunk.translate(table))


def simulate(tapesim, tap, wav, family, strength, seed, *options):
    """The tape as qv-tapesim renders it damaged by a family of faults."""
    subprocess.run([tapesim, tap, wav, "--family", family, "--strength", str(strength), "--seed", str(seed)] +
                   [str(o) for o in options], check=True, stdout=subprocess.DEVNULL)
    return wav


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, content):
    with open(path, "wb") as f:
        f.write(content)


def name_of(number):
    return "out%03d.tap" % number


def number(name):
    return int(name[3:-4])


def tap_files(directory, first):
    return sorted((n for n in os.listdir(directory) if re.fullmatch(r"out\d{3,}\.tap", n) and number(n) >= first),
                  key=number)


def verify(blocks, directory, first, unfinished):
    """Problems with the blocks as the files from out<first>.tap on; with unfinished, the file after
    them must be the placeholder of a block the end of the run cut short."""
    problems = []
    for i, block in enumerate(blocks):
        path = os.path.join(directory, name_of(first + i))
        if not os.path.exists(path):
            problems.append("%s missing" % name_of(first + i))
        elif read(path) != block_file(block):
            problems.append("%s holds %d bytes, not block %d (%d bytes)" % (
                name_of(first + i), len(read(path)), i + 1, len(block) + 2))
    last = os.path.join(directory, name_of(first + len(blocks)))
    if unfinished and not os.path.exists(last):
        problems.append("%s (the unfinished file) missing" % name_of(first + len(blocks)))
    elif unfinished and read(last) != PLACEHOLDER:
        problems.append("%s holds %r, not the placeholder" % (name_of(first + len(blocks)), read(last)[:8]))
    return problems


def back(blocks, directory, first):
    """A block lost on the way moves the ones after it to lower numbers, and a glitch can add an
    empty block; neither makes those blocks lost, so they are looked for in every file from first on."""
    held = collections.Counter(read(os.path.join(directory, n)) for n in tap_files(directory, first))
    wanted = collections.Counter(block_file(block) for block in blocks)
    return sum(min(count, held[content]) for content, count in wanted.items())
