#include "rescue/bits.h"

#include <gtest/gtest.h>

#include <vector>

#include "rescue/finder.h"
#include "rescue/slicer.h"
#include "tests/rescue/tapesim.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const Bytes kBlock = {0xFF, 0x00, 0xA5, 0x3C, 0x81, 0x7E, 0xFF ^ 0xA5 ^ 0x3C ^ 0x81 ^ 0x7E};

// Half-waves at the ROM's timings (pilot 2168 T-states, sync 667 and 735, bits 855 and 1710),
// 44100 samples a second, at a tape speed, with high half-waves longer than low ones by 2 * skew.
struct Halves {
    std::vector<HalfWave> list;
    double speed = 1, skew = 0, t = 0;
    int side = -1;

    Halves& Half(double tstates)
    {
        const double length = tstates / 3500000 * 44100 / speed + side * skew;
        t += length;
        list.push_back({t, static_cast<float>(length), static_cast<int8_t>(side)});
        side = -side;
        return *this;
    }
    Halves& Raw(double length)
    {
        t += length;
        list.push_back({t, static_cast<float>(length), static_cast<int8_t>(side)});
        side = -side;
        return *this;
    }
    Halves& Pilot(int count)
    {
        for (int i = 0; i < count; ++i)
            Half(2168);
        return *this;
    }
    Halves& Sync() { return Half(667).Half(735); }
    Halves& Data(const Bytes& bytes)
    {
        for (uint8_t byte : bytes)
            for (int bit = 7; bit >= 0; --bit)
                Half(byte >> bit & 1 ? 1710 : 855).Half(byte >> bit & 1 ? 1710 : 855);
        return *this;
    }
    Halves& Bits(unsigned value, int count)
    {
        for (int bit = count - 1; bit >= 0; --bit)
            Half(value >> bit & 1 ? 1710 : 855).Half(value >> bit & 1 ? 1710 : 855);
        return *this;
    }
    Halves& Silence() { return Raw(2000); }
};

// The finder over the half-waves: the first stretch it hands over, and how many half-waves it
// took to find the pilot.
struct Found {
    Stretch stretch;
    bool done = false;
    size_t pilotAt = 0;
};

Found Find(const std::vector<HalfWave>& halves)
{
    Found found;
    FinderState finder;
    FinderStart(finder, 256);
    for (size_t k = 0; k < halves.size() && !found.done; ++k)
        switch (FinderPush(finder, halves[k], 44100)) {
        case kFinderPilotFound:
            found.pilotAt = k + 1;
            break;
        case kFinderStretchDone:
            found.stretch = finder.stretch;
            found.done = true;
            break;
        case kFinderNothing:
            break;
        }
    if (!found.done && FinderFinish(finder)) {
        found.stretch = finder.stretch;
        found.done = true;
    }
    return found;
}

DecodedBlock Read(const Halves& halves)
{
    const Found found = Find(halves.list);
    EXPECT_TRUE(found.done);
    DecodedBlock block;
    DecodeStretch(found.stretch, block);
    return block;
}

TEST(Finder, PilotCountsFullPeriodsAndAStrayHalfWaveDoesNotRestartIt)
{
    // The first half-wave has no partner yet: the 256th full period ends at the 257th.
    Halves clean;
    clean.Pilot(300).Sync().Data(kBlock).Silence();
    EXPECT_EQ(Find(clean.list).pilotAt, 257u);

    // A click splits the 201st half-wave in three, which spoils four pair sums: the count goes on
    // after them.
    Halves stray;
    stray.Pilot(200).Raw(9).Raw(4).Raw(14).Pilot(100).Sync().Data(kBlock).Silence();
    EXPECT_EQ(Find(stray.list).pilotAt, 257u + 4);

    // Five spoilt pair sums in a row are no pilot: the count starts again after them.
    Halves broken;
    broken.Pilot(200).Raw(9).Raw(4).Raw(14).Raw(4).Pilot(300).Sync().Data(kBlock).Silence();
    EXPECT_EQ(Find(broken.list).pilotAt, 200u + 4 + 1 + 256);
}

TEST(Finder, MeasuresThePilotsPeriodAndSkew)
{
    Halves halves;
    halves.speed = 1.1;
    halves.skew = 3;
    halves.Pilot(400).Sync().Data(kBlock).Silence();
    const Found found = Find(halves.list);
    ASSERT_TRUE(found.done);
    EXPECT_NEAR(found.stretch.pilotPeriod, 2 * 2168.0 / 3500000 * 44100 / 1.1, 0.05);
    EXPECT_NEAR(found.stretch.halfSkew, 3, 0.3);
}

struct Tape {
    double speed, skew;
};

class BitsAtSpeed : public ::testing::TestWithParam<Tape> {};

