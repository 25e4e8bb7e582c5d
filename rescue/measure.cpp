#include "rescue/measure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "audio/audiofeed.h"
#include "audio/audiofile.h"
#include "decoder/scan.h"
#include "rescue/bits.h"
#include "rescue/slicer.h"
#include "tape/tape.h"

namespace {

// Pilot half-waves in a row that make a pilot, as the rescue decoder's first reading asks.
const int kPilotHalves = 256;

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    return values[middle];
}

// The mean of the values near their median: a recording's half-waves come in whole samples, whose
// median would round a 10.8-sample half-wave to 11, while a glitch would pull a plain mean away.
double MeanNearMedian(const std::vector<double>& values)
{
    const double median = Median(values);
    double sum = 0;
    int count = 0;
    for (double value : values)
        if (std::fabs(value - median) <= 0.35 * median) {
            sum += value;
            ++count;
        }
    return count ? sum / count : 0;
}

// Both sides of the look at once: the default decoder's half-waves from the bytes that stand for
// the samples against BaseLine, the rescue decoder's from the samples themselves.
struct Look {
    uint8_t baseLine;
    RecordingLook* result;
    std::vector<uint8_t> sides;
    SideMap map;
    std::unique_ptr<HalfPeriodList> list{new HalfPeriodList};
    HalfPeriodState state;
    SlicerState slicer;
    FinderState finder;
    std::vector<HalfWave> halves;
    std::vector<BlockMeasure> blocks;
};

void TakeStretch(Look& look)
{
    BlockMeasure block;
    if (MeasureStretch(look.finder.stretch, &block))
        look.blocks.push_back(block);
}

void TakeHalves(Look& look)
{
    for (const HalfWave& h : look.halves)
        if (FinderPush(look.finder, h, kDecoderRate) == kFinderStretchDone)
            TakeStretch(look);
    look.halves.clear();
}

void Feed(Look& look, const float* samples, size_t count)
{
    look.sides.resize(count);
    for (size_t i = 0; i < count; ++i)
        look.sides[i] = SideByte(samples[i], look.baseLine);
    // The scanner takes a batch at a time; its state carries a half-wave across batches as the
    // decoder's does.
    for (size_t done = 0; done < count; done += kScanBatch) {
        const int32_t n = static_cast<int32_t>(std::min<size_t>(kScanBatch, count - done));
        MapSides(look.sides.data() + done, n, look.baseLine, look.map);
        ScanHalfPeriods(look.map, 0, look.state, *look.list);
        for (int32_t k = 0; k < look.list->count; ++k)
            CountHalfWave(look.result->histogram, look.list->items[k].length);
    }
    SlicerFeed(look.slicer, samples, static_cast<int64_t>(count), look.halves);
    TakeHalves(look);
}

std::string Samples(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string Window(int32_t low, int32_t high)
{
    return std::to_string(low) + ".." + std::to_string(high);
}

}  // namespace

bool MeasureStretch(const Stretch& stretch, BlockMeasure* measure)
{
    DecodedBlock block;
    DecodeStretch(stretch, block);
    if (!block.synced || block.bytes.empty())
        return false;
    const double period = stretch.pilotPeriod;
    // The data's half-waves, their skew taken out: from the first that ends past the sync (whose
    // two half-waves last a third of a pilot period) to the last bit read.
    std::vector<double> data;
    for (const HalfWave& h : stretch.halves)
        if (h.end > block.syncAt + 0.4 * period && h.end <= block.endAt + 0.5)
            data.push_back(h.length - h.side * stretch.halfSkew);
    if (data.size() < 8)
        return false;
    // Two kinds of half-wave, a 0 bit's and a 1 bit's, parted where the ROM's ratio to the pilot
    // puts them at first and then halfway between the two kinds as found.
    const double zeroHalf = period * kRomZero / (2.0 * kRomPilot);
    double boundary = 1.5 * zeroHalf;
    std::vector<double> zeros, ones;
    for (int round = 0; round < 4; ++round) {
        zeros.clear();
        ones.clear();
        for (double length : data)
            (length < boundary ? zeros : ones).push_back(length);
        if (zeros.empty() || ones.empty())
            break;
        double zeroSum = 0, oneSum = 0;
        for (double length : zeros)
            zeroSum += length;
        for (double length : ones)
            oneSum += length;
        boundary = (zeroSum / static_cast<double>(zeros.size()) + oneSum / static_cast<double>(ones.size())) / 2;
    }
    measure->pilot = period;
    measure->skew = 2 * stretch.halfSkew;
    measure->zero = 2 * MeanNearMedian(zeros);
    measure->one = 2 * MeanNearMedian(ones);
    return true;
}

