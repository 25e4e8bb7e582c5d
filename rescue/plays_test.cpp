#include "rescue/plays.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Payload(size_t size, unsigned seed)
{
    Bytes bytes(size);
    for (uint8_t& byte : bytes) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

uint8_t Xor(const Bytes& bytes)
{
    uint8_t x = 0;
    for (uint8_t b : bytes)
        x ^= b;
    return x;
}

// A copy as a play gives it, at `second` of that play; a bad one read once, every bit as sure as
// `sure` except those in `doubtful`.
PlayBlock Copy(const Bytes& bytes, double second, uint8_t sure = 200, const std::vector<size_t>& doubtful = {})
{
    PlayBlock b{bytes, Xor(bytes) != 0 || !WholeBlock(bytes), static_cast<int64_t>(second * 44100), 3223,
                static_cast<int64_t>(second * 44100) + 88000, static_cast<int64_t>(second * 44100) + 100000, {}, {}};
    if (b.bad) {
        Bytes sureness(8 * bytes.size(), sure);
        for (size_t bit : doubtful)
            sureness[bit] = 5;
        b.readings.push_back({bytes, sureness});
    }
    return b;
}

Bytes Flip(Bytes bytes, size_t bit)
{
    bytes[bit / 8] = static_cast<uint8_t>(bytes[bit / 8] ^ 0x80 >> bit % 8);
    return bytes;
}

// The bytes read with bit `bit` lost: every bit after it one place early, a 0 at the end.
Bytes Slip(const Bytes& bytes, size_t bit)
{
    Bytes out(bytes.size(), 0);
    for (size_t k = 0, from = 0; k < 8 * bytes.size(); ++k, ++from) {
        if (from == bit)
            ++from;
        if (from < 8 * bytes.size() && (bytes[from / 8] >> (7 - from % 8) & 1))
            out[k / 8] = static_cast<uint8_t>(out[k / 8] | 0x80 >> k % 8);
    }
    return out;
}

Play MakePlay(std::vector<PlayBlock> blocks)
{
    return Play{"play", 44100, 0, std::move(blocks)};
}

std::vector<int> CopiesOf(const std::vector<MatchedBlock>& tape, size_t play)
{
    std::vector<int> copies;
    for (const MatchedBlock& t : tape)
        copies.push_back(t.copies[play]);
    return copies;
}

const Bytes header1 = HeaderBlock(0, "first", 300), data1 = WithChecksum(0xFF, Payload(300, 1)),
            header2 = HeaderBlock(3, "second", 900), data2 = WithChecksum(0xFF, Payload(900, 2));

TEST(MatchPlays, PlaysThatStartEndAndMissElsewhereLineUp)
{
    // Play 2 starts after the first header, reads the first data block with two bytes wrong, holds
    // a scrap of noise and ends after the second header; play 3 starts there, and its last block's
    // bytes slipped a bit early on, so that only its length and place tell what it is.
    Bytes wrong = data1;
    wrong[10] ^= 0x11;
    wrong[200] ^= 0x40;
    Bytes slipped(data2.size() - 1, 0x55);
    slipped[0] = 0xFF;
    const std::vector<Play> plays = {
        MakePlay({Copy(header1, 1), Copy(data1, 3), Copy(header2, 12), Copy(data2, 14)}),
        MakePlay({Copy(wrong, 2.5), Copy({0xFF, 0x12, 0x34}, 8), Copy(header2, 11.5)}),
        MakePlay({Copy(header2, 0.5), Copy(slipped, 2.5)}),
    };
    const std::vector<MatchedBlock> tape = MatchPlays(plays);
    ASSERT_EQ(tape.size(), 5u);
    EXPECT_EQ(CopiesOf(tape, 0), (std::vector<int>{0, 1, -1, 2, 3}));
    EXPECT_EQ(CopiesOf(tape, 1), (std::vector<int>{-1, 0, 1, 2, -1}));
    EXPECT_EQ(CopiesOf(tape, 2), (std::vector<int>{-1, -1, -1, 0, 1}));
    std::vector<Play> sorting = plays;
    EXPECT_EQ(SortPlays(sorting).use, (std::vector<PlayUse>{kPlayWritten, kPlayWritten, kPlayWritten}));
}

TEST(SortPlays, PlaysWithNothingOrOfAnotherTapeAreLeftOutAndTheBestPlayKept)
{
    // Plays 1 and 3 found nothing (heavy hum); play 2 holds the tape; play 4 is of another tape,
    // one of its blocks lying where play 2 holds none.
    std::vector<Play> plays = {
        MakePlay({}),
        MakePlay({Copy(header1, 1), Copy(data1, 3), Copy(header2, 20), Copy(data2, 22)}),
        MakePlay({}),
        MakePlay({Copy(HeaderBlock(0, "other", 300), 1.2), Copy(WithChecksum(0xFF, Payload(40, 9)), 12)}),
    };
    const PlayedTape sorted = SortPlays(plays);
    EXPECT_EQ(sorted.use, (std::vector<PlayUse>{kPlayEmpty, kPlayWritten, kPlayEmpty, kPlayUnmatched}));
    ASSERT_EQ(sorted.leftOut.size(), 3u);
    EXPECT_EQ(sorted.leftOut[0], "'play': no block found in it; the tape is written from the other plays");
    // Play 4's header lies over play 2's; its block at 12 s falls in the silence between 5.3 s
    // and 20 s.
    std::vector<int> fits;
    for (size_t k = 0; k < sorted.blocks.size(); ++k)
        if (sorted.blocks[k].copies[3] >= 0)
            fits.push_back(FitsByTime(plays, sorted, k));
    EXPECT_EQ(fits, (std::vector<int>{0, 1}));
}

TEST(MatchPlays, PlaysOfTensOfThousandsOfBlocksAreOverTheLimit)
{
    std::vector<Play> plays(3, MakePlay(std::vector<PlayBlock>(2000, Copy(data1, 3))));
    EXPECT_EQ(PlayOverMatchLimit(plays), plays.size());
    plays[1].blocks.resize(20000, Copy(data1, 3));
    EXPECT_EQ(PlayOverMatchLimit(plays), 1u);
}

TEST(ChooseCopy, SoundCopyOfTheAnnouncedLengthThenTheLongest)
{
    // Play 1 read a shorter block whose bytes happen to XOR to 0; play 2 the whole one.
    const Bytes shorter = WithChecksum(0xFF, Payload(100, 3));
    const std::vector<Play> plays = {MakePlay({Copy(shorter, 3)}), MakePlay({Copy(data1, 3)})};
    const MatchedBlock block{{0, 0}};
    ChosenBlock chosen = ChooseCopy(plays, block, static_cast<int>(data1.size()));
    EXPECT_EQ(chosen.from, 1);
    EXPECT_EQ(chosen.verdict, kVerdictOk);
    EXPECT_EQ(chosen.bytes, data1);
    // With none the longer is kept: the shorter ended early where its bytes happened to XOR to 0.
    EXPECT_EQ(ChooseCopy(plays, block, -1).from, 1);
    // A copy of another length than the announced one is no good copy, whatever its checksum says.
    const std::vector<Play> shortOnly = {MakePlay({Copy(shorter, 3)})};
    EXPECT_EQ(ChooseCopy(shortOnly, MatchedBlock{{0}}, static_cast<int>(data1.size())).verdict, kVerdictError);
    // Copies alike: the first.
    const std::vector<Play> same = {MakePlay({Copy(data1, 3)}), MakePlay({Copy(data1, 3)})};
    EXPECT_EQ(ChooseCopy(same, block, -1).from, 0);
}

TEST(ChooseCopy, BlockBadInEveryPlayIsRebuiltFromTheSureBits)
{
    // Each play misread other bits; two of the three plays agree on every bit but one, where the
    // wrong play's reading was unsure of it.
    const std::vector<Play> plays = {
        MakePlay({Copy(Flip(data1, 30), 3, 200, {30})}),
        MakePlay({Copy(Flip(Flip(data1, 900), 31), 3, 200, {900})}),
        MakePlay({Copy(Flip(data1, 1500), 3, 200, {1500})}),
    };
    const ChosenBlock chosen = ChooseCopy(plays, MatchedBlock{{0, 0, 0}}, static_cast<int>(data1.size()));
    EXPECT_EQ(chosen.from, kRebuilt);
    EXPECT_EQ(chosen.verdict, kVerdictOk);
    EXPECT_EQ(chosen.bytes, data1);
}

TEST(ChooseCopy, BitsSlippedInEveryPlayAreFoundAgain)
{
    // Every play lost a bit somewhere, and all after it is shifted; two plays of three are in step
    // at every place.
    const std::vector<Play> plays = {
        MakePlay({Copy(Slip(data1, 500), 3)}),
        MakePlay({Copy(Slip(data1, 1200), 3)}),
        MakePlay({Copy(Slip(data1, 2000), 3)}),
    };
    const ChosenBlock chosen = ChooseCopy(plays, MatchedBlock{{0, 0, 0}}, static_cast<int>(data1.size()));
    EXPECT_EQ(chosen.from, kRebuilt);
    EXPECT_EQ(chosen.bytes, data1);
}

TEST(ChooseCopy, HeaderlessBlockIsRebuiltFromWholeReadingsBehindBrokenOnes)
{
    // No header announces the length, and every play kept a reading that broke off early, each at
    // another length; beside it each has a whole reading with a bit wrong of its own, and one play
    // a reading out of step from the start.
    const auto play = [](size_t broken, size_t wrong, bool lost) {
        PlayBlock b = Copy(Bytes(data1.begin(), data1.begin() + static_cast<std::ptrdiff_t>(broken)), 3);
        b.readings.push_back({Flip(data1, wrong), Bytes(8 * data1.size(), 200)});
        if (lost)
            b.readings.push_back({Slip(Payload(data1.size(), 7), 0), Bytes(8 * data1.size(), 255)});
        return MakePlay({b});
    };
    const std::vector<Play> plays = {play(120, 100, false), play(40, 1100, true), play(200, 2300, false)};
    const ChosenBlock chosen = ChooseCopy(plays, MatchedBlock{{0, 0, 0}}, -1);
    EXPECT_EQ(chosen.from, kRebuilt);
    EXPECT_EQ(chosen.bytes, data1);
}

TEST(ChooseCopy, VoteThatFailsKeepsTheLikeliestCopyAsBad)
{
    // The same bit wrong in both plays: no vote mends it; the surer copy is kept.
    const std::vector<Play> plays = {
        MakePlay({Copy(Flip(data1, 40), 3, 100)}),
        MakePlay({Copy(Flip(Flip(data1, 40), 700), 3, 220)}),
    };
    const ChosenBlock chosen = ChooseCopy(plays, MatchedBlock{{0, 0}}, -1);
    EXPECT_EQ(chosen.verdict, kVerdictError);
    EXPECT_EQ(chosen.from, 1);
    EXPECT_EQ(chosen.bytes, plays[1].blocks[0].bytes);
}

TEST(WholeBlock, FlagAloneOrShortHeaderIsNoBlock)
{
    EXPECT_FALSE(WholeBlock({}));
    EXPECT_FALSE(WholeBlock({0x00}));
    EXPECT_FALSE(WholeBlock({0x00, 0x00}));
    EXPECT_TRUE(WholeBlock({0xFF, 0xFF}));
    EXPECT_TRUE(WholeBlock(header1));
    EXPECT_EQ(AnnouncedLength(header1), 302);
    EXPECT_EQ(AnnouncedLength(data1), -1);
}

}  // namespace
