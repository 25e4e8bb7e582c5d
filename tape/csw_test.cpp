// The CSW writer read back as a player reads it: the header, the Z-RLE stream inflated and its pulses
// counted; fractions carried so that the whole never drifts, pulses of no length joined, lengths past
// what a byte or the format holds, and files that cannot be written.
#include "tape/csw.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <limits>
#include <vector>

#include "tests/test_support.h"

namespace {

struct Csw {
    uint32_t rate = 0, count = 0;
    int compression = 0, flags = 0;
    std::vector<uint32_t> pulses;
};

uint32_t Dword(const uint8_t* at)
{
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

Csw ReadCsw(const std::string& path)
{
    const std::vector<uint8_t> file = ReadFileBytes(path);
    Csw csw;
    EXPECT_GE(file.size(), 0x34u);
    if (file.size() < 0x34)
        return csw;
    EXPECT_EQ(std::string(file.begin(), file.begin() + 23), std::string("Compressed Square Wave\x1A"));
    EXPECT_EQ(file[0x17], 2);
    csw.rate = Dword(&file[0x19]);
    csw.count = Dword(&file[0x1D]);
    csw.compression = file[0x21];
    csw.flags = file[0x22];
    std::vector<uint8_t> rle(1 << 20);
    uLongf size = rle.size();
    EXPECT_EQ(uncompress(rle.data(), &size, &file[0x34 + file[0x23]], file.size() - 0x34 - file[0x23]), Z_OK);
    for (size_t at = 0; at < size;) {
        if (rle[at] != 0) {
            csw.pulses.push_back(rle[at++]);
        } else {
            csw.pulses.push_back(Dword(&rle[at + 1]));
            at += 5;
        }
    }
    return csw;
}

class CswTest : public ::testing::Test {
protected:
    std::string path = ::testing::TempDir() + "qv-csw-test.csw";
    void TearDown() override { std::remove(path.c_str()); }
};

TEST_F(CswTest, FractionsCarriedAndNothingDrifts)
{
    std::string error;
    CswWriter* w = CswOpen(path, 48000, true, &error);
    ASSERT_NE(w, nullptr) << error;
    // A 200 T pulse at 48000/s is 2.742857 samples; 100000 of them must end where the tape does.
    std::vector<double> lengths;
    for (int i = 0; i < 100000; ++i)
        lengths.push_back(i % 2 ? 1.3 : 4.185714);
    for (size_t i = 0; i < lengths.size(); ++i)
        CswAddHalfWave(w, lengths[i], i == 0 ? -1 : 1);
    ASSERT_TRUE(CswClose(w, &error)) << error;
    const Csw csw = ReadCsw(path);
    EXPECT_EQ(csw.rate, 48000u);
    EXPECT_EQ(csw.compression, 2);
    EXPECT_EQ(csw.flags, 0);  // the first half-wave was low
    EXPECT_EQ(csw.count, 100000u);
    ASSERT_EQ(csw.pulses.size(), lengths.size());
    double total = 0, sum = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
        ASSERT_LT(std::abs(csw.pulses[i] - lengths[i]), 1.0) << i;
        total += lengths[i];
        sum += csw.pulses[i];
    }
    EXPECT_NEAR(sum, total, 0.5);
}

TEST_F(CswTest, OddLengthsStaySafe)
{
    std::string error;
    CswWriter* w = CswOpen(path, 44100, false, &error);
    ASSERT_NE(w, nullptr) << error;
    // Before any pulse a pulse of nothing turns the level over; between two, it joins them; two in a
    // row cancel, and so do fractions that round to nothing, negative lengths and NaN.
    const double lengths[] = {0, 7, 0, 5, 300, 0.2, 0.2, 9, 0, 0, 3, -4,
                              std::numeric_limits<double>::quiet_NaN(), 6, 1e12, 2};
    for (double length : lengths)
        CswAddPulse(w, length);
    ASSERT_TRUE(CswClose(w, &error)) << error;
    const Csw csw = ReadCsw(path);
    EXPECT_EQ(csw.flags, 1);
    EXPECT_EQ(csw.pulses, (std::vector<uint32_t>{12, 300, 9, 3, 6, 4294967295u, 2}));
    EXPECT_EQ(csw.count, csw.pulses.size());
}

TEST_F(CswTest, UnwritableFileGivesTheReason)
{
    std::string error;
    EXPECT_EQ(CswOpen("/nonexistent-dir/c.csw", 44100, false, &error), nullptr);
    EXPECT_EQ(error, std::strerror(ENOENT));
    CswWriter* w = CswOpen("/dev/full", 44100, false, &error);
    ASSERT_NE(w, nullptr) << error;
    for (int i = 0; i < 200000; ++i)
        CswAddPulse(w, 3 + i % 7);
    EXPECT_FALSE(CswClose(w, &error));
    EXPECT_EQ(error, std::strerror(ENOSPC));
}

}  // namespace
