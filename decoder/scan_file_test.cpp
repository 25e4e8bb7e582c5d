// ReadHalfPeriod on raw files against the sample loop it stands for, once for every kernel this
// processor runs: every result and RawPosition after it, across batch edges with runs straddling
// them, base lines changed between calls, stops requested between any two calls (each noticed within
// a batch), runs ended between any two calls, each going on from a new file as after Start, and the
// end of the file.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/pipe.h"
#include "decoder/halfperiod.h"
#include "decoder/run.h"
#include "decoder/scan.h"
#include "decoder/scan_reference.h"
#include "decoder/stop.h"
#include "decoder/timing.h"
#include "tests/test_support.h"

namespace {

class ScanFileTest : public CoreTest, public ::testing::WithParamInterface<SideKernel> {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        ChooseSideKernel(GetParam());
    }
    void TearDown() override
    {
        ChooseSideKernel(SideKernels().back());
        CoreTest::TearDown();
    }

    // Starts a run on samples[from..]: a file of its own, as the next Start would open.
    void StartRun(const std::vector<uint8_t>& samples, size_t from)
    {
        const std::string name = "run" + std::to_string(runs++) + ".pcm";
        WriteFileBytes(name, std::vector<uint8_t>(samples.begin() + from, samples.end()));
        ASSERT_TRUE(BeginRun(name.c_str()));
        offset = static_cast<int64_t>(from);
    }

    int64_t Position() const { return offset + RawPosition(); }

    int runs = 0;
    int64_t offset = 0;
};

// Runs of 199 to 202 samples that cross each batch edge at every distance the time-out can fall at,
// between stretches of adversarial samples.
std::vector<uint8_t> StraddlingStream(std::mt19937& random)
{
    std::vector<uint8_t> samples;
    for (int edge = 1; edge <= 3; ++edge) {
        const size_t before = static_cast<size_t>(edge) * kScanBatch - samples.size() - random() % 210;
        const std::vector<uint8_t> filler = AdversarialStream(random, 128, before);
        samples.insert(samples.end(), filler.begin(), filler.end());
        for (int length = 199; length <= 202; ++length) {
            samples.insert(samples.end(), length, random() % 2 ? 128 : 255);
            samples.insert(samples.end(), length, random() % 2 ? 127 : 0);
        }
    }
    const std::vector<uint8_t> tail = AdversarialStream(random, 128, 5000);
    samples.insert(samples.end(), tail.begin(), tail.end());
    return samples;
}

TEST_P(ScanFileTest, SameAsTheLoopAcrossBatchesStopsAndRestarts)
{
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        std::mt19937 random(seed);
        const std::vector<uint8_t> samples = StraddlingStream(random);
        ResetHalfPeriodState();
        TimingSettings.BaseLine = 128;
        ReferenceLoop loop;
        loop.Source(samples, 0, samples.size());
        StartRun(samples, 0);
        if (seed == 1)
            RequestDecoderStop();  // before the first sample is taken

        bool pending = false;  // a result of the loop not yet met, its call cut short by a stop
        bool more = true;
        int32_t expected = 0;
        int64_t requestedAt = -1;
        for (int calls = 0;; ++calls) {
            if (!pending) {
                if (random() % 500 == 0)
                    TimingSettings.BaseLine = static_cast<uint8_t>(random() % 2 ? 128 + random() % 3 : random());
                // A run that ended between two calls, as when a TAP file cannot be created: the
                // next one starts where it stood.
                if (random() % 40 == 0 && requestedAt < 0)
                    StartRun(samples, static_cast<size_t>(Position()));
                more = loop.Read(TimingSettings.BaseLine, expected);
                pending = true;
            }
            if (requestedAt < 0 && random() % 300 == 0) {
                requestedAt = Position();
                RequestDecoderStop();
            }
            try {
                const int32_t got = ReadHalfPeriod();
                ASSERT_TRUE(more) << "seed " << seed << ": a result past the end, " << got;
                ASSERT_EQ(got, expected) << "seed " << seed << ", call " << calls << " at " << Position();
                ASSERT_EQ(Position(), loop.taken) << "seed " << seed << ", call " << calls;
                pending = false;
            } catch (const DecoderStopped& stopped) {
                if (stopped.exit_code == kExitEndOfFile) {
                    // The end of the file closed the raw input: no position to ask for any more.
                    ASSERT_FALSE(more) << "seed " << seed << ": the file ended early";
                    break;
                }
                ASSERT_EQ(stopped.exit_code, kExitStopped);
                // Noticed at the first batch the decoder wanted after the request.
                ASSERT_LE(Position() - std::max<int64_t>(requestedAt, 0), kScanBatch) << "seed " << seed;
                requestedAt = -1;
                StartRun(samples, static_cast<size_t>(Position()));
            }
        }
    }
}

TEST_P(ScanFileTest, StateMovedUnderABatchIsMeasuredFromThere)
{
    // Neither a reset nor the sound card's queue comes between a raw file's Start and its end in the
    // program; the batch's rest is still measured from wherever the state was moved.
    std::mt19937 random(7);
    const std::vector<uint8_t> file = AdversarialStream(random, 128, 3 * kScanBatch);
    ReferenceLoop loop;
    loop.Source(file, 0, file.size());
    StartRun(file, 0);
    auto readAlong = [&](int calls) {
        for (int i = 0; i < calls; ++i) {
            int32_t expected;
            ASSERT_TRUE(loop.Read(128, expected));
            ASSERT_EQ(ReadHalfPeriod(), expected) << "call " << i;
        }
    };
    readAlong(40);

    // Queued samples cut just after a change of side, so that neither loop leaves any behind.
    ReferenceLoop probe = loop;
    std::vector<uint8_t> queued = AdversarialStream(random, 128, 900);
    const std::vector<Measured> queuedHalves = probe.Feed(queued, 0, queued.size(), 128);
    ASSERT_FALSE(queuedHalves.empty());
    queued.resize(static_cast<size_t>(queuedHalves.back().end - loop.taken));
    SetFileMode(false);
    SamplePipe.add(queued.data(), static_cast<int32_t>(queued.size()));
    const size_t fileNext = static_cast<size_t>(loop.taken);
    loop.Source(queued, 0, queued.size());
    readAlong(static_cast<int>(queuedHalves.size()));
    EXPECT_EQ(SamplePipe.Queued(), 0);

    SetFileMode(true);
    loop.Source(file, fileNext, file.size());
    readAlong(40);

    ResetHalfPeriodState();
    loop.state = HalfPeriodState();
    readAlong(40);
}

INSTANTIATE_TEST_SUITE_P(Kernels, ScanFileTest, ::testing::ValuesIn(SideKernels()),
                         [](const ::testing::TestParamInfo<SideKernel>& info) { return info.param.name; });

}  // namespace
