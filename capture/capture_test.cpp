#include "capture/capture.h"

#include <utility>

#include "tests/fake_ui.h"
#include "tests/test_support.h"

namespace {

class StopCaptureTest : public CoreTest {};

TEST_F(StopCaptureTest, RecordingIsResetAndControlsUnlocked)
{
    CaptureState = 0;
    StopCapture();
    EXPECT_EQ(CaptureState.load(), 1);
    EXPECT_EQ(FakeUiSnapshot().resetCalls, 1);
    EXPECT_EQ(FakeUiSnapshot().idleCalls, 1);
}

TEST_F(StopCaptureTest, RawFileRunTouchesNoDevice)
{
    SetFileMode(true);
    StopCapture();
    EXPECT_EQ(FakeUiSnapshot().resetCalls, 0);
    EXPECT_EQ(FakeUiSnapshot().idleCalls, 1);
}

TEST_F(StopCaptureTest, StoppingTwiceResetsTheDeviceOnce)
{
    // The end of the raw file on the decoder thread and Stop on the other can both arrive.
    CaptureState = 0;
    StopCapture();
    StopCapture();
    EXPECT_EQ(FakeUiSnapshot().resetCalls, 1);
}

TEST_F(StopCaptureTest, FailedResetIsLoggedAndLeavesTheControlsLocked)
{
    FakeUiSetResetSucceeds(false);
    CaptureState = 0;
    StopCapture();
    EXPECT_EQ(CaptureState.load(), 1);
    EXPECT_EQ(FakeUiSnapshot().idleCalls, 0);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"OnIDC_STOP -> \xEE\xF8\xE8\xE1\xEA\xE0 \xF4\xF3\xED\xEA\xF6\xE8\xE8 waveInReset"}));
}

// A second and a half is 66150 bytes; a length that does not divide it rounds the count up.
TEST(SoundBufferCountTest, HoldsASecondAndAHalfAndNeverFewerThanThree)
{
    const std::pair<int32_t, int32_t> cases[] = {{256, 259}, {1024, 65}, {22049, 4}, {22050, 3}, {66150, 3}, {200000, 3}};
    for (const auto& [length, count] : cases)
        EXPECT_EQ(SoundBufferCount(length), count) << length;
}

}  // namespace
