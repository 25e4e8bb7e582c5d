#include "decoder/timing.h"

#include <gtest/gtest.h>

#include "tape/tape.h"

struct FieldCase {
    const char* text;
    int32_t value;
};

class FieldToIntTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FieldToIntTest, ConvertsAsTheSettingsFieldsAre)
{
    EXPECT_EQ(FieldToInt(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Texts, FieldToIntTest,
                         ::testing::Values(FieldCase{"21", 21}, FieldCase{"", 0}, FieldCase{"abc", 0},
                                           FieldCase{"12abc", 12}, FieldCase{"  -7", -7},
                                           FieldCase{"+15", 15}, FieldCase{"\t300", 300},
                                           FieldCase{"- 5", 0},
                                           // Only the first eight characters are read.
                                           FieldCase{"123456789", 12345678},
                                           FieldCase{"      12", 12}, FieldCase{"       12", 1},
                                           FieldCase{"-9999999", -9999999}));

TEST(TimingTest, BaseLineKeepsTheLowEightBits)
{
    TimingRecord record = DefaultTiming();
    SetTimingValue(record, *FindTimingField("BaseLine"), 300);
    EXPECT_EQ(record.BaseLine, 44);
    SetTimingValue(record, *FindTimingField("BaseLine"), -1);
    EXPECT_EQ(record.BaseLine, 255);
}

// The defaults read a tape at the ROM's timings: each of its half-waves (a bit's two summed) lies
// inside its window with a sample to spare, the windows that could take each other's apart, and a
// pilot after a block's last bit is no 1 bit.
TEST(TimingTest, DefaultsReadTheRomsTimings)
{
    const TimingRecord d = DefaultTiming();
    const double samples = 44100 / kTStatesPerSecond;
    auto inside = [](double length, int32_t low, int32_t high) { return low + 1 <= length && length <= high - 1; };
    EXPECT_TRUE(inside(kRomPilot * samples, d.PilotMin, d.PilotMax));
    EXPECT_TRUE(inside(kRomSync1 * samples, d.SyncMin, d.SyncMax));
    EXPECT_TRUE(inside(kRomSync2 * samples, d.SyncMin, d.SyncMax));
    EXPECT_TRUE(inside(2 * kRomZero * samples, d.ZeroMin, d.ZeroMax));
    EXPECT_TRUE(inside(2 * kRomOne * samples, d.OneMin, d.OneMax));
    EXPECT_LT(d.SyncMax, d.PilotMin);
    EXPECT_LT(d.ZeroMax, d.OneMin);
    EXPECT_LT(d.OneMax, 2 * kRomPilot * samples);
    // A data block's pilot, the shorter, is found well before it ends.
    EXPECT_LT(d.PilotWait, kRomDataPilotCount / 2);
    EXPECT_EQ(d.BaseLine, 128);
}

// Each name stores into its own threshold and no other.
TEST(TimingTest, EveryNameReachesItsThreshold)
{
    TimingRecord record{};
    int32_t value = 1;
    for (const TimingField& field : TimingFields) {
        ASSERT_EQ(FindTimingField(field.name), &field);
        SetTimingValue(record, field, value++);
    }
    EXPECT_EQ(record.PilotMin, 1);
    EXPECT_EQ(record.PilotMax, 2);
    EXPECT_EQ(record.PilotWait, 3);
    EXPECT_EQ(record.SyncMin, 4);
    EXPECT_EQ(record.SyncMax, 5);
    EXPECT_EQ(record.ZeroMin, 6);
    EXPECT_EQ(record.ZeroMax, 7);
    EXPECT_EQ(record.OneMin, 8);
    EXPECT_EQ(record.OneMax, 9);
    EXPECT_EQ(record.BaseLine, 10);
    EXPECT_EQ(FindTimingField("baseline"), nullptr);
}
