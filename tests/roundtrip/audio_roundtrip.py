#!/usr/bin/env python3
"""Round trip through audio files: tapes rendered by quorvane-tapgen, converted with sox into the
formats people record in, decoded by quorvane-decode, and every block compared byte for byte with
the TAP file it came from; damaged files, channel choice, a very quiet recording, the JSON report
and the joined TAP file, several plays of one tape read at once by --rescue, and the tape images it
writes (TZX, CSW).

    audio_roundtrip.py --tapgen PATH --decode PATH [unittest arguments]
"""
import json
import os
import random
import re
import struct

from runner import CRC_OK, PROGRAMS, ROOT, Case, main, sample_blocks
import tapes
from tapes import RAW, data, header, spoil, tap_image

# Each format as sox writes it from a raw recording: (name, file name, sox output options).
FORMATS = [
    ("WAV 16-bit stereo 48 kHz", "tape.wav", ["-r", "48000", "-b", "16", "-c", "2"]),
    ("WAV 24-bit stereo 96 kHz", "tape24.wav", ["-r", "96000", "-b", "24", "-c", "2"]),
    ("WAV 32-bit integer mono 44.1 kHz", "tape32.wav", ["-b", "32", "-e", "signed-integer"]),
    ("WAV 32-bit float stereo 48 kHz", "tapef.wav", ["-r", "48000", "-e", "floating-point", "-b", "32", "-c", "2"]),
    ("WAV 64-bit float mono 88.2 kHz", "tapef64.wav", ["-r", "88200", "-e", "floating-point", "-b", "64"]),
    ("WAV 8-bit mono 22.05 kHz", "tape22.wav", ["-r", "22050", "-b", "8"]),
    ("WAV 16-bit, 6 channels", "tape6.wav", ["-b", "16", "-c", "6"]),
    ("Wave64 16-bit stereo 48 kHz", "tape.w64", ["-r", "48000", "-b", "16", "-c", "2"]),
    ("FLAC 16-bit stereo 48 kHz", "tape.flac", ["-r", "48000", "-b", "16", "-c", "2"]),
    ("FLAC 24-bit stereo 96 kHz", "tape24.flac", ["-r", "96000", "-b", "24", "-c", "2"]),
    ("Ogg Vorbis stereo 44.1 kHz", "tape.ogg", ["-c", "2"]),
    ("Ogg Vorbis mono 48 kHz", "tape48.ogg", ["-r", "48000", "-C", "3"]),
    ("AIFF 16-bit stereo 48 kHz", "tape.aiff", ["-r", "48000", "-b", "16", "-c", "2"]),
    ("AIFF-C float mono", "tape.aifc", ["-e", "floating-point", "-b", "32"]),
    ("AU 16-bit mono 32 kHz", "tape.au", ["-r", "32000", "-b", "16"]),
    ("CAF 16-bit stereo 48 kHz", "tape.caf", ["-r", "48000", "-b", "16", "-c", "2"]),
]


def strip_times(log):
    """status.log without the time stamps that open its lines."""
    return re.sub(rb"(?m)^\d\d:\d\d:\d\d ", b"", log)


def wav_to_rf64(wav):
    """The same audio as RF64: the RIFF sizes moved into a ds64 chunk, the 32-bit ones all ones."""
    fmt_at = wav.index(b"fmt ")
    data_at = wav.index(b"data")
    fmt = wav[fmt_at:data_at]
    payload = wav[data_at + 8:]
    samples = len(payload) // struct.unpack("<H", wav[fmt_at + 20:fmt_at + 22])[0]
    ds64 = b"ds64" + struct.pack("<IQQQI", 28, 0, len(payload), samples, 0)
    body = b"WAVE" + ds64 + fmt + b"data" + struct.pack("<I", 0xFFFFFFFF) + payload
    riff_size = len(body)
    ds64 = b"ds64" + struct.pack("<IQQQI", 28, riff_size, len(payload), samples, 0)
    body = b"WAVE" + ds64 + fmt + b"data" + struct.pack("<I", 0xFFFFFFFF) + payload
    return b"RF64" + struct.pack("<I", 0xFFFFFFFF) + body


