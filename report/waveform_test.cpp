#include "report/waveform.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct StripHeight {
    int top;
    int bottom;
    // Where the loudest samples' lines end: 255 at the strip's last row, 0 at its first.
    int highEnd;
    int lowEnd;
};

class WaveformHeight : public ::testing::TestWithParam<StripHeight> {};

TEST_P(WaveformHeight, FlatBufferClearsStripAndDrawsZeroLengthLines)
{
    const StripHeight strip = GetParam();
    const std::vector<uint8_t> samples(1024, 128);
    const auto columns = WaveformColumns(0, strip.top, 1016, strip.bottom, samples.data(), 1024);
    ASSERT_EQ(columns.size(), 1016u);
    const int half = (strip.bottom - strip.top) / 2;
    const int mid = strip.top + half;
    for (const WaveformColumn& c : columns) {
        EXPECT_EQ(c.eraseTop, mid - half);
        EXPECT_EQ(c.eraseBottom, mid + half);
        EXPECT_EQ(c.sampleFrom, mid);
        EXPECT_EQ(c.sampleTo, mid);
    }
}

// The scale fills the strip and no more: the loudest samples reach its edges.
TEST_P(WaveformHeight, LoudestSamplesReachTheEdges)
{
    const StripHeight strip = GetParam();
    const std::vector<uint8_t> high(300, 255);
    const std::vector<uint8_t> low(300, 0);
    for (const WaveformColumn& c : WaveformColumns(0, strip.top, 200, strip.bottom, high.data(), 300))
        EXPECT_EQ(c.sampleTo, strip.highEnd);
    for (const WaveformColumn& c : WaveformColumns(0, strip.top, 200, strip.bottom, low.data(), 300))
        EXPECT_EQ(c.sampleTo, strip.lowEnd);
}

// Even and odd heights (the half rounds toward zero), a strip not at the origin, a degenerate one.
INSTANTIATE_TEST_SUITE_P(Heights, WaveformHeight,
                         ::testing::Values(StripHeight{0, 90, 89, 0}, StripHeight{0, 91, 90, 0},
                                           StripHeight{7, 98, 97, 7}, StripHeight{3, 4, 3, 3},
                                           StripHeight{5, 5, 5, 5}));

TEST(Waveform, ValuesAboveMiddleDrawDownward)
{
    const uint8_t samples[] = {129, 127, 200, 60};
    const auto columns = WaveformColumns(0, 0, 4, 100, samples, 4);
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_EQ(columns[0].sampleTo, 50);  // 1 x 100/256 truncates to 0
    EXPECT_EQ(columns[1].sampleTo, 50);
    EXPECT_EQ(columns[2].sampleTo, 50 + 28);
    EXPECT_EQ(columns[3].sampleTo, 50 - 26);
}

TEST(Waveform, ShortBufferRepeatsSamplesOverColumns)
{
    const uint8_t samples[] = {10, 20, 30, 40};
    const auto columns = WaveformColumns(0, 0, 16, 64, samples, 4);
    ASSERT_EQ(columns.size(), 16u);
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(columns[x].sampleIndex, x / 4) << "column " << x;
}

TEST(Waveform, LongBufferIsSqueezedToWidth)
{
    const std::vector<uint8_t> samples(1024, 128);
    const auto columns = WaveformColumns(0, 0, 256, 60, samples.data(), 1024);
    ASSERT_EQ(columns.size(), 256u);
    for (int x = 0; x < 256; ++x)
        EXPECT_EQ(columns[x].sampleIndex, 4 * x);
}

TEST(Waveform, ColumnsRunFromLeftToRightMinusOne)
{
    const uint8_t samples[] = {128};
    const auto columns = WaveformColumns(30, 0, 35, 10, samples, 1);
    ASSERT_EQ(columns.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(columns[i].x, 30 + i);
}

TEST(Waveform, NoWidthDrawsNothing)
{
    const uint8_t samples[] = {128};
    EXPECT_TRUE(WaveformColumns(10, 0, 10, 50, samples, 1).empty());
    EXPECT_TRUE(WaveformColumns(10, 0, 4, 50, samples, 1).empty());
}

// With this width the single-precision sum of 1024/8194 passes 1024 before the last column; an
// unclamped index would read one byte past the buffer.
TEST(Waveform, AccumulatedPositionNeverLeavesBuffer)
{
    const std::vector<uint8_t> samples(1024, 128);
    const auto columns = WaveformColumns(0, 0, 8194, 60, samples.data(), 1024);
    ASSERT_EQ(columns.size(), 8194u);
    for (const WaveformColumn& c : columns) {
        ASSERT_GE(c.sampleIndex, 0);
        ASSERT_LE(c.sampleIndex, 1023);
    }
    EXPECT_EQ(columns.back().sampleIndex, 1023);
}

TEST(Waveform, EmptyBufferDrawsFlatLineWithoutReading)
{
    const auto columns = WaveformColumns(0, 0, 8, 40, nullptr, 0);
    ASSERT_EQ(columns.size(), 8u);
    for (const WaveformColumn& c : columns) {
        EXPECT_EQ(c.sampleIndex, -1);
        EXPECT_EQ(c.sampleTo, c.sampleFrom);
        EXPECT_EQ(c.eraseTop, 0);
        EXPECT_EQ(c.eraseBottom, 40);
    }
}

}  // namespace

