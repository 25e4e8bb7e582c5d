#include "rescue/rescue.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "decoder/block.h"
#include "decoder/blockfile.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "report/status.h"
#include "rescue/bits.h"
#include "rescue/finder.h"
#include "rescue/plays.h"
#include "rescue/repair.h"
#include "rescue/slicer.h"

namespace {

// Pilot half-waves that make a pilot on the first reading (the default decoder waits for 300), and
// on a second reading, which starts a quarter of a second before the stretch and so sees less.
const int kPilotHalves = 256;
const int kRetryPilotHalves = 64;
// Samples kept before the stretch for a second reading, in seconds: filters settle, the pilot is
// measured again.
const double kRetryLeadIn = 0.25;
// A failed block waits for the next pilot to know where its stretch ends; past this many seconds
// after the first reading's end it is read again without waiting longer.
const double kLongestWait = 20;
const size_t kChunk = 65536;
// Half-waves of a stretch too short to hold a block whose sync was lost: the pilot's tail that the
// finder hands over, and not one byte more.
const size_t kShortStretch = 64 + 16;

struct Attempt {
    const char* name;
    SlicerSettings slicer;
    int channel;  // -1 the mix of all channels, else the one channel read alone
    bool byArea;  // bits read by area (DecodeBySequence) rather than by crossings
};

std::vector<Attempt> Attempts(int channels)
{
    std::vector<Attempt> list;
    auto add = [&](const char* name, double highPass, double lowPass, double hysteresis, int channel, bool byArea) {
        Attempt a;
        a.name = name;
        a.slicer.highPassHz = highPass;
        a.slicer.lowPassHz = lowPass;
        a.slicer.hysteresis = hysteresis;
        a.channel = channel;
        a.byArea = byArea;
        list.push_back(a);
    };
    // First the reading that suits most tapes; then, each only when those before it failed: hum or
    // drift stronger than the signal, hiss or ripple riding across the base line, a signal that
    // falls faster than its level is followed (after a loud click), hiss again, crossings that
    // come and go (lossy codecs), both of those with hum; and each track of a stereo tape alone,
    // for a track that lost what the other kept or two tracks out of step that cancel in the mix.
    add("first reading", 30, 0, 0.15, -1, false);
    add("high-pass 300 Hz", 300, 0, 0.15, -1, false);
    add("hysteresis 0.35", 30, 0, 0.35, -1, false);
    add("no hysteresis", 30, 0, 0, -1, false);
    add("low-pass 5 kHz", 30, 5000, 0.25, -1, false);
    add("bits by area", 30, 0, 0.15, -1, true);
    add("bits by area, high-pass 300 Hz", 300, 0, 0.15, -1, true);
    static const char* const kChannelNames[kSlicerMaxChannels] = {
        "channel 1", "channel 2", "channel 3", "channel 4", "channel 5", "channel 6", "channel 7", "channel 8",
    };
    if (channels > 1)
        for (int c = 0; c < channels && c < kSlicerMaxChannels; ++c)
            add(kChannelNames[c], 30, 0, 0.15, c, false);
    for (Attempt& a : list)
        for (int c = 0; c < kSlicerMaxChannels; ++c)
            a.slicer.weights[c] = a.channel < 0 ? (c < channels ? 1.0f / static_cast<float>(channels) : 0.0f)
                                                : (c == a.channel ? 1.0f : 0.0f);
    return list;
}

// The samples held: interleaved frames from frame `base` on.
struct Held {
    std::vector<float> samples;
    int64_t base = 0;
    int channels = 1;