class AudioCase(Case):
    def sox(self, *args):
        result = self.run_tool(["sox"] + [str(a) for a in args])
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))

    def assert_refused(self, recording, *options, words=()):
        decoded = self.decode(recording, *options, expect=1)
        self.assertFalse(os.path.exists(decoded.tape_dir), "TAPE made for a refused file")
        self.assertEqual(os.listdir(decoded.cwd), [])
        message = decoded.result.stderr.decode()
        self.assertIn(os.path.basename(recording), message)
        for word in words:
            self.assertIn(word, message)
        return message


class EveryFormat(AudioCase):
    def test_every_format_gives_every_block(self):
        blocks = sample_blocks()
        pcm = self.render(blocks, "sample")
        for name, out, options in FORMATS:
            with self.subTest(format=name):
                decoded = self.decode(self.convert(pcm, out, options))
                self.assert_blocks(decoded, blocks)
                self.assertEqual(decoded.log.count(CRC_OK), len(blocks))

    def test_rf64(self):
        blocks = sample_blocks()
        wav = self.convert(self.render(blocks, "sample"), "tape.wav", ["-r", "48000", "-b", "16", "-c", "2"])
        with open(wav, "rb") as f, open(self.path("tape.rf64"), "wb") as out:
            out.write(wav_to_rf64(f.read()))
        self.assert_blocks(self.decode(self.path("tape.rf64")), blocks)

    def test_recognised_by_contents_not_name(self):
        blocks = sample_blocks()
        pcm = self.render(blocks, "sample")
        flac = self.convert(pcm, "tape.flac", ["-r", "48000", "-b", "16"])
        os.rename(flac, self.path("tape.pcm"))
        self.assert_blocks(self.decode(self.path("tape.pcm")), blocks)
        os.rename(pcm, self.path("sample.wav"))
        self.assert_blocks(self.decode(self.path("sample.wav")), blocks)

    def test_eight_bit_mono_44100_is_the_raw_recording(self):
        # Same samples, same run: every TAP file and every status.log line bar its time stamp.
        rng = random.Random(8)
        blocks = sample_blocks() + [spoil(data(bytes(rng.randrange(256) for _ in range(500))))]
        pcm = self.render(blocks, "mixed", "--speed", "1.05")
        wav = self.convert(pcm, "tape8.wav", ["-b", "8"])
        for baseline in ("128", "0", "255", "100"):
            with self.subTest(baseline=baseline):
                raw = self.decode(pcm, "--BaseLine", baseline)
                audio = self.decode(wav, "--BaseLine", baseline)
                self.assertEqual(strip_times(raw.log), strip_times(audio.log))
                self.assertEqual(raw.result.stdout.count(b"\n"), audio.result.stdout.count(b"\n"))
                for number in range(1, len(blocks) + 2):
                    self.assertEqual(raw.tap(number), audio.tap(number), "out%03i.tap" % number)

    def test_positions_count_samples_at_44100(self):
        # Where each pilot starts, read from a 96 kHz file, is where it starts in the raw recording.
        # (The ends may differ by a few milliseconds: the converted file rings around the base line
        # after the last edge, where the raw one lies still on it until the time-out.)
        blocks = sample_blocks()
        pcm = self.render(blocks, "sample")
        wav = self.convert(pcm, "tape96.wav", ["-r", "96000", "-b", "24"])
        starts = []
        for recording in (pcm, wav):
            decoded = self.decode(recording, "--report", "r.json")
            with open(os.path.join(decoded.cwd, "r.json")) as f:
                starts.append([b["start"]["sample"] for b in json.load(f)["blocks"]])
        self.assertEqual(len(starts[0]), len(blocks))
        self.assertEqual(len(starts[1]), len(blocks))
        for a, b in zip(*starts):
            self.assertLessEqual(abs(a - b), 2)