namespace {

uint32_t PixelAt(const WaveformPicture& picture, int x, int y)
{
    return picture.pixels[static_cast<size_t>(y - picture.top) * picture.width + (x - picture.left)];
}

// Rows of column x that a sample line paints (green, or red where it clips), top to bottom.
std::vector<int> LitRows(const WaveformPicture& picture, int x)
{
    std::vector<int> rows;
    for (int y = picture.top; y < picture.top + picture.height; ++y)
        if (PixelAt(picture, x, y) != kWaveformBlack)
            rows.push_back(y);
    return rows;
}

std::vector<int> Range(int from, int to)
{
    std::vector<int> rows;
    for (int y = from; y < to; ++y)
        rows.push_back(y);
    return rows;
}

TEST(WaveformPicture, FlatBufferIsAllBlack)
{
    const std::vector<uint8_t> samples(1024, 128);
    const WaveformPicture picture = PaintWaveform(WaveformColumns(3, 5, 103, 105, samples.data(), 1024), false);
    EXPECT_EQ(picture.left, 3);
    EXPECT_EQ(picture.top, 5);
    EXPECT_EQ(picture.width, 100);
    EXPECT_EQ(picture.height, 100);
    for (uint32_t pixel : picture.pixels)
        ASSERT_EQ(pixel, kWaveformBlack);
}

// A line covers its start point and stops short of its end point, in both directions.
TEST(WaveformPicture, SampleLinesStopShortOfTheirEnd)
{
    const uint8_t samples[] = {255, 0, 129, 140};
    const WaveformPicture picture = PaintWaveform(WaveformColumns(0, 0, 4, 100, samples, 4), false);
    EXPECT_EQ(LitRows(picture, 0), Range(50, 99));   // to 50 + 49
    EXPECT_EQ(LitRows(picture, 1), Range(1, 51));    // up to 50 - 50 = the top row, not painted
    EXPECT_TRUE(LitRows(picture, 2).empty());        // a zero-length line paints nothing
    EXPECT_EQ(LitRows(picture, 3), Range(50, 54));   // 12 x 100/256 truncates to 4
}

TEST(WaveformPicture, OddHeightLeavesBottomRowAlone)
{
    const uint8_t samples[] = {255, 0};
    const WaveformPicture picture = PaintWaveform(WaveformColumns(0, 10, 2, 101, samples, 2), false);
    EXPECT_EQ(picture.top, 10);
    EXPECT_EQ(picture.height, 90);
    EXPECT_EQ(LitRows(picture, 0), Range(55, 55 + 45));
    EXPECT_EQ(LitRows(picture, 1), Range(11, 56));
}

TEST(WaveformPicture, NothingToPaint)
{
    const uint8_t samples[] = {0};
    EXPECT_TRUE(PaintWaveform(WaveformColumns(0, 0, 0, 50, samples, 1), true).pixels.empty());
    EXPECT_TRUE(PaintWaveform(WaveformColumns(0, 0, 50, 1, samples, 1), true).pixels.empty());
}

// A clipped sample anywhere in a squeezed column turns that column's line red, whichever sample the
// column draws; the others stay green. A clip since the last strip reddens its top and bottom rows.
TEST(WaveformPicture, ClippingShowsRed)
{
    std::vector<uint8_t> samples(1024, 200);
    samples[4 * 10 + 3] = 255;  // not the sample column 10 draws
    samples[4 * 20 + 1] = 0;
    EXPECT_TRUE(InputClips(samples.data(), 1024));
    EXPECT_FALSE(InputClips(samples.data(), 40));
    const WaveformPicture picture = PaintWaveform(WaveformColumns(0, 0, 256, 60, samples.data(), 1024), true);
    for (int x = 0; x < 256; ++x) {
        const uint32_t line = x == 10 || x == 20 ? kWaveformRed : kWaveformGreen;
        EXPECT_EQ(PixelAt(picture, x, 35), line) << x;
        EXPECT_EQ(PixelAt(picture, x, 0), kWaveformRed) << x;
        EXPECT_EQ(PixelAt(picture, x, 59), kWaveformRed) << x;
    }
    const WaveformPicture calm = PaintWaveform(WaveformColumns(0, 0, 256, 60, samples.data(), 40), false);
    for (int x = 0; x < 256; ++x)
        EXPECT_EQ(PixelAt(calm, x, 0), kWaveformBlack) << x;
}

}  // namespace
