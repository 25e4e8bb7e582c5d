#include "tape/tape.h"

#include <algorithm>
#include <string>
#include <vector>

#include "decoder/blockfile.h"
#include "decoder/catalogue.h"
#include "tape/join.h"
#include "tests/test_support.h"

namespace {

TapeItem Block(const std::vector<uint8_t>& bytes, const BlockTimings& timings, TapeVerdict verdict)
{
    TapeItem item;
    item.bytes = bytes;
    item.timings = timings;
    item.verdict = verdict;
    return item;
}

BlockTimings Scaled(double by)
{
    BlockTimings t = RomTimings(0xFF);
    t.pilot = static_cast<int>(t.pilot * by);
    for (int& s : t.sync)
        s = static_cast<int>(s * by);
    t.zero[0] = t.zero[1] = static_cast<int>(kRomZero * by);
    t.one[0] = t.one[1] = static_cast<int>(kRomOne * by);
    return t;
}

class TapeUnit : public CoreTest {};

// A deck a few per cent off speed still gives blocks the ROM loads, which a TAP file may hold; the
// TZX's standard block needs the ROM's timings themselves.
TEST_F(TapeUnit, TimingsDecideWhereABlockMayGo)
{
    EXPECT_TRUE(RomTimed(Scaled(1.015)));
    EXPECT_FALSE(RomTimed(Scaled(1.03)));
    EXPECT_TRUE(RomLoadable(Scaled(1.1)));
    EXPECT_FALSE(RomLoadable(Scaled(1.15)));
    BlockTimings asymmetric = RomTimings(0xFF);
    asymmetric.one[0] = kRomZero;
    EXPECT_FALSE(RomLoadable(asymmetric));
    EXPECT_STREQ(ItemKindWord(Block({}, Scaled(0.5), kVerdictNone)), "turbo");
    BlockTimings pure = Scaled(0.5);
    pure.pilotCount = 0;
    EXPECT_STREQ(ItemKindWord(Block({}, pure, kVerdictNone)), "pure data");
}

TEST_F(TapeUnit, JoinedTapHoldsTheBlocksTheRomLoadsInTapeOrder)
{
    Tape tape;
    const std::vector<uint8_t> header = HeaderBlock(3, "joined", 2), data = WithChecksum(0xFF, {1, 2});
    tape.items.push_back(Block(header, RomTimings(0), kVerdictOk));
    TapeItem tone;
    tone.kind = kItemTone;
    tape.items.push_back(tone);
    tape.items.push_back(Block({0x12, 0x34, 0x56}, Scaled(0.5), kVerdictNone));
    tape.items.push_back(Block(data, Scaled(1.05), kVerdictError));
    std::string why;
    int blocks = 0, good = 0;
    ASSERT_TRUE(WriteJoinedTap("joined.tap", tape, &why, &blocks, &good));
    std::vector<uint8_t> expected = TapFile(header), second = TapFile(data);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(ReadFileBytes("joined.tap"), expected);
    EXPECT_EQ(blocks, 2);
    EXPECT_EQ(good, 1);
    EXPECT_FALSE(WriteJoinedTap("no-such-dir/joined.tap", tape, &why));
    EXPECT_FALSE(why.empty());
}

// A block whose checksum nobody vouches for, or that was repaired, never reads as a clean one.
TEST_F(TapeUnit, BlockFileLogsTheVerdictAndTheTimingsOfATurboBlock)
{
    ScanTapeFiles();
    TapeItem turbo = Block({0x12, 0x34, 0x56}, Scaled(0.5), kVerdictNone);
    turbo.timings.sync = {450, 450};
    turbo.timings.zero[0] = turbo.timings.zero[1] = 200;
    turbo.timings.one[0] = 200;
    turbo.timings.one[1] = 400;
    turbo.timings.pilotCount = 2058;
    turbo.timings.pilot = 1700;
    ASSERT_TRUE(WriteBlockFile(turbo));
    TapeItem repaired = Block(WithChecksum(0xFF, {7}), RomTimings(0xFF), kVerdictRepaired);
    repaired.repaired = {{1234, 3}, {40211, 6}};
    ASSERT_TRUE(WriteBlockFile(repaired));
    EXPECT_EQ(turbo.file, "out001.tap");
    EXPECT_EQ(ReadFileBytes("out002.tap"), TapFile(repaired.bytes));
    const std::vector<std::string> lines = Messages();
    const std::vector<std::string> want = {"No checksum", "Turbo: pilot 1700 T x 2058, sync 450/450 T, bits 200/200+400 T",
                                           "Repaired by the checksum: 2 bits (byte 1234 bit 3, byte 40211 bit 6)"};
    for (const std::string& line : want)
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "CRC summ ok"), 0);
}

}  // namespace
