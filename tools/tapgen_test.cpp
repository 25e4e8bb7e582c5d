#include "tools/tapgen.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// ---- TAP images ----

TEST(TapgenParse, SplitsBlocksByLittleEndianLengths)
{
    TapgenBytes image = {3, 0, 0x00, 0x11, 0x22,  0, 0,  1, 0, 0xFF};
    TapgenBytes big(2 + 0x102, 0x5A);
    big[0] = 0x02;
    big[1] = 0x01;
    image.insert(image.end(), big.begin(), big.end());

    std::vector<TapgenBytes> blocks;
    std::string error;
    ASSERT_TRUE(TapgenParse(image, blocks, error)) << error;
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0], (TapgenBytes{0x00, 0x11, 0x22}));
    EXPECT_TRUE(blocks[1].empty());
    EXPECT_EQ(blocks[2], (TapgenBytes{0xFF}));
    EXPECT_EQ(blocks[3], TapgenBytes(0x102, 0x5A));
}

TEST(TapgenParse, EmptyImageHasNoBlocks)
{
    std::vector<TapgenBytes> blocks(1);
    std::string error;
    EXPECT_TRUE(TapgenParse({}, blocks, error));
    EXPECT_TRUE(blocks.empty());
}

struct Malformed {
    TapgenBytes image;
    const char* where;   // must appear in the message
};

class TapgenParseMalformed : public testing::TestWithParam<Malformed> {};