class Precision(AudioCase):
    def test_quiet_sixteen_bit_recording(self):
        # Levels of about 20 in 32768, a sixth of one 8-bit step: cut to 8 bits first, it is silence.
        blocks = sample_blocks()
        pcm = self.render(blocks, "sample")
        quiet = self.path("quiet.wav")
        self.sox("-D", *RAW, pcm, "-b", "16", "-r", "48000", quiet, "vol", "0.001")
        decoded = self.decode(quiet)
        self.assert_blocks(decoded, blocks)
        eight = self.path("quiet8.wav")
        self.sox("-D", quiet, "-b", "8", eight)
        self.assertNotIn(CRC_OK, self.decode(eight).log)

    def test_base_line_at_the_same_point_of_the_scale(self):
        # The tape moved down to about 113 and 41 on the raw scale, its silence to 77: BaseLine 60
        # finds it (silence stays on the high side, as the decoder needs at a block's end), 128
        # does not.
        blocks = sample_blocks()
        pcm = self.render(blocks, "sample")
        low = self.path("low.wav")
        self.sox("-D", *RAW, pcm, "-b", "16", "-r", "48000", low, "vol", "0.5", "dcshift", "-0.4")
        self.assert_blocks(self.decode(low, "--BaseLine", "60"), blocks)
        self.assertNotIn(CRC_OK, self.decode(low).log)


class Channels(AudioCase):
    def make_stereo(self, blocks):
        pcm = self.render(blocks, "sample")
        tape = self.convert(pcm, "left.wav", ["-b", "16"])
        seconds = os.path.getsize(pcm) / 44100
        noise = self.path("noise.wav")
        self.sox("-n", "-r", "44100", "-b", "16", noise, "synth", "%.3f" % seconds, "whitenoise", "vol", "0.9")
        stereo = self.path("stereo.wav")
        self.sox("-M", tape, noise, "-r", "48000", stereo)
        return stereo

    def test_one_channel_of_two_with_noise_on_the_other(self):
        blocks = sample_blocks()
        stereo = self.make_stereo(blocks)
        for choice in ("left", "1", "--channel=left"):
            with self.subTest(choice=choice):
                args = [choice] if choice.startswith("--") else ["--channel", choice]
                self.assert_blocks(self.decode(stereo, *args), blocks)
        self.assertNotIn(CRC_OK, self.decode(stereo, "--channel", "right").log)

    def test_unknown_channel(self):
        stereo = self.make_stereo(sample_blocks())
        self.assert_refused(stereo, "--channel", "3", words=("2 channels", "channel 3"))
        self.assert_refused(self.path("sample.pcm"), "--channel", "right", words=("one channel",))
        for bad in ("0", "middle", "-1", ""):
            with self.subTest(channel=bad):
                decoded = self.decode(stereo, "--channel", bad, expect=2)
                self.assertFalse(os.path.exists(decoded.tape_dir))


