// The look at a recording: the default decoder's half-waves counted exactly, the rescue decoder's
// measurement of tapes whose timings are known, and thresholds suggested from it that read a tape
// the defaults lose.
#include "rescue/measure.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/format.h"
#include "decoder/catalogue.h"
#include "decoder/run.h"
#include "decoder/tapfile.h"
#include "decoder/timing.h"
#include "tape/tape.h"
#include "tests/rescue/tapesim.h"
#include "tests/test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const std::vector<Bytes> kBlocks = {HeaderBlock(3, "MEASURE", 500), WithChecksum(0xFF, Bytes(500, 0x3C)),
                                    WithChecksum(0xFF, {0x00, 0xFF, 0x55, 0xAA, 1, 2, 3})};

class MeasureTest : public CoreTest {
protected:
    // How many of kBlocks the default decoder, with thresholds t, writes whole from the raw
    // recording; it runs in a directory of its own, `where`.
    size_t BlocksRead(const Bytes& raw, const TimingRecord& t, const std::string& where)
    {
        std::filesystem::create_directory(where);
        std::filesystem::current_path(where);
        ResetDecoder();
        ScanTapeFiles();
        TimingSettings = t;
        DecodeFile(raw);
        std::vector<Bytes> files;
        for (int32_t n = 1; n < NextTapeNumber; ++n) {
            char name[32];
            TapeFileName(name, sizeof name, n);
            files.push_back(ReadFileBytes(name));
        }
        std::filesystem::current_path(dir);
        size_t read = 0;
        for (const Bytes& block : kBlocks)
            read += std::find(files.begin(), files.end(), TapFile(block)) != files.end();
        return read;
    }
};

// Half-waves of known lengths, across the reader's batches, counted as the default decoder takes
// them: with the base line where the samples sit, and moved so that the low side is all there is.
TEST_F(MeasureTest, CountsTheDefaultDecodersHalfWaves)
{
    Signal signal;
    for (int i = 0; i < 20000; ++i)
        signal.Half(27).Half(30);
    signal.Half(3).Half(61);
    WriteFileBytes("halves.pcm", signal.samples);
    RecordingLook look;
    std::string error;
    ASSERT_TRUE(LookAtRecording("halves.pcm", kMixChannels, 128, &look, &error, nullptr)) << error;
    EXPECT_EQ(look.histogram.counts[27], 20000u);
    EXPECT_EQ(look.histogram.counts[30], 20000u);
    EXPECT_EQ(look.histogram.counts[3], 1u);
    // The last half-wave is still going when the recording ends: not counted, as the decoder
    // never sees its end.
    EXPECT_EQ(look.histogram.longer, 0u);
    uint64_t total = 0;
    for (uint64_t count : look.histogram.counts)
        total += count;
    EXPECT_EQ(total, 40001u);

    // Every sample above the base line: one side only, time-outs every 201 samples.
    ASSERT_TRUE(LookAtRecording("halves.pcm", kMixChannels, 10, &look, &error, nullptr)) << error;
    EXPECT_EQ(look.histogram.timeouts, signal.samples.size() / 201);
}

// A tape running a fifth slow (the simulator's speed family at full strength, with its wow and
// flutter) lies outside the default windows, which lose most of it; the thresholds suggested from
// the rescue decoder's measurement read every block.
TEST_F(MeasureTest, SuggestedThresholdsReadASlowTape)
{
    const TapesimParams params = TapesimPreset(kTapesimSpeed, 3, 3);
    ASSERT_LT(params.speed, 1);
    ASSERT_TRUE(TapesimWriteRaw8("slow.pcm", TapesimRender(kBlocks, params), params.channels));
    const Bytes raw = ReadFileBytes("slow.pcm");
    RecordingLook look;
    std::string error;
    ASSERT_TRUE(LookAtRecording("slow.pcm", kMixChannels, 128, &look, &error, nullptr)) << error;
    const TimingRecord suggested = SuggestThresholds(look.measure, DefaultTiming());
    EXPECT_LT(BlocksRead(raw, DefaultTiming(), "default"), 2u);
    EXPECT_EQ(BlocksRead(raw, suggested, "suggested"), kBlocks.size());

}

struct MeasureCase {
    const char* name;
    TapesimFamily family;
    int strength;
    double speed;  // the tape's measured lengths against the ROM's
    double skew;   // high half-waves longer than low ones, in samples
};

class TapeMeasureTest : public CoreTest, public ::testing::WithParamInterface<MeasureCase> {};

// The periods come out as the ROM's at the tape's speed, and the skew as the simulator put it.
TEST_P(TapeMeasureTest, MeasuresTheTapesTimings)
{
    const MeasureCase& c = GetParam();
    TapesimParams params = TapesimPreset(c.family, c.strength, 3);
    params.speed = 1 / c.speed;
    params.wowDepth = params.flutterDepth = 0;
    const std::vector<float> frames = TapesimRender(kBlocks, params);
    ASSERT_TRUE(TapesimWriteWav16("tape.wav", frames, params.channels, 44100));
    RecordingLook look;
    std::string error;
    ASSERT_TRUE(LookAtRecording("tape.wav", kMixChannels, 128, &look, &error, nullptr)) << error;
    const TapeMeasure& m = look.measure;
    EXPECT_EQ(m.blocks, 3);
    const double rom = 44100 / 3500000.0 * c.speed;
    EXPECT_NEAR(m.pilot, 2 * kRomPilot * rom, 0.02 * m.pilot);
    EXPECT_NEAR(m.zero, 2 * kRomZero * rom, 0.03 * m.zero);
    EXPECT_NEAR(m.one, 2 * kRomOne * rom, 0.03 * m.one);
    // The slicer's high-pass takes out the level a skewed wave leaves, which undoes a little of it.
    EXPECT_NEAR(m.skew, c.skew, 0.6 + 0.1 * std::fabs(c.skew));
}

INSTANTIATE_TEST_SUITE_P(Tapes, TapeMeasureTest,
                         ::testing::Values(MeasureCase{"clean", kTapesimClean, 1, 1.0, 0},
                                           MeasureCase{"slow", kTapesimClean, 1, 1.2, 0},
                                           // Every rising edge 130 us late: 5.7 samples off each side.
                                           MeasureCase{"skewed", kTapesimSkew, 3, 1.0, -2 * 130e-6 * 44100}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
