#include "decoder/decoderthread.h"

#include <fstream>
#include <thread>

#include "capture/pipe.h"
#include "decoder/block.h"
#include "decoder/catalogue.h"
#include "decoder/halfperiod.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "tests/fake_ui.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

class DecoderThreadTest : public CoreTest {
protected:
    void StartUpScan()
    {
        ScanTapeFiles();
        FakeUiClear();
    }
};

TEST_F(DecoderThreadTest, EveryBlockGetsItsOwnPatchedFile)
{
    const Bytes header = HeaderBlock(3, "SCREEN    ", 0x1B00);
    const Bytes data = WithChecksum(0xFF, Bytes(0x1B00, 0x5A));
    StartUpScan();
    Signal s;
    s.Block(header).Block(data);
    EXPECT_EQ(DecodeFile(s.samples), kExitEndOfFile);
    EXPECT_EQ(ReadFileBytes("out001.tap"), TapFile(header));
    // 0x1B02 block bytes: length field 0x02 0x1B.
    const Bytes second = ReadFileBytes("out002.tap");
    ASSERT_EQ(second.size(), 0x1B04u);
    EXPECT_EQ(second[0], 0x02);
    EXPECT_EQ(second[1], 0x1B);
    EXPECT_EQ(second, TapFile(data));
    // The third file was opened for a block that never came, and keeps its placeholder.
    EXPECT_EQ(ReadFileBytes("out003.tap"), (Bytes{0x20, 0x20}));
}

TEST_F(DecoderThreadTest, HeaderIsReportedInLogAndPane)
{
    StartUpScan();
    Signal s;
    s.Block(HeaderBlock(3, "ABCDEFGHIJ", 0x1B00));
    DecodeFile(s.samples);
    const Lines lines = Messages();
    const Lines tail(lines.end() - 8, lines.end());
    EXPECT_EQ(tail, (Lines{"Read 19 bytes", "CRC summ ok", "Bytes:ABCDEFGHIJ", "Block size=6912", "out001.tap",
                           " ", "Wait pilot...", ".PCM file closed"}));
    EXPECT_EQ(FakeUiSnapshot().headerPane, "Read 19 bytes okey\r\nBytes:ABCDEFGHIJ\r\nWait 6912 bytes\r\n");
    const Bytes file = ReadFileBytes("out001.tap");
    EXPECT_EQ(file[0], 0x13);
    EXPECT_EQ(file[1], 0x00);
}

TEST_F(DecoderThreadTest, CatalogueShowsTheRescanAndThenTheBareName)
{
    StartUpScan();
    Signal s;
    s.Block(HeaderBlock(0, "MYGAME", 1234)).Block(WithChecksum(0xFF, Bytes(1234, 1)));
    DecodeFile(s.samples);
    EXPECT_EQ(FakeUiSnapshot().catalogue,
              (Lines{"out001.tap Head(Program):MYGAME     1234 (19)", "out002.tap Data:  (1236)", "out002.tap"}));
}

struct HeaderTypeCase {
    uint8_t type;
    const char* word;
};

class HeaderTypeTest : public DecoderThreadTest, public ::testing::WithParamInterface<HeaderTypeCase> {};

TEST_P(HeaderTypeTest, TypeWordPrecedesTheName)
{
    StartUpScan();
    Signal s;
    s.Block(HeaderBlock(GetParam().type, "NAME", 7));
    DecodeFile(s.samples);
    const std::string report = std::string(GetParam().word) + "NAME      ";
    EXPECT_EQ(FakeUiSnapshot().headerPane, "Read 19 bytes okey\r\n" + report + "\r\nWait 7 bytes\r\n");
}

INSTANTIATE_TEST_SUITE_P(Types, HeaderTypeTest,
                         ::testing::Values(HeaderTypeCase{0, "Program:"}, HeaderTypeCase{1, "Array:"},
                                           HeaderTypeCase{2, "Array:"}, HeaderTypeCase{3, "Bytes:"},
                                           HeaderTypeCase{7, "Data:"}));

TEST_F(DecoderThreadTest, HeaderWithBadChecksumIsStillReported)
{
    StartUpScan();
    Bytes header = HeaderBlock(0, "BROKEN", 100);
    header[18] ^= 0x55;
    Signal s;
    s.Block(header);
    DecodeFile(s.samples);
    const Lines lines = Messages();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Warning! CRC summ error "), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Program:BROKEN    "), lines.end());
}

TEST_F(DecoderThreadTest, TwentyOneByteFileWithDataFlagIsNoHeader)
{
    StartUpScan();
    Bytes block = HeaderBlock(0, "NOTHEAD", 100);
    block[0] = 0xFF;
    block[18] ^= 0xFF;
    Signal s;
    s.Block(block);
    DecodeFile(s.samples);
    for (const std::string& line : Messages())
        EXPECT_EQ(line.find("Program:"), std::string::npos);
}

TEST_F(DecoderThreadTest, NameEndsAtAZeroByte)
{
    StartUpScan();
    Signal s;
    s.Block(HeaderBlock(0, std::string("AB\0CD", 5), 9));
    DecodeFile(s.samples);
    const Lines lines = Messages();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Program:AB"), lines.end());
}