TapeMeasure CombineMeasures(const std::vector<BlockMeasure>& blocks)
{
    TapeMeasure tape;
    tape.blocks = static_cast<int>(blocks.size());
    std::vector<double> pilot, zero, one, skew;
    for (const BlockMeasure& block : blocks) {
        pilot.push_back(block.pilot);
        skew.push_back(block.skew);
        if (block.zero > 0)
            zero.push_back(block.zero);
        if (block.one > 0)
            one.push_back(block.one);
    }
    tape.pilot = Median(pilot);
    tape.zero = Median(zero);
    tape.one = Median(one);
    tape.skew = Median(skew);
    return tape;
}

bool LookAtRecording(const char* path, int channel, uint8_t baseLine, RecordingLook* result, std::string* error,
                     const std::atomic<bool>* stop)
{
    *result = RecordingLook();
    AudioFile* file = OpenAudioFile(path, channel, error);
    if (!file)
        return false;
    result->description = AudioFileDescription(file);
    Look look;
    look.baseLine = baseLine;
    look.result = result;
    SlicerStart(look.slicer, SlicerSettings(), 1, kDecoderRate, 0);
    FinderStart(look.finder, kPilotHalves);
    std::vector<float> samples(4 * kScanBatch);
    bool stopped = false;
    for (size_t got; (got = ReadAudioSamples(file, samples.data(), samples.size())) > 0;) {
        if (stop && stop->load()) {
            stopped = true;
            break;
        }
        Feed(look, samples.data(), got);
    }
    CloseAudioFile(file);
    if (stopped) {
        *error = std::string("the look at '") + path + "' was stopped";
        return false;
    }
    SlicerFinish(look.slicer, look.halves);
    TakeHalves(look);
    if (FinderFinish(look.finder))
        TakeStretch(look);
    result->measure = CombineMeasures(look.blocks);
    return true;
}

TimingRecord SuggestThresholds(const TapeMeasure& m, const TimingRecord& current)
{
    if (m.blocks == 0 || m.zero <= 0 || m.one <= 0)
        return current;
    TimingRecord t = current;
    const double pilot = m.pilot / 2, skew = std::fabs(m.skew) / 2;
    // A pilot half-wave's two sides lie skew apart; so do those of the sync and of each bit, but a
    // bit's two half-waves are summed, which the skew leaves alone.
    const double shortPilot = pilot - skew, longPilot = pilot + skew;
    const double sync = pilot * (kRomSync1 + kRomSync2) / (2.0 * kRomPilot);
    const double longOneHalf = m.one / 2 + skew;
    t.PilotMin = static_cast<int32_t>(std::min(std::lround((shortPilot + longOneHalf) / 2),
                                               std::lround(std::floor(shortPilot - 1))));
    t.PilotMax = static_cast<int32_t>(std::ceil(longPilot + 0.3 * pilot));
    t.SyncMin = static_cast<int32_t>(std::max(1.0, std::floor((sync - skew) / 2)));
    t.SyncMax = static_cast<int32_t>(std::floor((sync + skew + shortPilot) / 2));
    t.ZeroMin = static_cast<int32_t>(std::floor(0.65 * m.zero));
    t.ZeroMax = static_cast<int32_t>(std::floor((m.zero + m.one) / 2));
    t.OneMin = t.ZeroMax + 1;
    // A worn tape's 1 bits come out long (a low-pass smears the crossing after a run of 0 bits):
    // they are taken up to just short of a pilot's full period.
    t.OneMax = static_cast<int32_t>(std::ceil(m.pilot) - 1);
    return t;
}

std::vector<std::string> DescribeLook(const TapeMeasure& m, const TimingRecord& s)
{
    std::vector<std::string> lines;
    if (m.blocks == 0) {
        lines.push_back("The rescue decoder found no block:");
        lines.push_back("nothing to suggest.");
        return lines;
    }
    lines.push_back("Rescue decoder, " + std::to_string(m.blocks) + (m.blocks == 1 ? " block:" : " blocks:"));
    lines.push_back("Pilot period " + Samples(m.pilot) + " (" + std::to_string(SamplesToT(m.pilot / 2, kDecoderRate)) +
                    " T a half)");
    lines.push_back("0 bit " + (m.zero > 0 ? Samples(m.zero) : std::string("none")) + ", 1 bit " +
                    (m.one > 0 ? Samples(m.one) : std::string("none")));
    const std::string skew = "Skew " + Samples(std::fabs(m.skew));
    if (std::fabs(m.skew) < 0.05)
        lines.push_back(skew);
    else
        lines.push_back(skew + (m.skew < 0 ? " (low half-waves longer)" : " (high half-waves longer)"));
    lines.push_back("Suggested (samples at 44100/s):");
    lines.push_back("Pilot " + Window(s.PilotMin, s.PilotMax) + ", wait " + std::to_string(s.PilotWait));
    lines.push_back("Sync " + Window(s.SyncMin, s.SyncMax));
    lines.push_back("Zero " + Window(s.ZeroMin, s.ZeroMax) + ", One " + Window(s.OneMin, s.OneMax));
    lines.push_back("Base line " + std::to_string(s.BaseLine));
    return lines;
}
