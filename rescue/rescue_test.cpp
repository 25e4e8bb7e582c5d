#include "rescue/rescue.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "decoder/block.h"
#include "decoder/blockfile.h"
#include "decoder/catalogue.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "tests/rescue/tapesim.h"
#include "tests/test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const double kPi = 3.14159265358979323846;

struct Reported {
    std::string file;
    BlockFacts facts;
};
std::vector<Reported> reported;

void Observe(const char* name, long, const BlockFacts& facts)
{
    reported.push_back({name, facts});
}

struct Memory {
    const std::vector<float>* frames;
    int channels;
    size_t at;
};

size_t ReadMemory(void* context, float* out, size_t count)
{
    Memory* m = static_cast<Memory*>(context);
    const size_t left = (m->frames->size() - m->at) / static_cast<size_t>(m->channels);
    const size_t n = std::min(count, left) * static_cast<size_t>(m->channels);
    std::copy(m->frames->begin() + static_cast<std::ptrdiff_t>(m->at),
              m->frames->begin() + static_cast<std::ptrdiff_t>(m->at + n), out);
    m->at += n;
    return n / static_cast<size_t>(m->channels);
}

// Seconds of tape a data block (flag 0xFF) takes at the ROM's timings, pilot and sync included.
double BlockSeconds(const Bytes& block)
{
    double tstates = 3223 * 2168.0 + 667 + 735;
    for (uint8_t byte : block)
        for (int bit = 0; bit < 8; ++bit)
            tstates += (byte >> bit & 1) ? 2 * 1710 : 2 * 855;
    return tstates / 3500000;
}

Bytes Payload(size_t size, unsigned seed)
{
    Bytes bytes(size);
    for (uint8_t& byte : bytes) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

// A clean recording of `block` at the ROM's timings, a second of silence either side, whose bit
// `doubtful` (in the order read) lasts `halfT` T-states a half: a bit no reading can tell. Each
// sample is the mean of the square wave over it.
std::vector<float> RenderWithDoubt(const Bytes& block, size_t doubtful, int halfT)
{
    std::vector<int> halves(block[0] < 128 ? 8063 : 3223, 2168);
    halves.push_back(667);
    halves.push_back(735);
    for (size_t bit = 0; bit < 8 * block.size(); ++bit) {
        const int half = bit == doubtful ? halfT : (block[bit / 8] >> (7 - bit % 8) & 1) ? 1710 : 855;
        halves.insert(halves.end(), 2, half);
    }
    const double second = 44100, perT = second / 3500000;
    std::vector<float> frames(static_cast<size_t>(second), 0.0f);
    double at = 0, level = -0.5;  // in samples from the signal's start
    for (int half : halves) {
        const double end = at + half * perT;
        for (double t = at; t < end;) {
            const double next = std::min(end, std::floor(t) + 1);
            const size_t n = static_cast<size_t>(second + std::floor(t));
            if (frames.size() <= n)
                frames.resize(n + 1, 0.0f);
            frames[n] += static_cast<float>(level * (next - t));
            t = next;
        }
        at = end;
        level = -level;
    }
    frames.resize(frames.size() + static_cast<size_t>(second), 0.0f);
    return frames;
}

// Runs the rescue decoder over frames in a fresh TAPE-like directory (the fixture's), with the block
// observer recording.
class RescueRun : public CoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        reported.clear();
        BlockDecoded = Observe;
    }
    void TearDown() override
    {
        BlockDecoded = nullptr;
        CoreTest::TearDown();
    }
    int Run(const std::vector<float>& frames, int channels)
    {
        // As the console decoder does before a run: NextTapeNumber from the files present.
        ScanTapeFiles();
        Memory memory{&frames, channels, 0};
        return RunRescue(RescueSource{channels, 44100, ReadMemory, &memory}, tape);
    }
    Tape tape;
    bool Logged(const std::string& line)
    {
        const std::vector<std::string> lines = Messages();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool LoggedStart(const std::string& start)
    {
        for (const std::string& line : Messages())
            if (line.rfind(start, 0) == 0)
                return true;
        return false;
    }
};

