#include "decoder/timing.h"

#include <gtest/gtest.h>

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

TEST(TimingTest, DefaultsAndFieldTableAgree)
{
    const TimingRecord d = DefaultTiming();
    EXPECT_EQ(d.PilotMin, 21);
    EXPECT_EQ(d.PilotMax, 36);
    EXPECT_EQ(d.PilotWait, 300);
    EXPECT_EQ(d.SyncMin, 4);
    EXPECT_EQ(d.SyncMax, 18);
    EXPECT_EQ(d.ZeroMin, 15);
    EXPECT_EQ(d.ZeroMax, 28);
    EXPECT_EQ(d.OneMin, 33);
    EXPECT_EQ(d.OneMax, 54);
    EXPECT_EQ(d.BaseLine, 128);
    const char* order[] = {"PilotMin", "PilotMax", "PilotWait", "SyncMin", "SyncMax",
                           "ZeroMin",  "ZeroMax",  "OneMin",    "OneMax",  "BaseLine"};
    for (int i = 0; i < kTimingFieldCount; ++i)
        EXPECT_STREQ(TimingFields[i].name, order[i]);
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
