#include "decoder/run.h"

#include <chrono>
#include <thread>

#include "capture/capture.h"
#include "decoder/catalogue.h"
#include "decoder/halfperiod.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "tests/fake_ui.h"
#include "tests/test_support.h"

namespace {

class RunTest : public CoreTest {};

TEST_F(RunTest, RawFileThatDoesNotOpenChangesNothing)
{
    EXPECT_FALSE(BeginRun("nothere.pcm"));
    EXPECT_FALSE(FileMode());
    EXPECT_FALSE(RawInputOpen());
    EXPECT_FALSE(std::filesystem::exists("nothere.pcm"));
}

// The end of the raw file ends the thread by itself; ending the run afterwards collects it and
// keeps the code it ended with.
TEST_F(RunTest, ThreadThatEndedByItselfKeepsItsCode)
{
    Signal s;
    s.Block(WithChecksum(0xFF, {1, 2, 3}));
    WriteFileBytes("input.pcm", s.samples);
    ScanTapeFiles();
    ASSERT_TRUE(BeginRun("input.pcm"));
    EXPECT_TRUE(FileMode());
    ASSERT_TRUE(StartDecoderThread());
    while (Messages().empty() || Messages().back() != ".PCM file closed")
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(EndRun(), kExitEndOfFile);
    EXPECT_EQ(ReadFileBytes("out001.tap"), TapFile(WithChecksum(0xFF, {1, 2, 3})));
}

// Stop while recording: the device is reset and the controls unlocked before the thread is asked
// to stop, and nothing of the run is left open afterwards.
TEST_F(RunTest, StopEndsARecordingAndClosesEverything)
{
    ASSERT_TRUE(BeginRun(nullptr));
    CaptureState = 0;
    ASSERT_TRUE(StartDecoderThread());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(StopRun(), kExitStopped);
    const FakeUi ui = FakeUiSnapshot();
    EXPECT_EQ(ui.resetCalls, 1);
    EXPECT_EQ(ui.idleCalls, 1);
    EXPECT_EQ(CaptureState.load(), 1);
    EXPECT_FALSE(TapOutputOpen());
    EXPECT_FALSE(FileMode());
    // Ending it again is harmless.
    EXPECT_EQ(EndRun(), kExitStopped);
}

}  // namespace