class Damage(AudioCase):
    def tape(self):
        # Blocks far apart, so that a damaged stretch can lie inside one of them alone.
        rng = random.Random(77)
        blocks = [data(bytes(rng.randrange(256) for _ in range(3000))) for _ in range(5)]
        return blocks, self.render(blocks, "five")

    def test_cut_inside_the_header(self):
        _, pcm = self.tape()
        for out, options, keep in (("h.wav", ["-b", "16"], 30), ("h.flac", ["-b", "16"], 30),
                                   ("h.ogg", [], 40), ("h.aiff", ["-b", "16"], 40), ("h.caf", ["-b", "16"], 40),
                                   ("h.w64", ["-b", "16"], 60), ("h.au", ["-b", "16"], 20)):
            with self.subTest(format=out):
                path = self.convert(pcm, out, options)
                with open(path, "r+b") as f:
                    f.truncate(keep)
                self.assert_refused(path)

    def test_cut_inside_the_data(self):
        _, pcm = self.tape()
        for out, options in (("d.wav", ["-b", "16", "-r", "48000"]), ("d.flac", ["-b", "16"]), ("d.ogg", []),
                             ("d.aiff", ["-b", "16"]), ("d.w64", ["-b", "24"]), ("d.caf", ["-b", "16"]),
                             ("d.au", ["-b", "16"])):
            with self.subTest(format=out):
                path = self.convert(pcm, out, options)
                with open(path, "r+b") as f:
                    f.truncate(os.path.getsize(path) * 2 // 3)
                self.assertIn("truncated", self.assert_refused(path))

    def intact(self, decoded, blocks):
        files = [decoded.tap(n) for n in range(1, len(blocks) + 3)]
        good = [tap[2:] for tap in files if tap and len(tap) > 2]
        return [number for number, block in enumerate(blocks, start=1) if block in good]

    def test_zeroed_stretches(self):
        # A stretch of 2 % of the file zeroed halfway through the third block (by its share of the
        # file; a compressed stream's bytes do not follow time, so there it lands near it): the
        # decoder goes on past it, and at most one block is hurt.
        blocks, pcm = self.tape()
        raw = self.decode(pcm, "--report", "r.json")
        with open(os.path.join(raw.cwd, "r.json")) as f:
            raw_starts = [b["start"]["sample"] for b in json.load(f)["blocks"]]
        ends = [int(n) for n in re.findall(rb"File position=(\d+)", raw.log)]
        middle = (ends[1] + raw_starts[2]) // 2 + (ends[2] - raw_starts[2]) // 2
        samples = os.path.getsize(pcm)
        # Vorbis at its default quality already garbles a 1-sample edge here and there of this
        # mono tape of random bytes (an 8-bit cut of it gives no good block either): quality 6.
        for out, options in (("z.wav", ["-b", "16", "-r", "48000", "-c", "2"]), ("z.flac", ["-b", "16", "-r", "48000"]),
                             ("z.ogg", ["-C", "6"])):
            with self.subTest(format=out):
                path = self.convert(pcm, out, options)
                size = os.path.getsize(path)
                with open(path, "r+b") as f:
                    f.seek(size * middle // samples)
                    f.write(bytes(size // 50))
                decoded = self.decode(path, "--report", "r.json")
                intact = self.intact(decoded, blocks)
                self.assertGreaterEqual(len(intact), len(blocks) - 1, "intact: %s" % intact)
                if out != "z.ogg":
                    self.assertEqual(intact, [1, 2, 4, 5])
                if out == "z.flac":
                    # Read past as silence of its length: the blocks after it start where they did.
                    self.assertIn(b"read as silence", decoded.result.stderr)
                    with open(os.path.join(decoded.cwd, "r.json")) as f:
                        report = json.load(f)
                    self.assertEqual(len(report["damage"]), 1)
                    starts = [b["start"]["sample"] for b in report["blocks"]]
                    self.assertLessEqual(abs(starts[-1] - raw_starts[-1]), 2)


class ReportAndJoin(AudioCase):
    def test_report_and_joined_tap_describe_the_blocks(self):
        rng = random.Random(5)
        code = bytes(rng.randrange(256) for _ in range(700))
        blocks = [header(0, "loader", 120, 10, 120), data(bytes(120)), header(3, "code`\x7f", len(code), 32768, 7),
                  spoil(data(code)), header(1, "table", 30, 0x8000 | 7, 40), data(bytes(range(30)))]
        pcm = self.render(blocks, "report")
        wav = self.convert(pcm, "report.wav", ["-b", "16", "-r", "48000", "-c", "2"])
        decoded = self.decode(wav, "--report", "report.json", "--join", self.path("joined.tap"))
        with open(os.path.join(decoded.cwd, "report.json"), encoding="utf-8") as f:
            report = json.load(f)
        self.assertEqual(report["input"], wav)
        self.assertEqual(report["sample_rate"], 44100)
        self.assertIn("WAV", report["format"])
        self.assertEqual(len(report["blocks"]), len(blocks))
        previous_end = 0
        for number, (entry, block) in enumerate(zip(report["blocks"], blocks), start=1):
            with self.subTest(block=number):
                self.assertEqual(entry["number"], number)
                self.assertEqual(entry["file"], "out%03i.tap" % number)
                self.assertEqual(entry["length"], len(block))
                self.assertEqual(entry["flag"], block[0])
                self.assertEqual(entry["checksum"], "bad" if number == 4 else "ok")
                start, end = entry["start"]["sample"], entry["end"]["sample"]
                self.assertLess(previous_end, start)
                self.assertLess(start, end)
                previous_end = end
                self.assertAlmostEqual(entry["start"]["seconds"], start / 44100, places=5)
                # The ROM's pilot pulse is 2168 T-states at 3.5 MHz: 27.3 samples at 44100/s.
                self.assertAlmostEqual(entry["mean_pilot_half_period"], 2168 / 3.5e6 * 44100, delta=0.3)
                self.assertGreater(entry["pilot_half_periods"], 3000)
                if block[0] == 0:
                    fields = entry["header"]
                    self.assertEqual(fields["type"], block[1])
                    self.assertEqual(fields["data_length"], struct.unpack("<H", block[12:14])[0])
                    self.assertEqual(fields["param1"], struct.unpack("<H", block[14:16])[0])
                    self.assertEqual(fields["param2"], struct.unpack("<H", block[16:18])[0])
                else:
                    self.assertNotIn("header", entry)
        self.assertEqual(report["blocks"][2]["header"]["name"], "code\u00a3\u00a9    ")
        self.assertEqual(report["blocks"][0]["header"]["type_name"], "Program")
        ends = [int(n) for n in re.findall(rb"File position=(\d+)", decoded.log)]
        self.assertEqual(ends, [b["end"]["sample"] for b in report["blocks"]])
        with open(self.path("joined.tap"), "rb") as f:
            joined = f.read()
        self.assertEqual(joined, tap_image(blocks))
        self.assertEqual(joined, b"".join(decoded.tap(n) for n in range(1, len(blocks) + 1)))

    def test_block_cut_short_by_the_end_of_the_recording(self):
        blocks = [header(3, "cut", 2000), data(bytes(range(256)) * 8)]
        pcm = self.render(blocks, "cut")
        with open(pcm, "r+b") as f:
            f.truncate(os.path.getsize(pcm) - 44100 - 2000 * 16 * 8)
        decoded = self.decode(pcm, "--report", "r.json", "--join", "j.tap")
        with open(os.path.join(decoded.cwd, "r.json")) as f:
            report = json.load(f)
        self.assertEqual([b["checksum"] for b in report["blocks"]], ["ok", "unfinished"])
        self.assertEqual(report["blocks"][1]["end"]["sample"], os.path.getsize(pcm))
        unfinished = decoded.tap(2)
        self.assertEqual(unfinished[:2], b"  ")
        with open(os.path.join(decoded.cwd, "j.tap"), "rb") as f:
            joined = f.read()
        part = unfinished[2:]
        self.assertEqual(joined, tap_image([blocks[0], part]))
        self.assertEqual(report["blocks"][1]["length"], len(part))

    def test_report_where_it_cannot_be_written(self):
        pcm = self.render(sample_blocks(), "sample")
        decoded = self.decode(pcm, "--report", self.path("nowhere/r.json"), expect=2)
        self.assertFalse(os.path.exists(decoded.tape_dir))


class CommandLine(AudioCase):
    def test_help_and_version(self):
        result = self.run_tool([PROGRAMS["decode"], "--help"])
        self.assertEqual(result.returncode, 0)
        for word in (b"--channel", b"--report", b"--join", b"BaseLine", b"FLAC"):
            self.assertIn(word, result.stdout)
        result = self.run_tool([PROGRAMS["decode"], "--version"])
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"libsndfile", result.stdout)
        # The version is the build's own, not a constant of the source.
        cmake = open(os.path.join(ROOT, "CMakeLists.txt")).read()
        version = re.search(r"project\(quorvane VERSION ([0-9.]+)", cmake).group(1)
        self.assertTrue(result.stdout.startswith(b"quorvane-decode " + version.encode()), result.stdout)

    def test_unreadable_audio_is_named(self):
        path = self.path("noise.flac")
        with open(path, "wb") as f:
            f.write(b"fLaC" + bytes(range(256)) * 4)
        self.assert_refused(path, words=("FLAC",))


class Plays(AudioCase):
    def plays(self):
        """Two plays of a tape of three blocks, each with a block the other reads whole: the first
        a raw recording with a silence inside its second block, the second a 16-bit WAV at 48 kHz
        that starts after the header and has a silence inside the last block."""
        rng = random.Random(20)
        blocks = [header(3, "plays", 300), data(bytes(rng.randrange(256) for _ in range(300))),
                  data(bytes(rng.randrange(256) for _ in range(200)))]
        pcm = self.render(blocks, "plays")
        whole = self.decode(pcm, "--rescue", "--report", "r.json")
        with open(os.path.join(whole.cwd, "r.json")) as f:
            spans = [(b["start"]["sample"], b["end"]["sample"]) for b in json.load(f)["blocks"]]
        with open(pcm, "rb") as f:
            samples = bytearray(f.read())

        def silence(play, block):
            inside = spans[block][1] - 20000  # in the data, well after the sync
            play[inside:inside + 3000] = bytes([128]) * 3000
            return play

        first = self.path("first.pcm")
        with open(first, "wb") as f:
            f.write(silence(bytearray(samples), 1))
        cut = spans[0][1] + 20000
        with open(self.path("second.pcm"), "wb") as f:
            f.write(silence(bytearray(samples), 2)[cut:])
        second = self.convert(self.path("second.pcm"), "second.wav", ["-b", "16", "-r", "48000"])
        return blocks, first, second, spans, cut

    def test_each_block_from_the_play_that_read_it_whole(self):
        blocks, first, second, spans, cut = self.plays()
        decoded = self.decode("--rescue", first, second, "--report", "r.json", "--join", self.path("j.tap"))
        self.assert_blocks(decoded, blocks)
        log = decoded.log.decode("cp1251")
        self.assertIn("From play 2", log)
        self.assertIn("Play 2: not found", log)
        with open(os.path.join(decoded.cwd, "r.json")) as f:
            report = json.load(f)
        self.assertEqual([p["input"] for p in report["plays"]], [first, second])
        self.assertEqual([b["from_play"] for b in report["blocks"]], [1, 2, 1])
        header_copies, data_copies = report["blocks"][0]["plays"], report["blocks"][1]["plays"]
        self.assertEqual(header_copies[1], {"play": 2})
        self.assertEqual([c["checksum"] for c in data_copies], ["bad", "ok"])
        # The second play's clock runs from where it was cut.
        self.assertAlmostEqual(data_copies[1]["start"]["sample"], spans[1][0] - cut, delta=30)
        with open(self.path("j.tap"), "rb") as f:
            self.assertEqual(f.read(), tap_image(blocks))

    def test_plays_with_no_block_are_left_out_and_the_good_play_written(self):
        """Two plays in which no block is found (hiss alone) beside one that holds the tape: the
        tape is the good play's, exit 0, and each empty play is named once on standard error and in
        the log. Only a file that cannot be read is refused."""
        blocks, first, second, _, _ = self.plays()
        good = self.render(blocks, "good")
        rng = random.Random(7)
        empty = []
        for k in (1, 2):
            empty.append(self.path("empty%d.pcm" % k))
            with open(empty[-1], "wb") as f:
                f.write(bytes(128 + rng.randrange(-3, 4) for _ in range(3 * 44100)))
        decoded = self.decode("--rescue", empty[0], good, empty[1])
        self.assert_blocks(decoded, blocks)
        message = decoded.result.stderr.decode()
        log = decoded.log.decode("cp1251")
        for name in empty:
            line = "'%s': no block found in it; the tape is written from the other plays" % name
            self.assertEqual(message.count(line), 1, message)
            self.assertEqual(log.count(line), 1)
        self.assert_refused(self.path("missing.wav"), "--rescue", first, words=("cannot open",))
        self.decode(first, second, expect=2)

    def test_tape_images(self):
        """--tzx and --csw: the plays' blocks in the TZX, an image that cannot be written named with
        exit 4 and the TAP files kept, and both options only with --rescue."""
        blocks, first, second, _, _ = self.plays()
        decoded = self.decode("--rescue", first, second, "--tzx", "t.tzx", "--csw", "c.csw")
        self.assert_blocks(decoded, blocks)
        items, texts = tapes.read_tzx(tapes.read(os.path.join(decoded.cwd, "t.tzx")))
        self.assertEqual([i.block for i in items if i.kind == "data"], blocks)
        self.assertTrue(texts[0][1].startswith("Quorvane "), texts)
        self.assertEqual(tapes.read(os.path.join(decoded.cwd, "c.csw"))[:23], b"Compressed Square Wave\x1a")
        decoded = self.decode(first, "--rescue", "--tzx", "/dev/full", "--csw", "/dev/full", expect=4)
        self.assertEqual(decoded.result.stderr.decode().count("'/dev/full'"), 2)
        self.assertEqual(tapes.back(blocks, decoded.tape_dir, 1), 2)
        self.decode(first, "--tzx", "t.tzx", expect=2)


if __name__ == "__main__":
    main()
