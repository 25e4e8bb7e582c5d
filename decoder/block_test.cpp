#include "decoder/block.h"

#include "capture/pipe.h"
#include "decoder/halfperiod.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "decoder/timing.h"
#include "tests/fake_ui.h"
#include "tests/test_support.h"
#include "tools/tapgen.h"

namespace {

using Lines = std::vector<std::string>;

// Runs DecodeBlock once over a recording, with the TAP output on out.tap.
class BlockTest : public CoreTest {
protected:
    int32_t Decode(const Signal& signal)
    {
        WriteFileBytes("raw.pcm", signal.samples);
        EXPECT_TRUE(BeginRun("raw.pcm"));
        EXPECT_TRUE(OpenTapOutput("out.tap"));
        const int32_t verdict = DecodeBlock();
        CloseTapOutput();
        return verdict;
    }
    // The status messages from "Sync ok. Read data..." on.
    Lines DataPhase()
    {
        const Lines all = Messages();
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i] == "Sync ok. Read data...")
                return Lines(all.begin() + i, all.end());
        return {};
    }
};

TEST_F(BlockTest, DecodesBitsFromPairsOfHalfPeriods)
{
    Signal s;
    s.Pilot(300).Sync(8, 9).Bytes({0xA5, 0xA5}).EndOfBlock();
    EXPECT_EQ(Decode(s), 0);
    EXPECT_EQ(BlockSize, 2);
    EXPECT_EQ(ReadFileBytes("out.tap"), (std::vector<uint8_t>{0xA5, 0xA5}));
    EXPECT_EQ(Messages()[0], "Wait pilot...");
    EXPECT_EQ(Messages()[1], "Pilot stable.");
    EXPECT_EQ(FakeUiSnapshot().headerPane, "Read 2 bytes okey\r\n");
}

TEST_F(BlockTest, EndOfBlockIsLoggedInOrder)
{
    // Three whole bytes, then a pair summing to 60 at bit 3 of the fourth.
    Signal s;
    s.Pilot(300).Sync().Bytes({0x01, 0x02, 0x07}).Half(11).Half(11).Half(22).Half(22).Half(11).Half(11);
    s.Half(30).Half(30).Half(300);
    EXPECT_EQ(Decode(s), 1);
    const Lines lines = DataPhase();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1], "end at 3 bit");
    EXPECT_EQ(lines[2], "fr1=30 fr2=30 sum=60");
    EXPECT_EQ(lines[3].rfind("File position=", 0), 0u);
    EXPECT_EQ(lines[4], "Read 3 bytes");
    EXPECT_EQ(lines[5], "Warning! CRC summ error ");  // 1 ^ 2 ^ 7 is not 0
    EXPECT_EQ(BlockSize, 3);
    EXPECT_EQ(ReadFileBytes("out.tap").size(), 3u);
    EXPECT_EQ(FakeUiSnapshot().headerPane, "");
}

TEST_F(BlockTest, FilePositionIsTheOffsetAfterTheEndingPair)
{
    Signal s;
    s.Pilot(300).Sync().Bytes({0x00}).Half(30).Half(30);
    const size_t afterPair = s.samples.size() + 1;  // the pair's end is seen at the next sample
    s.Half(300);
    Decode(s);
    EXPECT_EQ(DataPhase()[3], "File position=" + std::to_string(afterPair));
}

TEST_F(BlockTest, OneRangeWinsWhereTheClassesOverlap)
{
    TimingSettings.ZeroMin = 15;
    TimingSettings.ZeroMax = 50;  // now 44 fits both
    Signal s;
    s.Pilot(300).Sync().Bytes({0xF0}).EndOfBlock();
    Decode(s);
    EXPECT_EQ(ReadFileBytes("out.tap"), (std::vector<uint8_t>{0xF0}));
}

TEST_F(BlockTest, ImpossibleZeroClassEndsAtTheFirstZeroBit)
{
    TimingSettings.ZeroMin = 30;
    TimingSettings.ZeroMax = 10;
    Signal s;
    s.Pilot(300).Sync().Bytes({0xF0}).EndOfBlock();
    Decode(s);
    EXPECT_EQ(DataPhase()[1], "end at 4 bit");
    EXPECT_EQ(BlockSize, 0);
}