TEST_F(DecoderThreadTest, EmptyFirstBlockInEmptyDirectoryMovesTheNumberOn)
{
    StartUpScan();
    EXPECT_EQ(NextTapeNumber, 1);
    Signal s;
    s.Pilot(400).Sync().EndOfBlock();
    DecodeFile(s.samples);
    EXPECT_FALSE(std::filesystem::exists("out001.tap"));
    EXPECT_EQ(NextTapeNumber, 2);
    // The next block was to go to out002.tap when the recording ended.
    EXPECT_EQ(ReadFileBytes("out002.tap"), (Bytes{0x20, 0x20}));
    const Lines lines = Messages();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "out001.tap"), lines.end());
    EXPECT_EQ(FakeUiSnapshot().catalogue, (Lines{"out001.tap"}));
}

TEST_F(DecoderThreadTest, EmptyBlockKeepsTheNumberWhileOtherFilesExist)
{
    WriteFileBytes("out004.tap", TapFile(WithChecksum(0xFF, {9})));
    StartUpScan();
    EXPECT_EQ(NextTapeNumber, 5);
    Signal s;
    s.Pilot(400).Sync().EndOfBlock().Block(WithChecksum(0xFF, {1}));
    DecodeFile(s.samples);
    EXPECT_EQ(ReadFileBytes("out005.tap"), TapFile(WithChecksum(0xFF, {1})));
    EXPECT_FALSE(std::filesystem::exists("out006.tap.missing"));
}

TEST_F(DecoderThreadTest, FirstBlockFollowsExistingFiles)
{
    for (int i = 1; i <= 4; ++i)
        WriteFileBytes("out00" + std::to_string(i) + ".tap", TapFile(WithChecksum(0xFF, {uint8_t(i)})));
    StartUpScan();
    Signal s;
    s.Block(WithChecksum(0xFF, {7}));
    DecodeFile(s.samples);
    EXPECT_EQ(ReadFileBytes("out005.tap"), TapFile(WithChecksum(0xFF, {7})));
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(ReadFileBytes("out00" + std::to_string(i) + ".tap"), TapFile(WithChecksum(0xFF, {uint8_t(i)})));
}

TEST_F(DecoderThreadTest, LongBlockKeepsTheLowSixteenBitsOfItsLength)
{
    StartUpScan();
    const Bytes block = WithChecksum(0xFF, Bytes(0x10003, 0x33));  // 0x10005 bytes
    Signal s;
    s.Block(block);
    DecodeFile(s.samples);
    const Bytes file = ReadFileBytes("out001.tap");
    ASSERT_EQ(file.size(), block.size() + 2);
    EXPECT_EQ(file[0], 0x05);
    EXPECT_EQ(file[1], 0x00);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), file.begin() + 2));
}

TEST_F(DecoderThreadTest, EndOfFileMidBlockLeavesThePlaceholder)
{
    StartUpScan();
    Signal s;
    s.Block(WithChecksum(0xFF, {1, 2})).Pilot(400).Sync().Bytes({0x11, 0x22, 0x33}).Half(1);
    WriteFileBytes("input.pcm", s.samples);
    ASSERT_TRUE(BeginRun("input.pcm"));
    EXPECT_EQ(RunDecoderHere(), kExitEndOfFile);
    // The thread itself closes what it read and wrote, and tells the front end once.
    EXPECT_FALSE(RawInputOpen());
    EXPECT_FALSE(TapOutputOpen());
    EXPECT_EQ(FakeUiSnapshot().runEndedCalls, 1);
    EndRun();
    EXPECT_EQ(ReadFileBytes("out002.tap"), (Bytes{0x20, 0x20, 0x11, 0x22, 0x33}));
    EXPECT_EQ(Messages().back(), ".PCM file closed");
    EXPECT_EQ(NextTapeNumber, 2);  // the next run writes the unfinished file again
}

TEST_F(DecoderThreadTest, UncreatableFileEndsTheThread)
{
    std::filesystem::create_directory("out001.tap");  // a name that cannot be opened for writing
    NextTapeNumber = 1;
    Signal s;
    s.Block(WithChecksum(0xFF, {1}));
    EXPECT_EQ(DecodeFile(s.samples), kExitCannotCreate);
    EXPECT_EQ(Messages(), (Lines{"Can't create file. Exit task"}));
}

TEST_F(DecoderThreadTest, StopLeavesTheBlockInProgressAndQueuedBytesForTheNextRun)
{
    StartUpScan();
    Signal s;
    s.Block(WithChecksum(0xFF, {5, 6})).Pilot(400).Sync().Bytes({0x44}).Half(2);
    SamplePipe.add(s.samples.data(), static_cast<int32_t>(s.samples.size()));
    ASSERT_TRUE(BeginRun(nullptr));
    ASSERT_TRUE(StartDecoderThread());
    // Wait until the decoder has taken everything and sleeps on the empty queue.
    while (SamplePipe.Queued() > 0)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(EndRun(), kExitStopped);
    EXPECT_EQ(ReadFileBytes("out001.tap"), TapFile(WithChecksum(0xFF, {5, 6})));
    EXPECT_EQ(ReadFileBytes("out002.tap"), (Bytes{0x20, 0x20, 0x44}));
    EXPECT_EQ(NextTapeNumber, 2);

    // Bytes queued while no decoder runs are read first by the next one.
    Signal next;
    next.high = s.high;
    next.Half(300).Block(WithChecksum(0xFF, {8}));
    SamplePipe.add(next.samples.data(), static_cast<int32_t>(next.samples.size()));
    ASSERT_TRUE(BeginRun(nullptr));
    ASSERT_TRUE(StartDecoderThread());
    while (!std::filesystem::exists("out003.tap"))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EndRun();
    EXPECT_EQ(ReadFileBytes("out002.tap"), TapFile(WithChecksum(0xFF, {8})));
}

}  // namespace