TEST_F(RescueRun, CleanTapeGivesTheDecodersFilesLogAndReport)
{
    const Bytes header = HeaderBlock(3, "rescued", 300), data = WithChecksum(0xFF, Payload(300, 1));
    const std::vector<float> frames = TapesimRender({header, data}, TapesimPreset(kTapesimClean, 1, 1));
    EXPECT_EQ(Run(frames, 1), kExitEndOfFile);
    EXPECT_EQ(ReadFileBytes("out001.tap"), TapFile(header));
    EXPECT_EQ(ReadFileBytes("out002.tap"), TapFile(data));
    EXPECT_EQ(NextTapeNumber, 3);
    EXPECT_TRUE(Logged("Bytes:rescued   "));
    EXPECT_TRUE(Logged("Block size=300"));
    const std::vector<std::string> lines = Messages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "CRC summ ok"), 2);
    EXPECT_FALSE(LoggedStart("Attempt"));
    // The decoder's own close of a block: its file's name, then a blank line.
    EXPECT_NE(ReadFileText("status.log").find("out002.tap\r\n \r\n"), std::string::npos);

    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[1].file, "out002.tap");
    EXPECT_EQ(reported[1].facts.verdict, 0);
    EXPECT_TRUE(reported[1].facts.dataBegun);
    // The data block's pilot begins after the header and its second of silence.
    const double second = 44100;
    EXPECT_NEAR(static_cast<double>(reported[1].facts.pilotStart), reported[0].facts.end + second, 0.02 * second);
    EXPECT_NEAR(static_cast<double>(reported[1].facts.pilotHalfPeriods), 3223, 3);
    // The run's tape holds the same blocks, each with its file, read at the ROM's timings.
    ASSERT_EQ(tape.items.size(), 2u);
    EXPECT_EQ(tape.items[1].file, "out002.tap");
    EXPECT_EQ(tape.items[1].bytes, data);
    EXPECT_EQ(tape.items[1].verdict, kVerdictOk);
    EXPECT_TRUE(RomTimed(tape.items[0].timings));
}

TEST_F(RescueRun, FailedBlockIsReadAgainAndTheSoundReadingKept)
{
    // Strong hum over the data of the second block only: the first reading's gentle high-pass
    // leaves it and loses the bits, the 300 Hz one takes it away.
    const Bytes first = WithChecksum(0xFF, Payload(100, 2)), second = WithChecksum(0xFF, Payload(200, 3));
    std::vector<float> frames = TapesimRender({first, second}, TapesimPreset(kTapesimClean, 1, 2));
    // From just after the second block's sync to its end.
    const size_t dataFrom = static_cast<size_t>(44100 * (1 + BlockSeconds(first) + 1 + 2.0)),
                 dataTo = frames.size() - 44100;
    for (size_t n = dataFrom; n < dataTo; ++n)
        frames[n] += static_cast<float>(0.9 * std::sin(2 * kPi * 50 * static_cast<double>(n) / 44100));
    EXPECT_EQ(Run(frames, 1), kExitEndOfFile);
    EXPECT_EQ(ReadFileBytes("out001.tap"), TapFile(first));
    EXPECT_EQ(ReadFileBytes("out002.tap"), TapFile(second));
    EXPECT_TRUE(LoggedStart("First reading: "));
    EXPECT_TRUE(Logged("Attempt 2 (high-pass 300 Hz): 202 bytes, CRC summ ok"));
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[1].facts.verdict, 0);
}

TEST_F(RescueRun, BlockNoReadingGetsRightIsKeptAndItsPositionReported)
{
    // The tape itself holds a wrong checksum: every attempt reads the same bytes and fails.
    Bytes spoilt = WithChecksum(0xFF, Payload(150, 4));
    spoilt.back() ^= 0x5A;
    const std::vector<float> frames = TapesimRender({spoilt}, TapesimPreset(kTapesimClean, 1, 4));
    EXPECT_EQ(Run(frames, 1), kExitEndOfFile);
    EXPECT_EQ(ReadFileBytes("out001.tap"), TapFile(spoilt));
    EXPECT_TRUE(Logged("Warning! CRC summ error "));
    EXPECT_TRUE(Logged("No attempt read the block whole; the first reading is kept"));
    EXPECT_TRUE(LoggedStart("Bad block at 2.996 s"));  // a second of silence and 3223 pilot pulses first
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].facts.verdict, 1);
    EXPECT_NEAR(reported[0].facts.pilotStart, 44100, 100);
}

TEST_F(RescueRun, BlockOfAnotherLengthThanItsHeaderAnnouncedIsKeptAsBad)
{
    // The header announces 500 bytes; the block after it holds 200 whose bytes XOR to 0, as a block
    // broken off where its XOR happened to be 0 would: good only at the announced length.
    const Bytes header = HeaderBlock(3, "loader", 500), data = WithChecksum(0xFF, Payload(200, 7));
    const std::vector<float> frames = TapesimRender({header, data}, TapesimPreset(kTapesimClean, 1, 7));
    EXPECT_EQ(Run(frames, 1), kExitEndOfFile);
    EXPECT_EQ(ReadFileBytes("out002.tap"), TapFile(data));
    EXPECT_TRUE(Logged("First reading: 202 bytes, wrong length; reading again when the stretch has ended"));
    EXPECT_TRUE(Logged("The header announced 500 bytes, no reading has them whole; the first reading is kept as a "
                       "bad block"));
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[1].facts.verdict, 1);
    EXPECT_EQ(tape.items[1].verdict, kVerdictError);
}

