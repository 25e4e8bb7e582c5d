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

// Ending a recording: the decoder asleep on the empty queue is woken and stopped, and nothing of
// the run is left open afterwards; only the end of a file tells the front end.
TEST_F(RunTest, EndingARecordingClosesEverything)
{
    ASSERT_TRUE(BeginRun(nullptr));
    ASSERT_TRUE(StartDecoderThread());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(EndRun(), kExitStopped);
    EXPECT_EQ(FakeUiSnapshot().runEndedCalls, 0);
    EXPECT_FALSE(TapOutputOpen());
    EXPECT_FALSE(FileMode());
    // Ending it again is harmless.
    EXPECT_EQ(EndRun(), kExitStopped);
}

}  // namespace
