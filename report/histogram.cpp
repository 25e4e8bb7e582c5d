#include "report/histogram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Room around the plot: the count labels on the left, the length labels below it, then the four
// lanes and two lines of notes.
const int kLeft = 52, kRight = 10, kTop = 10;
const int kLabelRow = 16, kLaneHeight = 12, kLaneStep = 15;
const int kBelow = kLabelRow + kHistogramLanes * kLaneStep + 6 + 2 * kHistogramLineHeight;

int Round(double value)
{
    return static_cast<int>(std::lround(value));
}

std::string CountLabel(int decade)
{
    static const char* const kLabels[] = {"1", "10", "100", "1k", "10k", "100k", "1M", "10M", "100M", "1G"};
    if (decade < static_cast<int>(sizeof kLabels / sizeof kLabels[0]))
        return kLabels[decade];
    return "1e" + std::to_string(decade);
}

// The lengths from..to (continuous, in samples) as a span of the lane, cut to the axis.
HistogramBox Span(const HistogramLayout& layout, const HistogramBox& lane, double from, double to)
{
    // Length v sits at the centre of its bar: x(v) = left + (v - 0.5) * barWidth.
    const double low = std::max(from, 0.5), high = std::min(to, kHistogramLongest + 0.5);
    if (low >= high)
        return {lane.left, lane.top, lane.left, lane.bottom};
    return {layout.plot.left + Round((low - 0.5) * layout.barWidth), lane.top,
            layout.plot.left + Round((high - 0.5) * layout.barWidth), lane.bottom};
}

std::string Hex(uint32_t colour)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", static_cast<unsigned>(colour & 0xFFFFFF));
    return text;
}

std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

void Fill(HistogramLayout& layout, const HistogramBox& box, uint32_t colour)
{
    if (box.right > box.left && box.bottom > box.top)
        layout.fills.push_back({box, colour});
}

void Write(HistogramLayout& layout, int x, int y, HistogramAlign align, const std::string& text)
{
    layout.texts.push_back({x, y, align, text});
}

// What is painted, from the parts laid out: bars, the axes just outside the plot (so that no bar
// covers them) with their ticks and labels, the lanes with their names, the notes.
void Paint(HistogramLayout& layout)
{
    const HistogramBox& plot = layout.plot;
    for (const HistogramBox& bar : layout.bars)
        Fill(layout, bar, kHistogramBar);
    Fill(layout, {plot.left - 1, plot.top, plot.left, plot.bottom + 1}, kHistogramInk);
    Fill(layout, {plot.left - 1, plot.bottom, plot.right, plot.bottom + 1}, kHistogramInk);
    for (const HistogramTick& tick : layout.xTicks) {
        Fill(layout, {tick.at, plot.bottom + 1, tick.at + 1, plot.bottom + 4}, kHistogramInk);
        Write(layout, tick.at, plot.bottom + kLabelRow - 1, kAlignMiddle, tick.label);
    }
    for (const HistogramTick& tick : layout.yTicks) {
        Fill(layout, {plot.left - 4, tick.at, plot.left - 1, tick.at + 1}, kHistogramInk);
        Write(layout, plot.left - 6, tick.at + 4, kAlignEnd, tick.label);
    }
    for (const HistogramLane& lane : layout.lanes) {
        Fill(layout, lane.lane, kHistogramLaneBack);
        Fill(layout, lane.shaded, lane.colour);
        Write(layout, plot.left - 6, lane.lane.bottom - 2, kAlignEnd, lane.name);
    }
    const int notesTop = plot.bottom + kLabelRow + kHistogramLanes * kLaneStep + 4 + kHistogramLineHeight - 3;
    for (size_t i = 0; i < layout.notes.size(); ++i)
        Write(layout, plot.left, notesTop + static_cast<int>(i) * kHistogramLineHeight, kAlignStart, layout.notes[i]);
}

}  // namespace

void CountHalfWave(HalfWaveHistogram& histogram, int32_t length)
{
    if (length < 0)
        ++histogram.timeouts;
    else if (length > kHistogramLongest)
        ++histogram.longer;
    else if (length > 0)
        ++histogram.counts[length];
}

