// A run fed by a file reader instead of the raw file, and what the decoder records of each block
// for the front ends that report blocks.
#include "decoder/halfperiod.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "decoder/block.h"
#include "decoder/blockfile.h"
#include "decoder/catalogue.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "decoder/timing.h"
#include "tests/fake_ui.h"
#include "tests/test_support.h"

namespace {

// Hands out a recording in memory in batches of an awkward size, and notes what it was asked.
struct MemoryReader {
    std::vector<uint8_t> samples;
    size_t at = 0;
    int32_t chunk = 1000;
    std::vector<int> baseLines;
    int closed = 0;
};

int32_t ReadMemory(void* context, uint8_t* out, int32_t capacity, uint8_t baseLine)
{
    MemoryReader& r = *static_cast<MemoryReader*>(context);
    r.baseLines.push_back(baseLine);
    const size_t n = std::min({static_cast<size_t>(capacity), static_cast<size_t>(r.chunk), r.samples.size() - r.at});
    std::memcpy(out, r.samples.data() + r.at, n);
    r.at += n;
    return static_cast<int32_t>(n);
}

void CloseMemory(void* context)
{
    ++static_cast<MemoryReader*>(context)->closed;
}

struct Seen {
    std::string name;
    long length;
    BlockFacts facts;
};
std::vector<Seen> seen;

void Observe(const char* name, long length, const BlockFacts& facts)
{
    seen.push_back({name, length, facts});
}

class FileReaderTest : public CoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        seen.clear();
        BlockDecoded = Observe;
    }
    void TearDown() override
    {
        BlockDecoded = nullptr;
        CoreTest::TearDown();
    }

    static Signal Tape()
    {
        Signal s;
        s.Half(5).Half(5);  // too short for pilot: the pilot starts at sample 10
        for (int i = 0; i < 200; ++i)
            s.Half(26).Half(28);
        s.Sync().Bytes(WithChecksum(0xFF, {1, 2, 3})).EndOfBlock();
        s.Half(300).Pilot(350, 30).Sync().Bytes({0xFF, 7, 7}).EndOfBlock();  // a bad checksum
        s.Pilot(400).Sync().EndOfBlock();                                    // no byte at all
        return s;
    }
};

TEST_F(FileReaderTest, ReaderRunIsTheRawRun)
{
    const Signal s = Tape();
    TimingSettings.BaseLine = 100;
    ScanTapeFiles();
    ASSERT_EQ(DecodeFile(s.samples), kExitEndOfFile);
    const std::vector<std::string> rawLog = Messages();
    const std::vector<uint8_t> first = ReadFileBytes("out001.tap"), second = ReadFileBytes("out002.tap");
    std::filesystem::remove("out001.tap");
    std::filesystem::remove("out002.tap");
    std::filesystem::remove("out003.tap");

    ResetDecoder();
    FakeUiClear();
    ScanTapeFiles();
    MemoryReader reader;
    reader.samples = s.samples;
    BeginRun(FileReader{ReadMemory, CloseMemory, &reader});
    EXPECT_TRUE(FileMode());
    EXPECT_TRUE(RawInputOpen());
    EXPECT_EQ(RunDecoderHere(), kExitEndOfFile);
    EXPECT_EQ(reader.closed, 1);
    EXPECT_FALSE(RawInputOpen());
    EndRun();
    EXPECT_EQ(reader.closed, 1);
    EXPECT_EQ(Messages(), rawLog);
    EXPECT_EQ(ReadFileBytes("out001.tap"), first);
    EXPECT_EQ(ReadFileBytes("out002.tap"), second);
    EXPECT_EQ(reader.baseLines, std::vector<int>(reader.baseLines.size(), 100));
}

TEST_F(FileReaderTest, EveryBlockIsReportedWithItsFacts)
{
    const Signal s = Tape();
    ScanTapeFiles();
    ASSERT_EQ(DecodeFile(s.samples), kExitEndOfFile);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].name, "out001.tap");
    EXPECT_EQ(seen[0].length, 2 + 5);
    EXPECT_EQ(seen[0].facts.verdict, 0);
    EXPECT_EQ(seen[0].facts.pilotStart, 10);
    EXPECT_EQ(seen[0].facts.pilotHalfPeriods, 400);
    EXPECT_EQ(seen[0].facts.pilotSamples, 400 * 27);
    EXPECT_TRUE(seen[0].facts.dataBegun);
    EXPECT_EQ(seen[1].facts.verdict, 1);
    EXPECT_EQ(seen[1].facts.pilotHalfPeriods, 350);
    EXPECT_EQ(seen[1].facts.pilotSamples, 350 * 30);
    // The empty block is reported too, with the length of its deleted file.
    EXPECT_EQ(seen[2].length, 2);

    // Each end is the offset the log gives as the block's file position.
    std::vector<int64_t> logged;
    for (const std::string& line : Messages())
        if (line.rfind("File position=", 0) == 0)
            logged.push_back(std::stoll(line.substr(14)));
    ASSERT_EQ(logged.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(seen[i].facts.end, logged[i]);
    EXPECT_LT(seen[0].facts.end, seen[1].facts.pilotStart);
}

// The end of the recording inside a block leaves it unfinished in the record.
TEST_F(FileReaderTest, BlockCutShortStaysUnfinished)
{
    Signal s;
    s.Pilot(400).Sync().Bytes({0xFF, 1, 2, 3, 4});
    ScanTapeFiles();
    ASSERT_EQ(DecodeFile(s.samples), kExitEndOfFile);
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(CurrentBlock.dataBegun);
    EXPECT_EQ(CurrentBlock.verdict, -1);
    EXPECT_EQ(CurrentBlock.pilotStart, 0);
}

}  // namespace