TEST_F(BlockTest, PilotCounterRestartsOnANonPilotHalf)
{
    // 298 pilot halves, a 40, then 299 more: still short of 300, so the next sync is taken as a pilot
    // break and only the following stable pilot leads to a block.
    Signal s;
    s.Pilot(298).Half(40).Pilot(299).Sync().Pilot(300).Sync().Bytes({0x00}).EndOfBlock();
    Decode(s);
    const Lines lines = Messages();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Wait pilot...");
    EXPECT_EQ(lines[1], "Pilot stable.");
    EXPECT_EQ(lines[2].rfind("Sync ok", 0), 0u);
    EXPECT_EQ(BlockSize, 1);
}

TEST_F(BlockTest, PilotBreakNamesTheHalfAndTheOffset)
{
    Signal s;
    s.Pilot(300).Half(40);
    const size_t offset = s.samples.size() + 1;
    s.Pilot(300).Sync().Bytes({0x00}).EndOfBlock();
    Decode(s);
    const Lines lines = Messages();
    EXPECT_EQ(lines[2], "Pilot break (40), addr=" + std::to_string(offset));
    EXPECT_EQ(lines[3], "Wait pilot...");
}

TEST_F(BlockTest, TimeOutWhileWaitingForSyncIsAPilotBreak)
{
    Signal s;
    s.Pilot(300).Half(250).Pilot(300).Sync().Bytes({0x00}).EndOfBlock();
    Decode(s);
    EXPECT_EQ(Messages()[2].rfind("Pilot break (-1), addr=", 0), 0u);
}

TEST_F(BlockTest, BadSecondSyncHalfRestartsTheSearch)
{
    Signal s;
    s.Pilot(300).Sync(8, 30).Pilot(300).Sync().Bytes({0x00}).EndOfBlock();
    Decode(s);
    const Lines lines = Messages();
    EXPECT_EQ(lines[2], "Sync bad (30)");
    EXPECT_EQ(lines[3], "Wait pilot...");
}

TEST_F(BlockTest, EmptyDataPhaseIsASoundBlockOfNoBytes)
{
    Signal s;
    s.Pilot(300).Sync().EndOfBlock();
    EXPECT_EQ(Decode(s), 0);
    const Lines lines = DataPhase();
    EXPECT_EQ(lines[4], "Read 0 bytes");
    EXPECT_EQ(lines[5], "CRC summ ok");
}

TEST_F(BlockTest, KilobytesAreLoggedOncePerThousandTwentyFourBytes)
{
    Signal s;
    s.Pilot(300).Sync().Bytes(std::vector<uint8_t>(2050, 0x00)).EndOfBlock();
    Decode(s);
    Lines kb;
    for (const std::string& line : Messages())
        if (line.find("Kb") != std::string::npos)
            kb.push_back(line);
    EXPECT_EQ(kb, (Lines{"Read 1 Kb", "Read 2 Kb"}));
}

// A tape at the ROM's own timings, played up to a tenth fast or slow as decks run, reads whole with
// the default thresholds: every bit pattern, the sync and the silence that ends the block.
class RomTimingTest : public BlockTest, public ::testing::WithParamInterface<double> {};

TEST_P(RomTimingTest, DefaultsReadItAtTheSpeedsDecksRun)
{
    const std::vector<uint8_t> block = WithChecksum(0xFF, {0x00, 0x55, 0xAA, 0x01, 0x80, 0xFE, 0x7F});
    TapgenOptions options;
    options.speed = GetParam();
    Signal s;
    s.samples = TapgenRecording({block}, options);
    EXPECT_EQ(Decode(s), 0);
    EXPECT_EQ(ReadFileBytes("out.tap"), block);
}

INSTANTIATE_TEST_SUITE_P(NominalAndTenPercent, RomTimingTest, ::testing::Values(0.9, 1.0, 1.1));

TEST_F(BlockTest, QueueSourceHasNoOffsets)
{
    // Fed through the queue: no ", addr=" and no "File position=".
    Signal s;
    s.Pilot(300).Half(40).Pilot(300).Sync().Bytes({0x00}).Half(30).Half(30).Half(300);
    SamplePipe.add(s.samples.data(), static_cast<int32_t>(s.samples.size()));
    EXPECT_TRUE(OpenTapOutput("out.tap"));
    DecodeBlock();
    CloseTapOutput();
    const Lines lines = Messages();
    EXPECT_EQ(lines[2], "Pilot break (40)");
    for (const std::string& line : lines)
        EXPECT_EQ(line.find("File position"), std::string::npos);
}

}  // namespace
