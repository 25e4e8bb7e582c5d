"""TAP blocks, TZX tapes and the recordings made of them, for every script that tests the programs from
outside: the round trips, the Wine checks, the rescue tally and the checks with real tape clients.

A block is the bytes a TAP file holds after its two length bytes: the flag, the body and the XOR
checksum. A recording is rendered by quorvane-tapgen (raw, 8-bit mono 44100/s), by qv-tapesim
(damaged, 16-bit WAV) or, from a TZX, by tape2wav (Debian's fuse-emulator-utils); sox turns one into
any other format. A tape of any loader is a list of Items (what tape/tape.h calls items: data blocks
with their timings in T-states, tones, pulse sequences, pauses), written as TZX by tzx_of and read
back by read_tzx; the families of synthetic tapes at the end return such lists. Nothing here is
thread-bound; a program that fails raises subprocess.CalledProcessError.
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


# ---- TZX tapes of any loader

ROM_PILOT, ROM_SYNC, ROM_ZERO, ROM_ONE = 2168, (667, 735), 855, 1710


class Item:
    """One thing on a tape. kind "data": block (flag to checksum, or any bytes), pilot pulse and
    pilot_count (0 for pure data), sync pulses, zero and one (each bit's two pulses), used bits of the
    last byte, tail pulse (0 none); "tone": pulse and count; "pulses": pulses; "pause": pause alone;
    "direct": a direct recording, pulse the T-states a sample and block the samples, a bit each.
    pause is the milliseconds after the item; every length is in T-states."""

    def __init__(self, kind, block=b"", pilot=0, pilot_count=0, sync=(), zero=(0, 0), one=(0, 0), used=8, tail=0,
                 pause=0, pulse=0, count=0, pulses=()):
        self.kind, self.block, self.pilot, self.pilot_count = kind, bytes(block), pilot, pilot_count
        self.sync, self.used, self.tail, self.pause = list(sync), used, tail, pause
        self.zero = tuple(zero) if isinstance(zero, (tuple, list)) else (zero, zero)
        self.one = tuple(one) if isinstance(one, (tuple, list)) else (one, one)
        self.pulse, self.count, self.pulses = pulse, count, list(pulses)

    def __repr__(self):
        if self.kind == "data":
            return "data(%d bytes, pilot %d x %d, sync %s, bits %s/%s, used %d, pause %d)" % (
                len(self.block), self.pilot, self.pilot_count, self.sync, self.zero, self.one, self.used, self.pause)
        if self.kind == "tone":
            return "tone(%d x %d)" % (self.pulse, self.count)
        if self.kind == "pulses":
            return "pulses(%s)" % self.pulses
        return "%s(%d ms)" % (self.kind, self.pause)


def rom(block, pause=1000):
    return Item("data", block, ROM_PILOT, 8063 if block[0] < 128 else 3223, ROM_SYNC, ROM_ZERO, ROM_ONE, pause=pause)


def turbo(block, pilot, pilot_count, sync, zero, one=None, used=8, pause=0, tail=0):
    """A block of a loader's own timings; one defaults to twice zero."""
    return Item("data", block, pilot, pilot_count, sync, zero, one if one is not None else 2 * zero, used, tail, pause)


def pure(block, zero, one=None, used=8, pause=0):
    return turbo(block, 0, 0, (), zero, one, used, pause)


def tone(pulse, count, pause=0):
    return Item("tone", pulse=pulse, count=count, pause=pause)


def pulse_sequence(pulses, pause=0):
    return Item("pulses", pulses=pulses, pause=pause)


def silence(ms):
    return Item("pause", pause=ms)


def is_rom(item):
    return (item.pilot == ROM_PILOT and item.pilot_count == (8063 if item.block[:1] < b"\x80" else 3223) and
            tuple(item.sync) == ROM_SYNC and item.zero == (ROM_ZERO,) * 2 and item.one == (ROM_ONE,) * 2 and
            item.used == 8 and not item.tail and len(item.block) <= 0xFFFF)


def _even(symbol):
    return symbol[0] == symbol[1]


def tzx_blocks(item):
    """An item as TZX 1.20 blocks, the most direct ones that hold it: 0x10 for the ROM's timings, 0x11 for
    a pilot, two syncs and symbols of equal pulses, else 0x12 + 0x13 + 0x14, or 0x19 when a symbol's
    pulses differ."""
    w = struct.pack
    if item.kind == "tone":
        out, count = b"", item.count
        while count > 0:
            out += w("<BHH", 0x12, item.pulse, min(count, 0xFFFF))
            count -= 0xFFFF
        return out + tzx_pause(item.pause)
    if item.kind == "pulses":
        out = b""
        for at in range(0, len(item.pulses), 255):
            part = item.pulses[at:at + 255]
            out += w("<BB", 0x13, len(part)) + w("<%dH" % len(part), *part)
        return out + tzx_pause(item.pause)
    if item.kind == "pause":
        return tzx_pause(item.pause)
    if item.kind == "direct":
        return w("<BHHB", 0x15, item.pulse, item.pause, item.used) + w("<I", len(item.block))[:3] + item.block
    # The pause field holds 65535 ms at most, the rest follows as pauses; after a tail pulse, all of it.
    block, pause = item.block, 0 if item.tail else min(item.pause, 0xFFFF)
    rest = tzx_pause(item.pause - pause)
    if is_rom(item):
        return w("<BHH", 0x10, pause, len(block)) + block + rest
    size = w("<I", len(block))[:3]
    if item.pilot_count and len(item.sync) == 2 and _even(item.zero) and _even(item.one):
        out = w("<BHHHHHHBH", 0x11, item.pilot, item.sync[0], item.sync[1], item.zero[0], item.one[0],
                item.pilot_count, item.used, pause) + size + block
    else:
        out = tzx_blocks(tone(item.pilot, item.pilot_count)) + tzx_blocks(pulse_sequence(item.sync))
        if _even(item.zero) and _even(item.one):
            out += w("<BHHBH", 0x14, item.zero[0], item.one[0], item.used, pause) + size + block
        else:
            bits = len(block) * 8 - (8 - item.used)
            body = w("<HIBBIBB", pause, 0, 0, 0, bits, 2, 2) + w("<BHHBHH", 0, *item.zero, 0, *item.one) + block
            out += w("<BI", 0x19, len(body)) + body
    if item.tail:
        out += tzx_blocks(pulse_sequence([item.tail]))
    return out + rest


def tzx_pause(ms):
    """Block 0x20; a pause of 0 would stop the tape, so it is no block."""
    out = b""
    while ms > 0:
        out += struct.pack("<BH", 0x20, min(ms, 0xFFFF))
        ms -= 0xFFFF
    return out


def tzx_text(text):
    text = text.encode("latin-1")[:255]
    return struct.pack("<BB", 0x30, len(text)) + text


def tzx_of(items, text=None):
    return b"ZXTape!\x1a\x01\x14" + (tzx_text(text) if text else b"") + b"".join(tzx_blocks(i) for i in items)


def write_tzx(path, items, text=None):
    write(path, tzx_of(items, text))
    return path


def read_tzx(image):
    """The items of a TZX image and its texts: (items, texts). A tone, a pulse sequence or both right
    before pure or generalized data are taken as its pilot and sync, as a reader of the signal finds
    them. Direct recordings come back as kind "direct" with pulse = T-states a sample and block = the
    samples. Blocks other than the ones writers of this project make raise ValueError."""
    if image[:8] != b"ZXTape!\x1a":
        raise ValueError("not a TZX file")
    items, texts, at = [], [], 10

    def take(fmt):
        nonlocal at
        values = struct.unpack_from(fmt, image, at)
        at += struct.calcsize(fmt)
        return values

    def take_bytes(n):
        nonlocal at
        at += n
        if at > len(image):
            raise ValueError("block cut short at %d" % len(image))
        return image[at - n:at]

    def n24():
        low, high = take("<HB")
        return low | high << 16

    def data(block, zero, one, used, pause):
        # Pilot and sync are the tone and pulses just before, when they are.
        pilot = pilot_count = 0
        sync = []
        if items and items[-1].kind == "pulses" and not items[-1].pause:
            sync = items.pop().pulses
        if items and items[-1].kind == "tone" and not items[-1].pause:
            last = items.pop()
            pilot, pilot_count = last.pulse, last.count
        items.append(Item("data", block, pilot, pilot_count, sync, zero, one, used, pause=pause))

    while at < len(image):
        (kind,) = take("<B")
        if kind == 0x10:
            pause, n = take("<HH")
            block = take_bytes(n)
            items.append(rom(block, pause))
        elif kind == 0x11:
            pilot, s1, s2, zero, one, count, used, pause = take("<HHHHHHBH")
            items.append(turbo(take_bytes(n24()), pilot, count, (s1, s2), zero, one, used, pause))
        elif kind == 0x12:
            pulse, count = take("<HH")
            last = items[-1] if items else None
            if last and last.kind == "tone" and last.pulse == pulse and not last.pause and last.count % 0xFFFF == 0:
                last.count += count
            else:
                items.append(tone(pulse, count))
        elif kind == 0x13:
            (n,) = take("<B")
            pulses = list(take("<%dH" % n))
            if items and items[-1].kind == "pulses" and not items[-1].pause and len(items[-1].pulses) % 255 == 0:
                items[-1].pulses += pulses
            else:
                items.append(pulse_sequence(pulses))
        elif kind == 0x14:
            zero, one, used, pause = take("<HHBH")
            data(take_bytes(n24()), zero, one, used, pause)
        elif kind == 0x15:
            per_sample, pause, used = take("<HHB")
            items.append(Item("direct", take_bytes(n24()), pulse=per_sample, used=used, pause=pause))
        elif kind == 0x19:
            (length,) = take("<I")
            body = take_bytes(length)
            pause, totp, npp, asp, totd, npd, asd = struct.unpack_from("<HIBBIBB", body)
            if totp or npd != 2 or asd != 2 or body[14] or body[19]:
                raise ValueError("generalized data other than two symbols of two edges")
            zero, one = struct.unpack_from("<HH", body, 15), struct.unpack_from("<HH", body, 20)
            used = totd % 8 or 8
            data(body[24:24 + (totd + 7) // 8], zero, one, used, pause)
        elif kind == 0x20:
            (ms,) = take("<H")
            if not ms:
                raise ValueError("a pause of 0 ms: stop the tape")
            if items:
                items[-1].pause += ms
            else:
                items.append(silence(ms))
        elif kind == 0x30:
            (n,) = take("<B")
            texts.append((len(items), take_bytes(n).decode("latin-1")))
        elif kind in (0x21, 0x32):
            (n,) = take("<B" if kind == 0x21 else "<H")
            take_bytes(n)
        elif kind == 0x22:
            pass
        elif kind == 0x5A:  # the glue of two TZX files joined: the second one's header
            take_bytes(9)
        else:
            raise ValueError("block 0x%02X at %d" % (kind, at - 1))
    return items, texts


def render_tzx(tzx, wav, rate=44100):
    """The tape as tape2wav plays it into a WAV file at rate samples a second."""
    subprocess.run(["tape2wav", "-r", str(rate), tzx, wav], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)
    return wav


# ---- Families of synthetic tapes: each a list of Items, blocks of the ROM's form with their checksum.

def _body(size, seed, flag=0xFF):
    return data(pattern(size, seed), flag)


# Turbo loaders' speeds: pilot, its count, the two syncs, the 0 bit's pulse (the 1 bit's is twice).
SPEEDS = [(2168, 3223, (667, 735), 855), (2000, 3000, (600, 600), 518), (1900, 2500, (550, 550), 389),
          (1900, 2500, (550, 550), 259), (1850, 2200, (525, 525), 234), (1700, 2058, (450, 450), 200)]


def family_turbo(seed=1):
    """A block at each speed from the ROM's down to 200/400 T bits, the last byte of one holding 5 bits."""
    items = []
    for i, (pilot, count, sync, zero) in enumerate(SPEEDS):
        items.append(turbo(_body(300 + 97 * i, seed + i), pilot, count, sync, zero, pause=500))
    items.append(turbo(_body(40, seed + 9), 1700, 2058, (450, 450), 234, used=5, pause=500))
    return items


def family_asymmetric(seed=2):
    """Symbols whose first pulses are equal and second differ: 780+780 against 780+1560 T."""
    return [turbo(_body(500, seed), 2168, 3000, (667, 735), (780, 780), (780, 1560), pause=500),
            turbo(_body(64, seed + 1), 2168, 1500, (667, 735), (780, 780), (780, 1560), pause=500)]


def family_pure_after_pulses(seed=3):
    """Data with no pilot of its own right after a pulse sequence, its last byte of 6 bits, between ROM
    blocks."""
    return [rom(_body(100, seed), 300), pulse_sequence([714, 1429, 2147, 714]),
            pure(_body(200, seed + 1), 565, 1129, used=6, pause=300), rom(_body(100, seed + 2), 500)]


def family_clicking(seed=4):
    """A clicking pilot (bursts of 80 pilot pulses between pairs of 714 T pulses, then two of 3153 T)
    before pure data; then a pilot with a composite sync: 714, 1429, 2147, 2147, 2147, 1429, 714."""
    items = []
    for _ in range(12):
        items += [tone(2168, 80), pulse_sequence([714, 714])]
    items += [pulse_sequence([3153, 3153]), pure(_body(400, seed), 565, 1129, pause=400)]
    items += [turbo(_body(300, seed + 1), 2168, 1800, (714, 1429, 2147, 2147, 2147, 1429, 714), 565, 1129,
                    pause=500)]
    return items


def family_no_pause(seed=5):
    """A header whose data block's pilot starts right after its last bit; a data block followed at once
    by a faster pilot."""
    body = pattern(1000, seed)
    return [rom(header(3, "NOPAUSE", len(body), 32768), 0), rom(data(body), 0),
            turbo(_body(200, seed + 1), 1700, 2058, (450, 450), 259, pause=500)]


def family_big(seed=6):
    """A 48 KB block after its header."""
    body = pattern(49152, seed)
    return [rom(header(3, "BIG", len(body), 16384), 500), rom(data(body), 500)]


FAMILIES = {"turbo": family_turbo, "asymmetric": family_asymmetric, "pure": family_pure_after_pulses,
            "clicking": family_clicking, "nopause": family_no_pause, "big": family_big}
