#include "rescue/repair.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const Bytes block = WithChecksum(0xFF, [] {
    Bytes payload(2000);
    unsigned seed = 5;
    for (uint8_t& byte : payload) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    return payload;
}());

// The block read with the bits `wrong` flipped, every bit as sure as `sure` but those in `doubts`
// (bit, sureness), in the order read.
Reading Read(const std::vector<size_t>& wrong, const std::vector<std::pair<size_t, uint8_t>>& doubts,
             uint8_t sure = 220)
{
    Reading r{block, Bytes(8 * block.size(), sure)};
    for (size_t bit : wrong)
        r.bytes[bit / 8] = static_cast<uint8_t>(r.bytes[bit / 8] ^ 0x80 >> bit % 8);
    for (const auto& doubt : doubts)
        r.sureness[doubt.first] = doubt.second;
    return r;
}

struct RepairCase {
    const char* name;
    std::vector<size_t> wrong;
    std::vector<std::pair<size_t, uint8_t>> doubts;
    bool repaired;
};

class RepairByChecksumTest : public testing::TestWithParam<RepairCase> {};

TEST_P(RepairByChecksumTest, FlipsOnlyTheClearlyLikeliestBits)
{
    const RepairCase& c = GetParam();
    Reading r = Read(c.wrong, c.doubts);
    const Reading before = r;
    std::vector<RepairedBit> flipped;
    EXPECT_EQ(RepairByChecksum(r, &flipped), c.repaired);
    if (!c.repaired) {
        EXPECT_EQ(r.bytes, before.bytes);
        return;
    }
    EXPECT_EQ(r.bytes, block);
    ASSERT_EQ(flipped.size(), c.wrong.size());
    for (size_t k = 0; k < flipped.size(); ++k) {
        EXPECT_EQ(flipped[k].byte, static_cast<int>(c.wrong[k] / 8));
        EXPECT_EQ(flipped[k].bit, 7 - static_cast<int>(c.wrong[k] % 8));
    }
}

// Bit 8 * n + c lies in column c (bit 7 - c of its byte).
INSTANTIATE_TEST_SUITE_P(
    Cases, RepairByChecksumTest,
    testing::Values(
        RepairCase{"TwoDoubtfulBitsInTwoColumns", {8 * 1234 + 4, 8 * 1500 + 1}, {{8 * 1234 + 4, 10}, {8 * 1500 + 1, 30}}, true},
        // A bit of the same column as doubtful as the wrong one: either could be it.
        RepairCase{"RivalInTheSameColumn", {8 * 100 + 2}, {{8 * 100 + 2, 10}, {8 * 900 + 2, 40}}, false},
        // Two doubtful bits of a column that holds: flipping them both does as well.
        RepairCase{"RivalPairInAColumnThatHolds", {8 * 100 + 2}, {{8 * 100 + 2, 10}, {8 * 7 + 5, 30}, {8 * 9 + 5, 30}}, false},
        RepairCase{"WrongBitReadSurely", {8 * 100 + 2}, {{8 * 100 + 2, 150}}, false},
        RepairCase{"MoreColumnsThanTheLimit", {8 * 10 + 0, 8 * 20 + 3, 8 * 30 + 6}, {{8 * 10 + 0, 5}, {8 * 20 + 3, 5}, {8 * 30 + 6, 5}}, false}),
    [](const testing::TestParamInfo<RepairCase>& info) { return std::string(info.param.name); });

TEST(MendReadings, AttemptsVoteTheirUnsureBitsAway)
{
    // Three attempts at one block, each wrong where it was unsure, in other places.
    const std::vector<Reading> attempts = {Read({70}, {{70, 20}}), Read({900, 901}, {{900, 15}, {901, 15}}),
                                           Read({8000}, {{8000, 30}})};
    const Mended mended = MendReadings(attempts, {0, 0, 0}, block.size(), static_cast<int>(block.size()), true, true);
    EXPECT_EQ(mended.verdict, kVerdictOk);
    EXPECT_EQ(mended.reading.bytes, block);
    EXPECT_TRUE(mended.flipped.empty());
}

TEST(MendReadings, BitEveryAttemptMisreadIsRepairedAtAKnownLengthOnly)
{
    // Bit 1234 * 8 + 3 misread by both attempts, neither sure of it.
    const size_t bit = 8 * 1234 + 3;
    const std::vector<Reading> attempts = {Read({bit, 50}, {{bit, 25}, {50, 10}}), Read({bit}, {{bit, 40}})};
    const Mended mended = MendReadings(attempts, {0, 0}, block.size(), static_cast<int>(block.size()), true, true);
    EXPECT_EQ(mended.verdict, kVerdictRepaired);
    EXPECT_EQ(mended.reading.bytes, block);
    ASSERT_EQ(mended.flipped.size(), 1u);
    EXPECT_EQ(mended.flipped[0].byte, 1234);
    EXPECT_EQ(mended.flipped[0].bit, 4);
    // Where only the readings' own end vouches for the length, nothing is repaired.
    EXPECT_EQ(MendReadings(attempts, {0, 0}, block.size(), -1, true, false).verdict, kVerdictError);
}

TEST(MendReadings, BitsNoReadingHoldsMakeNoBlock)
{
    // A header broken off after its flag byte: the 18 bytes a header would have after it are read
    // by nothing, though zeros there would make its checksum hold.
    const Mended flag = MendReadings({Reading{{0x00}, Bytes(8, 255)}}, {0}, 19, -1, true, true);
    EXPECT_EQ(flag.verdict, kVerdictError);
    EXPECT_FALSE(LengthFits({0x00, 0x00, 0x00}, -1));
    EXPECT_TRUE(LengthFits(HeaderBlock(3, "x", 10), 500));
    EXPECT_FALSE(LengthFits(block, static_cast<int>(block.size()) + 1));
}

}  // namespace
