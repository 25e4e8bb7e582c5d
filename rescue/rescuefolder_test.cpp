// The rescue into a folder of its own: the tape's blocks from out001.tap with the folder's own
// status.log and the joined tape.tap, the last line, and what it leaves as it was (the directory,
// the file numbers, the files around it).
#include "rescue/rescuefolder.h"

#include <algorithm>
#include <filesystem>

#include "audio/format.h"
#include "decoder/catalogue.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "tests/fake_ui.h"
#include "rescue/rescueinput.h"
#include "tests/rescue/tapesim.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

class RescueFolderTest : public CoreTest {
protected:
    // Skewed edges at full strength: the rescue decoder's, not the fixed thresholds'.
    std::vector<std::vector<uint8_t>> blocks = {HeaderBlock(3, "FOLDER", 300), WithChecksum(0xFF, std::vector<uint8_t>(300, 0x5A)),
                                                WithChecksum(0xFF, {1, 2, 3, 4})};

    // The recording rescued from the window: a WAV of any depth and rate, every channel read.
    FolderRescue Rescue(const std::string& name, const std::string& folder, int liveGood)
    {
        std::string error;
        RescueInput* recording = OpenRescueInput(name.c_str(), kMixChannels, &error);
        EXPECT_NE(recording, nullptr) << error;
        if (!recording)
            return FolderRescue{};
        const FolderRescue result = RescueIntoFolder(RescueInputSource(recording), folder, liveGood, "Quorvane test");
        CloseRescueInput(recording);
        return result;
    }
};

TEST_F(RescueFolderTest, WholeTapeInItsOwnFolderAndNothingElseTouched)
{
    // Stereo at 48 kHz, as a sound editor keeps it.
    TapesimParams params = TapesimPreset(kTapesimSkew, 3, 4);
    params.rate = 48000;
    params.channels = 2;
    const std::vector<float> frames = TapesimRender(blocks, params);
    ASSERT_TRUE(TapesimWriteWav16("rec-20260102-030405.wav", frames, 2, 48000));
    const std::vector<uint8_t> live = TapFile(WithChecksum(0xFF, {9}));
    WriteFileBytes("out001.tap", live);
    ScanTapeFiles();
    FakeUiClear();

    const std::string folder = RescueFolderFor("rec-20260102-030405.wav");
    EXPECT_EQ(folder, "rec-20260102-030405");
    const FolderRescue result = Rescue("rec-20260102-030405.wav", folder, 1);

    EXPECT_EQ(result.exitCode, kExitEndOfFile);
    EXPECT_EQ(result.blocks, 3);
    EXPECT_EQ(result.good, 3);
    EXPECT_EQ(Messages().back(), "Rescue: 3 of 3 blocks good, 2 more than the live run");
    EXPECT_EQ(fs::current_path(), dir);
    EXPECT_EQ(NextTapeNumber, 2);
    EXPECT_EQ(ReadFileBytes("out001.tap"), live);
    std::vector<uint8_t> joined;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const std::vector<uint8_t> file = TapFile(blocks[i]);
        char name[32];
        TapeFileName(name, sizeof name, static_cast<int32_t>(i) + 1);
        EXPECT_EQ(ReadFileBytes(folder + "/" + name), file) << i;
        joined.insert(joined.end(), file.begin(), file.end());
    }
    EXPECT_EQ(ReadFileBytes(folder + "/tape.tap"), joined);
    // The blocks of the folder's TZX are those of the tape, in its order.
    const std::vector<uint8_t> tzx = ReadFileBytes(folder + "/tape.tzx");
    size_t found = 0, at = 0;
    for (const std::vector<uint8_t>& block : blocks) {
        const auto where = std::search(tzx.begin() + static_cast<std::ptrdiff_t>(at), tzx.end(), block.begin(), block.end());
        found += where != tzx.end();
        at = where == tzx.end() ? at : static_cast<size_t>(where - tzx.begin()) + block.size();
    }
    EXPECT_EQ(found, blocks.size());
    EXPECT_NE(ReadFileText(folder + "/status.log").find("Rescue: 3 of 3 blocks good"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder + "/out004.tap"));
    // A second rescue of the same recording gets a folder of its own.
    EXPECT_EQ(RescueFolderFor("rec-20260102-030405.wav"), "rec-20260102-030405-2");

    // Stopped at once: what it had (nothing) is kept, and it still says so.
    RequestDecoderStop();
    const FolderRescue stopped = Rescue("rec-20260102-030405.wav", "stopped", -1);
    EXPECT_EQ(stopped.exitCode, kExitStopped);
    EXPECT_EQ(Messages().back(), "Rescue: 0 of 0 blocks good");
    EXPECT_TRUE(fs::exists("stopped/tape.tap"));
}

TEST(RescueSummaryTest, ComparesWithTheLiveRun)
{
    EXPECT_EQ(RescueSummary(31, 32, 28), "Rescue: 31 of 32 blocks good, 3 more than the live run");
    EXPECT_EQ(RescueSummary(5, 6, 5), "Rescue: 5 of 6 blocks good, as many as the live run");
    EXPECT_EQ(RescueSummary(4, 6, 5), "Rescue: 4 of 6 blocks good, 1 fewer than the live run");
}

}  // namespace
