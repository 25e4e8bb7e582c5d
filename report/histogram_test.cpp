#include "report/histogram.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

HalfWaveHistogram Counted(const std::vector<std::pair<int32_t, int>>& lengths)
{
    HalfWaveHistogram histogram;
    for (const auto& [length, times] : lengths)
        for (int i = 0; i < times; ++i)
            CountHalfWave(histogram, length);
    return histogram;
}

// Bars where the counts say, on the log axis from 0.1 to the decade at or above the largest
// count: a single half-wave a bar of one decade, the largest up to the top; nothing for a length
// not seen, nor for what lies beyond 60 or timed out.
TEST(HistogramTest, BarsStandWhereTheCountsSay)
{
    const HalfWaveHistogram histogram = Counted({{1, 1}, {10, 10}, {27, 1000}, {60, 100}, {61, 7}, {-1, 3}});
    EXPECT_EQ(histogram.longer, 7u);
    EXPECT_EQ(histogram.timeouts, 3u);
    const HistogramLayout layout = LayOutHistogram(histogram, DefaultTiming(), 612, 330);
    const HistogramBox& plot = layout.plot;
    ASSERT_EQ(plot.right - plot.left, 60 * layout.barWidth);
    ASSERT_GE(layout.barWidth, 3);
    const double decade = (plot.bottom - plot.top) / 4.0;  // 0.1 .. 1000
    for (int n = 1; n <= kHistogramLongest; ++n) {
        const HistogramBox& bar = layout.bars[n - 1];
        EXPECT_EQ(bar.left, plot.left + (n - 1) * layout.barWidth) << n;
        EXPECT_EQ(bar.bottom, plot.bottom) << n;
        const double decades = histogram.counts[n] ? std::log10(static_cast<double>(histogram.counts[n])) + 1 : 0;
        EXPECT_NEAR(bar.bottom - bar.top, decades * decade, 0.5) << n;
    }
    EXPECT_EQ(layout.bars[26].top, plot.top);
    ASSERT_EQ(layout.yTicks.size(), 4u);
    EXPECT_EQ(layout.yTicks.back().label, "1k");
    EXPECT_EQ(layout.yTicks.front().at, layout.bars[0].top);
}

// Each window shaded over the lengths it takes: pilot and sync over whole bars, 0 and 1 (which sum
// two half-waves) over half their bounds; a window that takes nothing from 1 to 60, or whose
// minimum lies above its maximum, leaves its lane empty.
TEST(HistogramTest, WindowsShadeTheLengthsTheyTake)
{
    TimingRecord t = DefaultTiming();
    t.SyncMin = 70;
    t.OneMin = 50;
    t.OneMax = 40;
    const HistogramLayout layout = LayOutHistogram(HalfWaveHistogram(), t, 612, 330);
    const int w = layout.barWidth, left = layout.plot.left;
    const HistogramBox& pilot = layout.lanes[kLanePilot].shaded;
    EXPECT_EQ(pilot.left, layout.bars[21 - 1].left);
    EXPECT_EQ(pilot.right, layout.bars[36 - 1].left + w);
    const HistogramBox& zero = layout.lanes[kLaneZero].shaded;
    // Sums 15..28: half-waves from 7.25 to 14.25, whose centres sit at (v - 0.5) bars.
    EXPECT_EQ(zero.left, left + static_cast<int>(std::lround(6.75 * w)));
    EXPECT_EQ(zero.right, left + static_cast<int>(std::lround(13.75 * w)));
    EXPECT_EQ(layout.lanes[kLaneSync].shaded.right, layout.lanes[kLaneSync].shaded.left);
    EXPECT_EQ(layout.lanes[kLaneOne].shaded.right, layout.lanes[kLaneOne].shaded.left);
    for (const HistogramLane& lane : layout.lanes) {
        EXPECT_GE(lane.shaded.left, layout.plot.left);
        EXPECT_LE(lane.shaded.right, layout.plot.right);
        EXPECT_GE(lane.lane.top, layout.plot.bottom);
        EXPECT_LE(lane.lane.bottom, layout.height);
    }
    // The longest window reaches the right end of the axis and no further.
    t.PilotMax = 1000;
    EXPECT_EQ(LayOutHistogram(HalfWaveHistogram(), t, 612, 330).lanes[kLanePilot].shaded.right, layout.plot.right);
}

// A picture too small for its margins still lays out without boxes turned inside out.
TEST(HistogramTest, TinyPicture)
{
    const HistogramLayout layout = LayOutHistogram(Counted({{5, 100}}), DefaultTiming(), 20, 30);
    EXPECT_EQ(layout.barWidth, 0);
    for (const HistogramFill& fill : layout.fills) {
        EXPECT_LT(fill.box.left, fill.box.right);
        EXPECT_LT(fill.box.top, fill.box.bottom);
    }
}

TEST(HistogramTest, SvgCarriesTheSideTextEscaped)
{
    const HistogramLayout layout = LayOutHistogram(Counted({{27, 5}}), DefaultTiming(), 612, 330);
    const std::string svg = HistogramSvg(layout, {"Pilot <27> & more"}, 250);
    EXPECT_NE(svg.find("width=\"862\" height=\"330\""), std::string::npos);
    EXPECT_NE(svg.find(">Pilot &lt;27&gt; &amp; more</text>"), std::string::npos);
    EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
}

}  // namespace