TEST_F(RescueRun, BitNoAttemptCanTellIsRepairedByTheChecksum)
{
    // Bit 3 of byte 40 (a 1) of the block its header announces lasts between a 0's and a 1's:
    // every attempt reads it as it can, none sure, and the checksum's column 3 fails; the rest of
    // the block is sure.
    const Bytes header = HeaderBlock(3, "doubt", 300), block = WithChecksum(0xFF, Payload(300, 11));
    ASSERT_TRUE(block[40] >> 3 & 1);
    std::vector<float> frames = RenderWithDoubt(header, 8 * header.size(), 0);
    const std::vector<float> doubtful = RenderWithDoubt(block, 8 * 40 + 4, 1245);
    frames.insert(frames.end(), doubtful.begin(), doubtful.end());
    EXPECT_EQ(Run(frames, 1), kExitEndOfFile);
    EXPECT_EQ(ReadFileBytes("out002.tap"), TapFile(block));
    EXPECT_TRUE(Logged("Repaired by the checksum: 1 bit (byte 40 bit 3)"));
    ASSERT_EQ(tape.items.size(), 2u);
    EXPECT_EQ(tape.items[1].verdict, kVerdictRepaired);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[1].facts.verdict, 0);
    // Without the header nothing vouches for the block's length, and nothing is repaired.
    EXPECT_EQ(Run(doubtful, 1), kExitEndOfFile);
    ASSERT_EQ(tape.items.size(), 3u);
    EXPECT_EQ(tape.items[2].verdict, kVerdictError);
}

TEST_F(RescueRun, StereoTapeIsReadFromTheChannelThatKeptIt)
{
    // From the middle of the data on, the right channel carries the left one turned over under
    // loud hiss: their mix loses the bits, the left channel alone does not.
    const Bytes block = WithChecksum(0xFF, Payload(200, 5));
    TapesimParams params = TapesimPreset(kTapesimClean, 1, 5);
    params.channels = 2;
    std::vector<float> frames = TapesimRender({block}, params);
    uint64_t state = 99;
    for (size_t n = 44100 * 4; n < frames.size() / 2; ++n) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const double noise = (static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5) * 1.2;
        frames[2 * n + 1] = static_cast<float>(-frames[2 * n] + noise);
    }
    EXPECT_EQ(Run(frames, 2), kExitEndOfFile);
    EXPECT_EQ(ReadFileBytes("out001.tap"), TapFile(block));
    EXPECT_TRUE(LoggedStart("Attempt ") && Logged("CRC summ ok"));
    EXPECT_TRUE(Logged("Attempt 8 (channel 1): 202 bytes, CRC summ ok"));
}

TEST_F(RescueRun, FragmentIsNeverCalledGood)
{
    // A flag byte alone (a header broken off after it; its sync at 5.99 s) XORs to 0 by itself, and so do five bytes
    // with flag 0: neither is a block of the tape. The first leaves no file, the second is kept
    // as bad; the whole block after them is still good.
    const Bytes flagAlone = {0x00}, shortHeader = {0x00, 0x12, 0x34, 0x56, 0x70}, data = WithChecksum(0xFF, Payload(50, 8));
    const std::vector<float> frames =
        TapesimRender({flagAlone, shortHeader, data}, TapesimPreset(kTapesimClean, 1, 8));
    EXPECT_EQ(Run(frames, 1), kExitEndOfFile);
    EXPECT_EQ(ReadFileBytes("out001.tap"), TapFile(shortHeader));
    EXPECT_EQ(ReadFileBytes("out002.tap"), TapFile(data));
    EXPECT_TRUE(LoggedStart("Read 1 bytes at 5.99"));
    EXPECT_TRUE(Logged("Warning! 5 bytes with flag 0 make no header, which has 19; kept as a bad block"));
    const std::vector<std::string> lines = Messages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "CRC summ ok"), 1);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[0].facts.verdict, 1);
    EXPECT_EQ(reported[1].facts.verdict, 0);
}

TEST_F(RescueRun, FileThatCannotBeCreatedEndsTheRun)
{
    NextTapeNumber = kHighestTapeNumber + 1;
    const std::vector<float> frames =
        TapesimRender({WithChecksum(0xFF, Payload(20, 6))}, TapesimPreset(kTapesimClean, 1, 6));
    EXPECT_EQ(Run(frames, 1), kExitCannotCreate);
    EXPECT_TRUE(Logged("Can't create file. Exit task"));
}

}  // namespace