HistogramLayout LayOutHistogram(const HalfWaveHistogram& histogram, const TimingRecord& t, int width, int height)
{
    HistogramLayout layout;
    layout.width = width;
    layout.height = height;
    // Whole pixels a length, so that every bar is as wide as the next.
    layout.barWidth = std::max(0, (width - kLeft - kRight) / kHistogramLongest);
    layout.plot = {kLeft, kTop, kLeft + kHistogramLongest * layout.barWidth, std::max(kTop, height - kBelow)};
    const HistogramBox& plot = layout.plot;
    const int plotHeight = plot.bottom - plot.top;

    uint64_t most = 0;
    for (int n = 1; n <= kHistogramLongest; ++n)
        most = std::max(most, histogram.counts[n]);
    int decades = 1;
    while (decades < 19 && std::pow(10.0, decades) < static_cast<double>(most))
        ++decades;
    // From 0.1 to 10^decades: decades + 1 of them.
    auto y = [&](double count) {
        return plot.bottom - Round(plotHeight * (std::log10(count) + 1) / (decades + 1));
    };
    // A gap of a pixel between bars when they are wide enough to spare it.
    const int gap = layout.barWidth >= 3 ? 1 : 0;
    for (int n = 1; n <= kHistogramLongest; ++n) {
        HistogramBox& bar = layout.bars[n - 1];
        bar.left = plot.left + (n - 1) * layout.barWidth;
        bar.right = bar.left + layout.barWidth - gap;
        bar.bottom = plot.bottom;
        bar.top = histogram.counts[n] > 0 ? y(static_cast<double>(histogram.counts[n])) : plot.bottom;
    }
    for (int n : {1, 10, 20, 30, 40, 50, 60})
        layout.xTicks.push_back({plot.left + Round((n - 0.5) * layout.barWidth), std::to_string(n)});
    for (int decade = 0; decade <= decades; ++decade)
        layout.yTicks.push_back({y(std::pow(10.0, decade)), CountLabel(decade)});

    struct Window {
        const char* name;
        uint32_t colour;
        double from, to;
    };
    // A bit's two half-waves are summed against its window; each is about half of it. Integer
    // bounds take their whole sample: [min - 0.5, max + 0.5].
    const Window windows[kHistogramLanes] = {
        {"Pilot", kHistogramPilot, t.PilotMin - 0.5, t.PilotMax + 0.5},
        {"Sync", kHistogramSync, t.SyncMin - 0.5, t.SyncMax + 0.5},
        {"Zero", kHistogramZero, (t.ZeroMin - 0.5) / 2, (t.ZeroMax + 0.5) / 2},
        {"One", kHistogramOne, (t.OneMin - 0.5) / 2, (t.OneMax + 0.5) / 2},
    };
    for (int k = 0; k < kHistogramLanes; ++k) {
        HistogramLane& lane = layout.lanes[k];
        lane.name = windows[k].name;
        lane.colour = windows[k].colour;
        const int top = plot.bottom + kLabelRow + 2 + k * kLaneStep;
        lane.lane = {plot.left, top, plot.right, top + kLaneHeight};
        lane.shaded = Span(layout, lane.lane, windows[k].from, windows[k].to);
    }
    layout.notes.push_back("Base line " + std::to_string(t.BaseLine) +
                           "; Zero and One take a bit's two half-waves summed, shown at half their length");
    layout.notes.push_back("Longer than 60: " + std::to_string(histogram.longer) + "; time-outs: " +
                           std::to_string(histogram.timeouts));
    Paint(layout);
    return layout;
}

std::string HistogramSvg(const HistogramLayout& layout, const std::vector<std::string>& side, int sideWidth)
{
    const int width = layout.width + sideWidth;
    char line[400];
    std::snprintf(line, sizeof line,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                  "shape-rendering=\"crispEdges\" font-family=\"DejaVu Sans, Arial, sans-serif\" "
                  "font-size=\"%d\" fill=\"%s\">\n",
                  width, layout.height, width, layout.height, kHistogramFontSize, Hex(kHistogramInk).c_str());
    std::string svg = line;
    std::vector<HistogramFill> fills = {{{0, 0, width, layout.height}, kHistogramPaper}};
    fills.insert(fills.end(), layout.fills.begin(), layout.fills.end());
    for (const HistogramFill& fill : fills) {
        const HistogramBox& b = fill.box;
        std::snprintf(line, sizeof line, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>\n",
                      b.left, b.top, b.right - b.left, b.bottom - b.top, Hex(fill.colour).c_str());
        svg += line;
    }
    std::vector<HistogramText> texts = layout.texts;
    for (size_t i = 0; i < side.size(); ++i)
        texts.push_back({layout.width + 8, layout.plot.top + 10 + static_cast<int>(i) * kHistogramLineHeight,
                         kAlignStart, side[i]});
    static const char* const kAnchors[] = {"start", "middle", "end"};
    for (const HistogramText& text : texts) {
        std::snprintf(line, sizeof line, "<text x=\"%d\" y=\"%d\" text-anchor=\"%s\">", text.x, text.y,
                      kAnchors[text.align]);
        svg += line + Escaped(text.text) + "</text>\n";
    }
    svg += "</svg>\n";
    return svg;
}