TEST_P(TapgenParseMalformed, NamesBlockAndOffset)
{
    std::vector<TapgenBytes> blocks;
    std::string error;
    EXPECT_FALSE(TapgenParse(GetParam().image, blocks, error));
    EXPECT_NE(error.find(GetParam().where), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Truncated, TapgenParseMalformed,
    testing::Values(
        // The second block announces 10 bytes, 4 follow.
        Malformed{{1, 0, 0xAA, 10, 0, 1, 2, 3, 4}, "block 2 at offset 3: its length is 10 bytes but only 4"},
        // A lone byte where the next length field should be.
        Malformed{{1, 0, 0xAA, 7}, "block 2 at offset 3: the file ends inside its length field"},
        // The high byte counts: 0x0101 bytes announced.
        Malformed{{1, 1, 0, 0}, "block 1 at offset 0: its length is 257 bytes but only 2"}));

// ---- Rendered signal ----

// One half-wave as the decoder measures it: samples on one side of 128 (128 itself counts high).
struct HalfWave {
    bool high;
    int64_t length;
};

std::vector<HalfWave> Runs(const TapgenBytes& signal)
{
    std::vector<HalfWave> runs;
    for (uint8_t sample : signal) {
        bool high = sample >= 128;
        if (runs.empty() || runs.back().high != high)
            runs.push_back({high, 0});
        runs.back().length++;
    }
    return runs;
}

TapgenBytes Render(const TapgenBytes& block, const TapgenOptions& options = TapgenOptions())
{
    TapgenBytes out;
    TapgenBlock(block.data(), block.size(), options, out);
    return out;
}

int64_t BitsT(const TapgenBytes& block)
{
    int64_t t = 0;
    for (uint8_t byte : block)
        for (int bit = 0; bit < 8; bit++)
            t += 2 * ((byte >> bit) & 1 ? kTapgenOneT : kTapgenZeroT);
    return t;
}

TEST(TapgenBlock, PilotLengthFollowsTheFlagByte)
{
    EXPECT_EQ(Runs(Render({0x00, 1, 2})).size(), size_t(kTapgenPilotHeader + 2 + 3 * 16));
    EXPECT_EQ(Runs(Render({0x7F})).size(), size_t(kTapgenPilotHeader + 2 + 16));
    EXPECT_EQ(Runs(Render({0x80})).size(), size_t(kTapgenPilotData + 2 + 16));
    EXPECT_EQ(Runs(Render({0xFF, 0})).size(), size_t(kTapgenPilotData + 2 + 2 * 16));
    EXPECT_EQ(Runs(Render({})).size(), size_t(kTapgenPilotHeader + 2));
}

TEST(TapgenBlock, StartsAndEndsLowAtTheChosenLevels)
{
    TapgenOptions options;
    options.high = 255;
    options.low = 0;
    TapgenBytes signal = Render({0xFF, 0x0F, 0xF0}, options);
    ASSERT_FALSE(signal.empty());
    EXPECT_EQ(signal.front(), 0);
    EXPECT_EQ(signal.back(), 0);
    for (uint8_t sample : signal)
        ASSERT_TRUE(sample == 0 || sample == 255) << int(sample);
}

// Every pulse of the signal is one run of samples on its side of 128, at the nominal speed and 10 %
// either side, and the silence after the block is long enough to end it. That the default
// thresholds read those runs is the decoder's own test (decoder/block_test.cpp).
class TapgenSpeed : public testing::TestWithParam<double> {};

TEST_P(TapgenSpeed, EveryPulseIsOneRunAndTheSilenceEndsTheBlock)
{
    TapgenOptions options;
    options.speed = GetParam();
    TapgenBytes block = {0xFF, 0x00, 0x55, 0xAA, 0x01, 0x80, 0xFE};
    TapgenBytes recording = TapgenRecording({block}, options);
    std::vector<HalfWave> runs = Runs(recording);

    ASSERT_EQ(runs.size(), size_t(1 + kTapgenPilotData + 2 + block.size() * 16 + 1));
    EXPECT_TRUE(runs.front().high);
    EXPECT_EQ(runs.front().length, kTapgenRate);
    EXPECT_TRUE(runs.back().high);
    EXPECT_EQ(runs.back().length, kTapgenRate);
    // The last half-wave is low, so the silence after it ends it and then runs past the 200-sample
    // time-out: the decoder's next pair fits no bit class.
    EXPECT_FALSE(runs[runs.size() - 2].high);
    EXPECT_GT(runs.back().length, 200);
}

INSTANTIATE_TEST_SUITE_P(NominalAndTenPercent, TapgenSpeed, testing::Values(0.9, 1.0, 1.1));

TEST(TapgenBlock, SpeedShortensPulses)
{
    TapgenOptions fast;
    fast.speed = 1.1;
    TapgenBytes block = {0xFF, 0x12};
    double ratio = double(Render(block).size()) / double(Render(block, fast).size());
    EXPECT_NEAR(ratio, 1.1, 1e-4);
}

// A block far longer than 0xFFFF bytes of 0 bits, the worst case for drift: one bit is 21.55
// samples, so rounding each pulse on its own would lose about a tenth of a sample per bit.
TEST(TapgenBlock, LongBlockEndsWhereItsTStatesSay)
{
    TapgenBytes block(70000, 0x00);
    TapgenBytes signal = Render(block);
    int64_t totalT = int64_t(kTapgenPilotHeader) * kTapgenPilotT + kTapgenSync1T + kTapgenSync2T +
                     BitsT(block);
    EXPECT_EQ(int64_t(signal.size()), std::llround(double(totalT) * kTapgenRate / kTapgenClock));

    std::vector<HalfWave> runs = Runs(signal);
    for (size_t at = kTapgenPilotHeader + 2; at < runs.size(); at += 2) {
        int64_t pair = runs[at].length + runs[at + 1].length;
        ASSERT_TRUE(pair == 21 || pair == 22) << "pair at half-wave " << at << " is " << pair;
    }
}

TEST(TapgenRecording, OneSecondOfSilenceAroundEveryBlock)
{
    TapgenBytes first = {0x00, 0x03}, second = {0xFF};
    TapgenBytes recording = TapgenRecording({first, second}, TapgenOptions());
    size_t firstSize = Render(first).size(), secondSize = Render(second).size();
    ASSERT_EQ(recording.size(), 3 * size_t(kTapgenRate) + firstSize + secondSize);
    auto silent = [&](size_t from) {
        for (size_t i = from; i < from + kTapgenRate; i++)
            if (recording[i] != kTapgenSilence)
                return false;
        return true;
    };
    EXPECT_TRUE(silent(0));
    EXPECT_TRUE(silent(kTapgenRate + firstSize));
    EXPECT_TRUE(silent(2 * kTapgenRate + firstSize + secondSize));
    EXPECT_EQ(TapgenRecording({}, TapgenOptions()), TapgenBytes(kTapgenRate, kTapgenSilence));
}

}  // namespace
