#include "decoder/halfperiod.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "capture/capture.h"
#include "capture/pipe.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "decoder/timing.h"
#include "tests/fake_ui.h"
#include "tests/test_support.h"

namespace {

class HalfPeriodTest : public CoreTest {
protected:
    void Open(const std::vector<uint8_t>& samples)
    {
        WriteFileBytes("raw.pcm", samples);
        ASSERT_TRUE(BeginRun("raw.pcm"));
    }
    std::vector<int32_t> ReadAll()
    {
        std::vector<int32_t> halves;
        try {
            for (;;)
                halves.push_back(ReadHalfPeriod());
        } catch (const DecoderStopped& stopped) {
            exitCode = stopped.exit_code;
        }
        return halves;
    }
    int exitCode = 1;
};

TEST_F(HalfPeriodTest, CountsSamplesOnEachSide)
{
    Open({200, 200, 50, 50, 50, 200});
    EXPECT_EQ(ReadHalfPeriod(), 2);
    EXPECT_EQ(ReadHalfPeriod(), 3);
}

TEST_F(HalfPeriodTest, SampleEqualToBaseLineIsHigh)
{
    Open({128, 128, 127, 128});
    EXPECT_EQ(ReadHalfPeriod(), 2);
    EXPECT_EQ(ReadHalfPeriod(), 1);
}

TEST_F(HalfPeriodTest, ComparesAgainstTheLatchedBaseLine)
{
    TimingSettings.BaseLine = 44;  // "300" latched
    Open({50, 50, 43, 45});
    EXPECT_EQ(ReadHalfPeriod(), 2);
    EXPECT_EQ(ReadHalfPeriod(), 1);
}

TEST_F(HalfPeriodTest, SignalStartingLowGivesZeroFirst)
{
    Open({10, 10, 200});
    EXPECT_EQ(ReadHalfPeriod(), 0);
    EXPECT_EQ(ReadHalfPeriod(), 2);
}

TEST_F(HalfPeriodTest, TwoHundredSamplesThenAChangeIsAHalfPeriod)
{
    std::vector<uint8_t> samples(200, 200);
    samples.push_back(10);
    Open(samples);
    EXPECT_EQ(ReadHalfPeriod(), 200);
}

TEST_F(HalfPeriodTest, TwoHundredAndOneSamplesTimeOut)
{
    // The 201st sample on one side ends the wait; the count restarts on the same side.
    std::vector<uint8_t> samples(201 + 5, 200);
    samples.push_back(10);
    Open(samples);
    EXPECT_EQ(ReadHalfPeriod(), -1);
    EXPECT_EQ(ReadHalfPeriod(), 5);
    EXPECT_EQ(RawPosition(), 207);
}

TEST_F(HalfPeriodTest, ChangeRightAfterATimeOutReturnsZero)
{
    std::vector<uint8_t> samples(201, 200);
    samples.push_back(10);
    Open(samples);
    EXPECT_EQ(ReadHalfPeriod(), -1);
    EXPECT_EQ(ReadHalfPeriod(), 0);
}

TEST_F(HalfPeriodTest, StateCarriesAcrossRecordings)
{
    Open({200, 200, 10});
    EXPECT_EQ(ReadHalfPeriod(), 2);
    // Polarity is now low and one low sample is counted; the next recording continues from there.
    Open({10, 200});
    EXPECT_EQ(ReadHalfPeriod(), 2);
}

// Ending the run is the decoder thread's business: the reader only says that the file has ended.
TEST_F(HalfPeriodTest, EndOfFileOnlyRaisesTheEnd)
{
    ASSERT_TRUE(OpenTapOutput("out001.tap"));
    Open({200, 200, 10, 10, 200});
    const std::vector<int32_t> halves = ReadAll();
    EXPECT_EQ(halves, (std::vector<int32_t>{2, 2}));
    EXPECT_EQ(exitCode, kExitEndOfFile);
    EXPECT_TRUE(TapOutputOpen());
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(FakeUiSnapshot().runEndedCalls, 0);
}

TEST_F(HalfPeriodTest, FileThatShrinksWhileReadEndsThere)
{
    std::vector<uint8_t> samples(100000, 200);
    Open(samples);
    EXPECT_EQ(ReadHalfPeriod(), -1);
    std::filesystem::resize_file("raw.pcm", 0);
    ReadAll();
    EXPECT_EQ(exitCode, kExitEndOfFile);
}

TEST_F(HalfPeriodTest, StopRequestLeavesWithItsCode)
{
    Open(std::vector<uint8_t>(1 << 20, 200));
    RequestDecoderStop(kExitStopped);
    ReadAll();
    EXPECT_EQ(exitCode, kExitStopped);
    EXPECT_TRUE(FileMode());  // the run's owner closes the input, not the decoder
}

// From the sound card: a stop wakes the decoder asleep on the empty queue, and bytes queued while
// a stop is pending stay queued for the next run.
TEST_F(HalfPeriodTest, StopEndsTheWaitOnTheQueueAndLeavesItsBytes)
{
    ASSERT_TRUE(BeginRun(nullptr));
    std::atomic<int> code{1};
    std::thread decoder([&] {
        try {
            ReadHalfPeriod();
        } catch (const DecoderStopped& stopped) {
            code = stopped.exit_code;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(code.load(), 1) << "left the empty queue without a stop";
    RequestDecoderStop(kExitStopped);
    decoder.join();
    EXPECT_EQ(code.load(), kExitStopped);

    const uint8_t samples[] = {200, 200, 50, 200};
    SamplePipe.add(samples, 4);
    EXPECT_THROW(ReadHalfPeriod(), DecoderStopped);
    EXPECT_EQ(SamplePipe.Queued(), 4);
    ASSERT_TRUE(BeginRun(nullptr));
    EXPECT_EQ(ReadHalfPeriod(), 2);
    EXPECT_EQ(ReadHalfPeriod(), 1);
    EXPECT_EQ(SamplePipe.Queued(), 0);
}

}  // namespace