TEST_P(BitsAtSpeed, WindowsFollowThePilotAndSkewIsEvened)
{
    Halves halves;
    halves.speed = GetParam().speed;
    halves.skew = GetParam().skew;
    halves.Pilot(400).Sync().Data(kBlock).Silence();
    const DecodedBlock block = Read(halves);
    EXPECT_TRUE(block.synced);
    EXPECT_EQ(block.bytes, kBlock);
    EXPECT_EQ(block.checksum, 0);
    EXPECT_EQ(block.endBit, 0);
}

// The default windows lose every one of these: a tape 15 % slow or fast, and edges skewed by more
// than a sync half-wave's margin.
INSTANTIATE_TEST_SUITE_P(Tapes, BitsAtSpeed,
                         ::testing::Values(Tape{1, 0}, Tape{0.85, 0}, Tape{1.15, 0}, Tape{1, 4.5}, Tape{0.9, -4.5}));

TEST(Bits, GlitchInsideAHalfWaveIsMergedAndTheBlockReadOn)
{
    // The third byte is 0xFF; the first half-wave of its first bit, 21.5 samples, is split by a
    // click into 9, 3 and 9.5.
    Halves halves;
    halves.Pilot(400).Sync().Data({0xFF, 0x01});
    halves.Raw(9).Raw(3).Raw(9.5).Half(1710).Bits(0x7F, 7);
    halves.Data({0xFF ^ 0x01 ^ 0xFF}).Silence();
    const DecodedBlock block = Read(halves);
    EXPECT_EQ(block.bytes, (Bytes{0xFF, 0x01, 0xFF, 0xFF ^ 0x01 ^ 0xFF}));
    EXPECT_EQ(block.checksum, 0);
}

TEST(Bits, TimeOutEndsTheBlockAndIsNeverSummedIntoABit)
{
    // After three bytes a 0 bit's second half-wave runs on into a drop-out: that bit is read from
    // its first half-wave, the drop-out ends the block instead of becoming part of a 1 bit, and
    // the data after it is no part of this block.
    Halves halves;
    halves.Pilot(400).Sync().Data({0xFF, 0x0F, 0x00}).Half(855).Raw(300).Data({0xAA, 0xAA}).Silence();
    const DecodedBlock block = Read(halves);
    EXPECT_EQ(block.bytes, (Bytes{0xFF, 0x0F, 0x00}));
    EXPECT_EQ(block.endBit, 1);
    EXPECT_NE(block.checksum, 0);
}

TEST(Bits, LastBitIsReadFromItsFirstHalfWave)
{
    // What follows the last half-wave is settling, not an edge: a 0 bit whose second half-wave
    // seems three times as long is still a 0.
    Halves halves;
    halves.Pilot(400).Sync().Data({0xFF, 0x00, 0xFF}).Bits(0, 7).Half(855).Raw(33).Silence();
    const DecodedBlock block = Read(halves);
    EXPECT_EQ(block.bytes, (Bytes{0xFF, 0x00, 0xFF, 0x00}));
    EXPECT_EQ(block.checksum, 0);
}

TEST(Bits, PilotGlitchIsNoSync)
{
    // A short pair inside the pilot looks like a sync, but pilot, not data, follows it.
    Halves halves;
    halves.Pilot(400).Raw(9).Raw(8).Pilot(200).Sync().Data(kBlock).Silence();
    const DecodedBlock block = Read(halves);
    EXPECT_EQ(block.bytes, kBlock);
}

// A rendered block, sliced with its filtered samples kept, read by area.
DecodedBlock ReadRendered(TapesimFamily family, int strength, const Bytes& bytes)
{
    const TapesimParams params = TapesimPreset(family, strength, 3);
    const std::vector<float> frames = TapesimRender({bytes}, params);
    SlicerState slicer;
    SlicerStart(slicer, SlicerSettings{}, 1, 44100, 0);
    std::vector<float> trace;
    slicer.trace = &trace;
    std::vector<HalfWave> halves;
    SlicerFeed(slicer, frames.data(), static_cast<int64_t>(frames.size()), halves);
    SlicerFinish(slicer, halves);
    const Found found = Find(halves);
    EXPECT_TRUE(found.done);
    DecodedBlock block;
    DecodeBySequence(found.stretch, trace, 0, 44100, block);
    return block;
}

TEST(Bits, SequenceByAreaReadsTheBlockAndStopsAtItsEnd)
{
    Bytes bytes = {0xFF};
    for (int i = 0; i < 300; ++i)
        bytes.push_back(static_cast<uint8_t>(i * 37 + 11));
    uint8_t check = 0;
    for (uint8_t byte : bytes)
        check ^= byte;
    bytes.push_back(check);
    for (const auto& [family, strength] : {std::pair<TapesimFamily, int>{kTapesimClean, 1}, {kTapesimHiss, 3},
                                           {kTapesimLowpass, 3}, {kTapesimHum, 2}}) {
        const DecodedBlock block = ReadRendered(family, strength, bytes);
        EXPECT_EQ(block.bytes, bytes) << TapesimFamilyName(family);
        EXPECT_EQ(block.checksum, 0);
    }
}

}  // namespace