    int64_t End() const { return base + static_cast<int64_t>(samples.size()) / channels; }
    const float* At(int64_t frame) const { return samples.data() + (frame - base) * channels; }
    void DropBefore(int64_t frame)
    {
        // Dropped in large pieces, so that the samples are not moved for every chunk read.
        if (frame - base < static_cast<int64_t>(4 * kChunk))
            return;
        samples.erase(samples.begin(), samples.begin() + (frame - base) * channels);
        base = frame;
    }
};

// A block read once, with the stretch of recording that holds it.
struct Candidate {
    Stretch stretch;
    DecodedBlock block;
    int64_t from;  // first frame a second reading slices
    int64_t to;    // frame after the last one; known once the next pilot has been found
};

struct Rescue {
    const RescueSource& source;
    std::vector<Attempt> attempts;
    Held held;
    SlicerState slicer;
    FinderState finder;
    std::vector<HalfWave> halves;
    bool pending = false;  // a failed block waits for the end of its stretch
    Candidate failed;
    int expectedLength = -1;  // the length the last header announced for the block after it
    bool cannotCreate = false;
    // Set when the play is one of several: its blocks are gathered here and nothing is written
    // or logged (they are, once every play has been read).
    Play* play = nullptr;
    std::vector<Reading> readings;  // every reading of the block being resolved
    Tape* tape = nullptr;           // where a single play's items go
};

// The run's log, silent while one of several plays is read.
void Say(const Rescue& r, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Say(const Rescue& r, const char* format, ...)
{
    if (r.play)
        return;
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogStatus(text);
}

int64_t Frame(double sample)
{
    return static_cast<int64_t>(std::floor(sample));
}

std::string BadBlockAt(double from, double to, const char* recording)
{
    char text[96];
    std::snprintf(text, sizeof text, "Bad block at %.3f s to %.3f s of %.24s", from, to, recording);
    return text;
}

// A reading to keep: a whole block whose bytes XOR to 0 at a length that fits (the one a header
// announced, if any; a header's 19 bytes). A length found by the checksum itself needs that
// announcement, or the 19 bytes of a header.
bool Sound(const DecodedBlock& block, int expected)
{
    if (block.checksum != 0 || !LengthFits(block.bytes, expected))
        return false;
    return expected >= 0 || !block.endByChecksum || block.bytes[0] == 0x00;
}

// The item of a block read from the recording: its bytes, its verdict, where it lies and what was
// measured of its pilot (the rest of its timings are the ROM's, which this reading assumes).
TapeItem BlockItem(const std::vector<uint8_t>& bytes, bool bad, int64_t pilotStart, int32_t pilotHalfPeriods,
                   int64_t syncAt, int64_t end, double rate)
{
    TapeItem item;
    item.kind = kItemData;
    item.bytes = bytes;
    item.verdict = bad ? kVerdictError : kVerdictOk;
    item.timings = RomTimings(bytes.empty() ? 0xFF : bytes[0]);
    item.timings.pilotCount = pilotHalfPeriods;
    if (pilotHalfPeriods > 0)
        item.timings.pilot = SamplesToT(static_cast<double>(syncAt - pilotStart) / pilotHalfPeriods, rate);
    item.first = pilotStart;
    item.dataAt = syncAt;
    item.last = end;
    return item;
}

// Writes the block's file and keeps the item on the tape. False, after "Can't create file. Exit
// task", when the file cannot be created. *announced gets the length a sound header announces for
// the block after it, else -1.
bool Keep(Tape& tape, TapeItem& item, int* announced)
{
    if (!WriteBlockFile(item))
        return false;
    // The data block after a header holds its flag and checksum besides the announced bytes.
    *announced = AnnouncedLength(item.bytes);
    tape.items.push_back(std::move(item));
    return true;
}

// The block's file, numbered as the decoder numbers them, and the lines the decoder logs after one;
// of one of several plays, the block kept for later. It is good when its checksum holds at a length
// that fits, and repaired when `repaired` names the bits a repair flipped to make it hold.
void Write(Rescue& r, const Candidate& c, const std::vector<RepairedBit>& repaired = {},
           const std::string& note = std::string())
{
    const DecodedBlock& block = c.block;
    const int64_t pilotStart = Frame(c.stretch.pilotStart), syncAt = Frame(block.syncAt), end = Frame(block.endAt);
    const int32_t pilotHalfPeriods =
        static_cast<int32_t>(std::lround(static_cast<double>(syncAt - pilotStart) * 2 / c.stretch.pilotPeriod));
    const bool bad = XorChecksum(block.bytes) != 0 || !LengthFits(block.bytes, r.expectedLength);
    if (r.play) {
        const bool readingsKept = bad || !repaired.empty();
        r.play->blocks.push_back({block.bytes, bad, pilotStart, pilotHalfPeriods, syncAt, end,
                                  readingsKept ? std::move(r.readings) : std::vector<Reading>{},
                                  bad ? std::vector<RepairedBit>{} : repaired});
        r.readings.clear();
        r.expectedLength = AnnouncedLength(block.bytes);
        return;
    }
    TapeItem item = BlockItem(block.bytes, bad, pilotStart, pilotHalfPeriods, syncAt, end, r.source.rate);
    item.sureness = block.sureness;
    if (!bad && !repaired.empty()) {
        item.verdict = kVerdictRepaired;
        item.repaired = repaired;
    }
    if (!note.empty())
        item.notes.push_back(note);
    if (bad)
        item.notes.push_back(BadBlockAt(block.syncAt / r.source.rate, block.endAt / r.source.rate, "the recording"));
    if (!Keep(*r.tape, item, &r.expectedLength))
        r.cannotCreate = true;
}

// Reads the held stretch [c.from, c.to) again with one attempt's settings.
bool ReadAgain(Rescue& r, const Candidate& c, const Attempt& attempt, Candidate& out)
{
    SlicerState slicer;
    SlicerStart(slicer, attempt.slicer, r.held.channels, r.source.rate, c.from);
    std::vector<float> trace;
    if (attempt.byArea)
        slicer.trace = &trace;
    std::vector<HalfWave> halves;
    SlicerFeed(slicer, r.held.At(c.from), c.to - c.from, halves);
    SlicerFinish(slicer, halves);
    FinderState finder;
    FinderStart(finder, kRetryPilotHalves);
    bool found = false;
    for (const HalfWave& h : halves)
        if (FinderPush(finder, h, r.source.rate) == kFinderStretchDone) {
            found = true;
            break;
        }
    if (!found && !FinderFinish(finder))
        return false;
    out.stretch = std::move(finder.stretch);
    if (attempt.byArea)
        DecodeBySequence(out.stretch, trace, c.from, r.source.rate, out.block);
    else
        DecodeStretch(out.stretch, out.block);
    out.from = c.from;
    out.to = c.to;
    return out.block.synced;
}

// The length the readings of a block not read whole are voted at, whether the vote's result at
// that length is the block when its checksum holds (*fits), and whether that length is known well
// enough for a repair (*known): the announced length; 19 when most readings hold a header's flag;
// else the length most readings ended at where the signal did (or, with none, the first
// reading's), which fits but is not known: a reading broken off at a drop-out ends where the
// signal does too, and the checksum would be made to hold over a part of the block.
size_t LengthToMend(const std::vector<DecodedBlock>& readings, int expected, bool* fits, bool* known)
{
    *fits = *known = true;
    if (expected >= 0)
        return static_cast<size_t>(expected);
    size_t flagZero = 0;
    for (const DecodedBlock& b : readings)
        flagZero += b.bytes[0] == 0x00;
    if (2 * flagZero > readings.size())
        return 19;
    *known = false;
    std::vector<size_t> ended;
    for (const DecodedBlock& b : readings)
        if (!b.endByChecksum)
            ended.push_back(b.bytes.size());
    *fits = !ended.empty();
    if (ended.empty())
        return readings.front().bytes.size();
    size_t length = ended.front(), most = 0;
    for (size_t l : ended) {
        const size_t count = static_cast<size_t>(std::count(ended.begin(), ended.end(), l));
        if (count > most || (count == most && l > length)) {
            most = count;
            length = l;
        }
    }
    return length;
}

// A reading that went on past the length a header announced read what came after the block (the
// hiss after its end read as bits): cut to that length.
void CutToAnnounced(DecodedBlock& block, int expected)
{
    if (expected < 2 || block.bytes.size() <= static_cast<size_t>(expected))
        return;
    block.bytes.resize(static_cast<size_t>(expected));
    block.sureness.resize(8 * block.bytes.size());
    block.checksum = XorChecksum(block.bytes);
    block.endByChecksum = false;
}

// A block whose first reading failed: the other attempts over its stretch, the first sound one
// kept; when none is sound, every reading voted bit by bit, and the vote repaired by the checksum
// when that is clear enough (rescue/repair.h).
void Resolve(Rescue& r, Candidate& c)
{
    r.pending = false;
    c.from = std::max(c.from, r.held.base);
    c.to = std::min(c.to, r.held.End());
    const int expected = r.expectedLength;
    int made = 1;
    const size_t firstSize = c.block.bytes.size();
    CutToAnnounced(c.block, expected);
    Candidate best = c, other;
    bool sound = Sound(c.block, expected);
    if (sound)
        Say(r, "The first reading cut from %i to the %i bytes announced is whole", static_cast<int>(firstSize), expected);
    // Every reading, for the vote should none be sound; of one of several plays they are kept for
    // the plays' vote too.
    std::vector<DecodedBlock> readings;
    if (c.block.synced && !c.block.bytes.empty())
        readings.push_back(c.block);
    for (size_t a = 1; a < r.attempts.size() && !sound; ++a) {
        ++made;
        if (!ReadAgain(r, c, r.attempts[a], other)) {
            Say(r, "Attempt %i (%s): no sync", made, r.attempts[a].name);
            continue;
        }
        const int size = static_cast<int>(other.block.bytes.size());
        CutToAnnounced(other.block, expected);
        sound = Sound(other.block, expected);
        if (!sound && !other.block.bytes.empty())
            readings.push_back(other.block);
        if (size > expected && expected >= 2)
            Say(r, "Attempt %i (%s): %i bytes, cut to the %i announced, %s", made, r.attempts[a].name, size, expected,
                other.block.checksum == 0 ? "CRC summ ok" : "CRC summ error");
        else
            Say(r, "Attempt %i (%s): %i bytes, %s", made, r.attempts[a].name, size,
                other.block.checksum == 0 ? "CRC summ ok" : "CRC summ error");
        if (sound)
            best = std::move(other);
    }
    r.readings.clear();
    if (r.play)
        for (const DecodedBlock& b : readings)
            r.readings.push_back({b.bytes, b.sureness});
    if (!c.block.synced && !sound) {
        Say(r, "No block in this stretch");
        Say(r, " ");
        Say(r, "Wait pilot...");
        return;
    }
    if (sound) {
        Write(r, best);
        Say(r, "Wait pilot...");
        return;
    }
    Mended mended;
    std::vector<Reading> voting;
    if (!readings.empty()) {
        bool fits, known;
        const size_t length = LengthToMend(readings, expected, &fits, &known);
        for (const DecodedBlock& b : readings)
            voting.push_back({b.bytes, b.sureness});
        mended = MendReadings(voting, std::vector<size_t>(voting.size(), 0), length, expected, fits, known);
    }
    if (mended.verdict != kVerdictError) {
        best.block.bytes = mended.reading.bytes;
        best.block.sureness = mended.reading.sureness;
        for (const DecodedBlock& b : readings)
            best.block.endAt = std::max(best.block.endAt, b.endAt);
        char note[96];
        std::snprintf(note, sizeof note, "Voted bit by bit from %i readings", static_cast<int>(voting.size()));
        Write(r, best, mended.flipped, voting.size() > 1 ? note : "");
        Say(r, "Wait pilot...");
        return;
    }
    // A flag byte alone, or nothing: no block, whatever its checksum says (noise that looked like a
    // pilot and a sync, or a block broken off after its flag), so no file either.
    if (best.block.bytes.size() < 2) {
        Say(r, "Read %i bytes at %.3f s: too few for a block, dropped", static_cast<int>(best.block.bytes.size()),
            best.block.syncAt / r.source.rate);
        Say(r, " ");
        Say(r, "Wait pilot...");
        return;
    }
    if (c.block.checksum == 0 && expected >= 0)
        Say(r, "The header announced %i bytes, no reading has them whole; the first reading is kept as a bad block",
            expected - 2);
    else
        Say(r, "No attempt read the block whole; the first reading is kept");
    Write(r, best);
    Say(r, "Wait pilot...");
}

// Nine in ten of the stretch's half-waves are the pilot's: the pilot went on after whatever broke it.
bool MostlyPilot(const Stretch& stretch)
{
    const double half = stretch.pilotPeriod / 2;
    const size_t pilot = static_cast<size_t>(std::count_if(stretch.halves.begin(), stretch.halves.end(), [&](const HalfWave& h) {
        return std::fabs(h.length - h.side * stretch.halfSkew - half) < 0.15 * half;
    }));
    return pilot * 10 >= stretch.halves.size() * 9;
}

void StretchDone(Rescue& r)
{
    Candidate c;
    c.stretch = std::move(r.finder.stretch);
    DecodeStretch(c.stretch, c.block);
    const double lead = kRetryLeadIn * r.source.rate;
    c.from = Frame(c.stretch.halves.front().end - c.stretch.halves.front().length - lead);
    c.to = Frame(c.stretch.halves.back().end) + 1;
    // A pilot broken off by a glitch, with no data after it: the finder will find the rest of it.
    if (!c.block.synced && (c.stretch.halves.size() < kShortStretch || MostlyPilot(c.stretch))) {
        Say(r, "Pilot break at %.3f s", c.stretch.halves.back().end / r.source.rate);
        return;
    }
    if (c.block.synced)
        Say(r, "Sync ok. Read data...");
    if (Sound(c.block, r.expectedLength)) {
        Write(r, c);
        Say(r, "Wait pilot...");
        return;
    }
    if (c.block.synced)
        Say(r, "First reading: %i bytes, %s; reading again when the stretch has ended",
            static_cast<int>(c.block.bytes.size()), c.block.checksum == 0 ? "wrong length" : "CRC summ error");
    r.failed = std::move(c);
    r.pending = true;
}

void Take(Rescue& r, const HalfWave& h)
{
    switch (FinderPush(r.finder, h, r.source.rate)) {
    case kFinderPilotFound:
        if (r.pending) {
            // The stretch of the failed block ends where this pilot began.
            r.failed.to = std::max(r.failed.to, Frame(r.finder.start));
            Resolve(r, r.failed);
        }
        Say(r, "Pilot stable.");
        break;
    case kFinderStretchDone:
        StretchDone(r);
        break;
    case kFinderNothing:
        break;
    }
}

// The earliest frame that may still be read again.
int64_t Keep(const Rescue& r)
{
    int64_t keep = r.held.End() - static_cast<int64_t>(0.5 * r.source.rate);
    if (r.pending)
        keep = std::min(keep, r.failed.from);
    if (r.finder.phase == kFinderData && !r.finder.stretch.halves.empty()) {
        const HalfWave& first = r.finder.stretch.halves.front();
        keep = std::min(keep, Frame(first.end - first.length - kRetryLeadIn * r.source.rate));
    }
    return std::max(keep, r.held.base);
}


// A failed block is read again once the recording has gone on kLongestWait past its first
// reading's end with no pilot, and past the latest end of the block its header announced (every
// bit a 1, at the pilot's speed, a tenth slower still for wow): a long block whose first reading a
// drop-out broke off is read again whole.
int64_t ReadAgainAt(const Rescue& r)
{
    const int64_t waited = r.failed.to + static_cast<int64_t>(kLongestWait * r.source.rate);
    if (r.expectedLength <= 0 || !r.failed.block.synced)
        return waited;
    const double one = r.failed.stretch.pilotPeriod * 2 * kRomOne / (2 * kRomPilot);
    return std::max(waited, Frame(r.failed.block.syncAt + 1.1 * one * 8 * r.expectedLength + r.source.rate));
}

// Every half-wave the first reading cuts goes to the source's listener (the CSW), as it is cut.
void Sliced(const RescueSource& source, const HalfWave& h)
{
    if (source.sliced)
        source.sliced(source.sink, h.length, h.side);
}

int ReadToTheEnd(Rescue& r)
{
    const RescueSource& source = r.source;
    r.held.channels = std::max(1, source.channels);
    SlicerStart(r.slicer, r.attempts[0].slicer, r.held.channels, source.rate, 0);
    FinderStart(r.finder, kPilotHalves);
    Say(r, "Wait pilot...");
    std::vector<float> chunk(kChunk * static_cast<size_t>(r.held.channels));
    for (;;) {
        const size_t got = source.read(source.context, chunk.data(), kChunk);
        if (got == 0)
            break;
        const int64_t start = r.held.End();
        r.held.samples.insert(r.held.samples.end(), chunk.begin(),
                              chunk.begin() + static_cast<std::ptrdiff_t>(got) * r.held.channels);
        r.halves.clear();
        SlicerFeed(r.slicer, r.held.At(start), static_cast<int64_t>(got), r.halves);
        for (const HalfWave& h : r.halves) {
            Sliced(source, h);
            Take(r, h);
            if (r.cannotCreate)
                return kExitCannotCreate;
        }
        if (r.pending && r.held.End() > ReadAgainAt(r)) {
            r.failed.to = r.held.End();
            Resolve(r, r.failed);
        }
        r.held.DropBefore(Keep(r));
    }
    r.halves.clear();
    SlicerFinish(r.slicer, r.halves);
    for (const HalfWave& h : r.halves) {
        Sliced(source, h);
        Take(r, h);
    }
    if (FinderFinish(r.finder))
        StretchDone(r);
    if (r.pending) {
        r.failed.to = r.held.End();
        Resolve(r, r.failed);
    }
    Say(r, "End of the recording");
    return r.cannotCreate ? kExitCannotCreate : kExitEndOfFile;
}

}  // namespace

int RunRescue(const RescueSource& source, Tape& tape)
{
    Rescue r{source, Attempts(source.channels), {}, {}, {}, {}, false, {}, -1, false, nullptr, {}, &tape};
    tape.rate = source.rate;
    return ReadToTheEnd(r);
}

void ReadPlay(const RescueSource& source, Play& play)
{
    Rescue r{source, Attempts(source.channels), {}, {}, {}, {}, false, {}, -1, false, nullptr, {}, nullptr};
    r.play = &play;
    play.rate = source.rate;
    play.blocks.clear();
    ReadToTheEnd(r);
    play.frames = r.held.End();
}

int WritePlays(const std::vector<Play>& plays, const PlayedTape& sorted, Tape& tape)
{
    for (size_t p = 0; p < plays.size(); ++p) {
        int good = 0;
        for (const PlayBlock& b : plays[p].blocks)
            good += !b.bad;
        LogStatusF("Play %i: %s, %i blocks, %i good", static_cast<int>(p + 1), plays[p].name.c_str(),
                   static_cast<int>(plays[p].blocks.size()), good);
    }
    for (const std::string& line : sorted.leftOut)
        LogStatus(line.c_str());
    LogStatus(" ");
    tape.rate = plays.empty() ? 44100 : plays[0].rate;
    int expected = -1;
    for (size_t k = 0; k < sorted.blocks.size(); ++k) {
        // The copies of the plays the tape is written from; a block only in plays left out is
        // written where it fits by time, from them.
        MatchedBlock t = sorted.blocks[k];
        bool written = false;
        for (size_t p = 0; p < plays.size(); ++p)
            written = written || (t.copies[p] >= 0 && sorted.use[p] == kPlayWritten);
        for (size_t p = 0; p < plays.size(); ++p)
            if ((sorted.use[p] == kPlayWritten) != written)
                t.copies[p] = -1;
        size_t first = 0;
        while (t.copies[first] < 0)
            ++first;
        const PlayBlock& found = plays[first].blocks[static_cast<size_t>(t.copies[first])];
        if (!written && !FitsByTime(plays, sorted, k)) {
            LogStatusF("Left out: the block at %.3f s to %.3f s of play %i, found in no play the tape is written "
                       "from, lies where they hold a block",
                       static_cast<double>(found.syncAt) / plays[first].rate,
                       static_cast<double>(found.end) / plays[first].rate, static_cast<int>(first + 1));
            LogStatus(" ");
            continue;
        }
        const ChosenBlock chosen = ChooseCopy(plays, t, expected);
        // The positions reported are those of the copy kept, or of the first copy when rebuilt.
        size_t where = 0;
        while (t.copies[where] < 0)
            ++where;
        if (chosen.from != kRebuilt)
            where = static_cast<size_t>(chosen.from);
        const PlayBlock& copy = plays[where].blocks[static_cast<size_t>(t.copies[where])];
        const bool bad = chosen.verdict == kVerdictError;
        TapeItem item = BlockItem(chosen.bytes, bad, copy.pilotStart, copy.pilotHalfPeriods, copy.syncAt, copy.end,
                                  plays[where].rate);
        item.verdict = chosen.verdict;
        item.repaired = chosen.repaired;
        char text[160];
        if (bad) {
            std::snprintf(text, sizeof text, "play %i", static_cast<int>(where + 1));
            item.notes.push_back(BadBlockAt(static_cast<double>(copy.syncAt) / plays[where].rate,
                                            static_cast<double>(copy.end) / plays[where].rate, text));
        }
        item.origin = chosen.from == kRebuilt ? 0 : chosen.from + 1;
        if (!written)
            item.notes.push_back("Found only in a play left out; placed by time");
        std::vector<int> with;
        for (size_t p = 0; p < plays.size(); ++p)
            if (t.copies[p] >= 0)
                with.push_back(static_cast<int>(p + 1));
        if (chosen.from != kRebuilt) {
            std::snprintf(text, sizeof text, "From play %i", chosen.from + 1);
        } else {
            std::string list;
            for (size_t k = 0; k < with.size(); ++k)
                list += (k ? k + 1 == with.size() ? " and " : ", " : "") + std::to_string(with[k]);
            std::snprintf(text, sizeof text, "Rebuilt bit by bit from plays %s", list.c_str());
        }
        item.notes.push_back(text);
        for (size_t p = 0; p < plays.size(); ++p) {
            if (t.copies[p] < 0) {
                std::snprintf(text, sizeof text, "Play %i: not found", static_cast<int>(p + 1));
                item.copies.push_back({static_cast<int>(p + 1), -1, -1, kVerdictError});
            } else {
                const PlayBlock& b = plays[p].blocks[static_cast<size_t>(t.copies[p])];
                std::snprintf(text, sizeof text, "Play %i: %.3f s to %.3f s, %i bytes, %s", static_cast<int>(p + 1),
                              static_cast<double>(b.syncAt) / plays[p].rate, static_cast<double>(b.end) / plays[p].rate,
                              static_cast<int>(b.bytes.size()), b.bad ? "bad" : b.repaired.empty() ? "CRC summ ok" : "repaired");
                item.copies.push_back({static_cast<int>(p + 1), b.pilotStart, b.end,
                                       b.bad ? kVerdictError : b.repaired.empty() ? kVerdictOk : kVerdictRepaired});
            }
            item.notes.push_back(text);
        }
        if (!Keep(tape, item, &expected))
            return kExitCannotCreate;
    }
    LogStatus("End of the recordings");
    return kExitEndOfFile;
}
