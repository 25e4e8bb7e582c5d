// Hostile directories and disks: a TAPE directory the decoder cannot write, a status.log it cannot
// append to, a disk that fills or runs out of inodes while a block is written, a thousand and more
// files already present, and a raw recording that shrinks, vanishes or cannot be read while the
// decoder reads it. Running as root, permissions stop nothing; read-only and full disks are tmpfs
// mounts and read-only binds (the test is skipped where mounting is not allowed), an unwritable
// name is a directory entry of that name, a failing device is /dev/full.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "audio/audiofile.h"
#include "capture/keeper.h"
#include "capture/pipe.h"
#include "decoder/catalogue.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "tests/fake_ui.h"
#include "tests/faults/fault_support.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

// Three blocks: a header, its data, and a short block of another flag.
Recording ThreeBlocks(size_t dataLength = 200)
{
    std::mt19937 bytes(3);
    return MakeRecording({HeaderBlock(0, "HOSTILE", static_cast<uint16_t>(dataLength)),
                          TaggedBlock(1, dataLength - 4, bytes), WithChecksum(0x00, {1, 2, 3})});
}

bool Contains(const Lines& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class HostileTest : public CoreTest {
protected:
    void TearDown() override
    {
        fs::current_path(dir);
        mounts.UnmountAll();
        CoreTest::TearDown();
    }

    // A raw-file run as Start and Stop do it, with the recording at rawName (which may lie outside
    // the current directory, when that is read-only); the decoder thread's body runs on this thread.
    int RawRun(const Bytes& samples, const std::string& rawName)
    {
        WriteFileBytes(rawName, samples);
        return RawRunOpened(rawName);
    }

    int RawRunOpened(const std::string& rawName)
    {
        EXPECT_TRUE(BeginRun(rawName.c_str()));
        const int exitCode = RunDecoderHere();
        EndRun();
        return exitCode;
    }

    // The TAPE directory of these tests, on a tmpfs with options; skips the test where this machine
    // does not allow mounting.
    bool MountTape(const std::string& options)
    {
        if (!mounts.Tmpfs((dir / "TAPE").string(), options))
            return false;
        fs::current_path(dir / "TAPE");
        return true;
    }

    Mounts mounts;
};

#define SKIP_WITHOUT_MOUNT(ok)                                                    \
    do {                                                                          \
        if (!(ok))                                                                \
            GTEST_SKIP() << "cannot mount here (" << std::strerror(errno) << ")"; \
    } while (0)

// A file that cannot be created ends the decoder thread with its log line, touches nothing else, and
// leaves the controls in their running state until Stop.
void ExpectCannotCreate(int exitCode, const std::map<int64_t, Bytes>& before)
{
    EXPECT_EQ(exitCode, kExitCannotCreate);
    EXPECT_EQ(FakeUiStatusMessages(), (Lines{"Can't create file. Exit task"}));
    EXPECT_EQ(TapFiles(), before);
    EXPECT_EQ(FakeUiSnapshot().runEndedCalls, 0);
}

TEST_F(HostileTest, ReadOnlyTapeDirectoryEndsTheThread)
{
    SKIP_WITHOUT_MOUNT(MountTape("size=1m"));
    const Bytes earlier = TapFile(WithChecksum(0xFF, {9, 9}));
    WriteFileBytes("out001.tap", earlier);
    WriteFileBytes("status.log", {'o', 'l', 'd', '\r', '\n'});
    ScanTapeFiles();
    FakeUiClear();
    ASSERT_TRUE(mounts.RemountReadOnly((dir / "TAPE").string()));

    ExpectCannotCreate(RawRun(ThreeBlocks().signal.samples, "../input.pcm"), {{1, earlier}});
    EXPECT_EQ(ReadFileText("status.log"), "old\r\n");  // the message only reached the pane
}

TEST_F(HostileTest, DirectoryNamedLikeTheReusedFileEndsTheThread)
{
    // After a Stop the next Start writes the unfinished file again; a directory that took its name
    // in between cannot be opened for writing.
    const Recording recording = ThreeBlocks();
    const Bytes& samples = recording.signal.samples;
    ScanTapeFiles();
    EXPECT_EQ(RawRun(Bytes(samples.begin(), samples.begin() + static_cast<long>(recording.blockEnds[0])),
                     "input.pcm"),
              kExitEndOfFile);
    ASSERT_EQ(NextTapeNumber, 2);
    fs::remove("out002.tap");
    fs::create_directory("out002.tap");
    const std::map<int64_t, Bytes> before = TapFiles();
    FakeUiClear();
    ExpectCannotCreate(RawRun(samples, "input.pcm"), before);
}

TEST_F(HostileTest, NoFreeInodeEndsTheThreadAfterTheLastFileThatFitted)
{
    SKIP_WITHOUT_MOUNT(MountTape("size=1m,nr_inodes=32"));
    const Bytes earlier = TapFile(WithChecksum(0xFF, {9, 9}));
    WriteFileBytes("out001.tap", earlier);
    WriteFileBytes("status.log", {});
    // Take every inode but one.
    int fillers = 0;
    for (;; ++fillers) {
        std::ofstream filler("fill" + std::to_string(fillers));
        if (!filler.is_open())
            break;
    }
    ASSERT_GT(fillers, 0);
    fs::remove("fill0");
    ScanTapeFiles();
    FakeUiClear();

    const Recording recording = ThreeBlocks();
    EXPECT_EQ(RawRun(recording.signal.samples, "../input.pcm"), kExitCannotCreate);
    const Lines messages = Messages();
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(Lines(messages.end() - 3, messages.end()), (Lines{"out002.tap", " ", "Can't create file. Exit task"}));
    EXPECT_EQ(TapFiles(), (std::map<int64_t, Bytes>{{1, earlier}, {2, TapFile(recording.blocks[0])}}));
}

TEST_F(HostileTest, FullDiskMidBlockIsLoggedAndDamagesNoEarlierFile)
{
    SKIP_WITHOUT_MOUNT(MountTape("size=256k"));
    std::map<int64_t, Bytes> earlier;
    for (int n = 1; n <= 3; ++n) {
        earlier[n] = TapFile(WithChecksum(0xFF, Bytes(100, static_cast<uint8_t>(n))));
        WriteFileBytes(TapName(n), earlier[n]);
    }
    WriteFileBytes("status.log", {});
    // Fill the disk, then give back five pages: one for status.log, one for the first block, three
    // for the beginning of the long second one.
    {
        std::FILE* filler = std::fopen("filler", "wb");
        ASSERT_NE(filler, nullptr);
        const Bytes page(4096, 0x55);
        while (std::fwrite(page.data(), 1, page.size(), filler) == page.size() && std::fflush(filler) == 0) {
        }
        std::fclose(filler);
        ASSERT_EQ(truncate("filler", static_cast<off_t>(fs::file_size("filler")) - 5 * 4096), 0);
    }
    ScanTapeFiles();
    FakeUiClear();

    std::mt19937 bytes(5);
    const Recording recording = MakeRecording(
        {TaggedBlock(1, 30, bytes), TaggedBlock(2, 40000, bytes), TaggedBlock(3, 30, bytes)});
    EXPECT_EQ(RawRun(recording.signal.samples, "../input.pcm"), kExitEndOfFile);
    const Lines messages = Messages();
    EXPECT_TRUE(Contains(messages, "Write error: out005.tap is incomplete"));
    EXPECT_EQ(messages.back(), ".PCM file closed");

    // The earlier files and the block that fitted are intact; every other file is marked
    // unfinished or holds nothing, so none passes for a complete block.
    const std::map<int64_t, Bytes> files = TapFiles();
    for (const auto& [number, contents] : earlier)
        EXPECT_EQ(files.at(number), contents) << TapName(number);
    EXPECT_EQ(files.at(4), TapFile(recording.blocks[0]));
    // The long block got as far as the disk let it, and its placeholder says it is unfinished.
    EXPECT_GT(files.at(5).size(), 4096u);
    EXPECT_TRUE(IsUnfinished(files.at(5)));
    for (const auto& [number, contents] : files) {
        if (number > 4) {
            EXPECT_TRUE(contents.empty() || IsUnfinished(contents)) << TapName(number);
        }
    }
    EXPECT_EQ(files.count(NextTapeNumber), 1u);
    EXPECT_TRUE(IsUnfinished(files.at(NextTapeNumber)) || files.at(NextTapeNumber).empty());

    // With room again, the next Start writes whole files after them.
    fs::remove("filler");
    const int64_t first = NextTapeNumber;
    FakeUiClear();
    EXPECT_EQ(RawRun(recording.signal.samples, "../input.pcm"), kExitEndOfFile);
    const std::map<int64_t, Bytes> after = TapFiles();
    for (size_t i = 0; i < recording.blocks.size(); ++i)
        EXPECT_EQ(after.at(first + static_cast<int64_t>(i)), TapFile(recording.blocks[i]));
    for (const auto& [number, contents] : earlier)
        EXPECT_EQ(after.at(number), contents) << TapName(number);
}

// status.log that cannot be appended to: the messages are shown all the same, and the run is the
// same as in a writable directory.
enum class LogTrouble { Directory, ReadOnlyFile, FullDevice };

class StatusLogTest : public HostileTest, public ::testing::WithParamInterface<LogTrouble> {};

TEST_P(StatusLogTest, MessagesAreStillShownAndNothingElseFails)
{
    const Recording recording = ThreeBlocks();
    fs::create_directory("reference");
    fs::current_path("reference");
    ScanTapeFiles();
    ASSERT_EQ(RawRun(recording.signal.samples, "../input.pcm"), kExitEndOfFile);
    const Lines expected = Messages();
    const std::map<int64_t, Bytes> expectedFiles = TapFiles();
    ASSERT_EQ(expectedFiles.size(), 4u);

    fs::current_path(dir);
    fs::create_directory("hostile");
    fs::current_path("hostile");
    switch (GetParam()) {
    case LogTrouble::Directory:
        fs::create_directory("status.log");
        break;
    case LogTrouble::ReadOnlyFile:
        WriteFileBytes("status.log", {'o', 'l', 'd', '\r', '\n'});
        SKIP_WITHOUT_MOUNT(mounts.BindReadOnly((dir / "hostile" / "status.log").string(),
                                               (dir / "hostile" / "status.log").string()));
        break;
    case LogTrouble::FullDevice:
        fs::create_symlink("/dev/full", "status.log");
        break;
    }
    FakeUiClear();
    ResetDecoder();
    ScanTapeFiles();
    EXPECT_EQ(RawRun(recording.signal.samples, "../input.pcm"), kExitEndOfFile);
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(TapFiles(), expectedFiles);
    EXPECT_TRUE(FakeUiSnapshot().infoBoxes.empty());
    if (GetParam() == LogTrouble::ReadOnlyFile) {
        EXPECT_EQ(ReadFileText("status.log"), "old\r\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Troubles, StatusLogTest,
                         ::testing::Values(LogTrouble::Directory, LogTrouble::ReadOnlyFile, LogTrouble::FullDevice),
                         [](const auto& info) {
                             switch (info.param) {
                             case LogTrouble::Directory: return "Directory";
                             case LogTrouble::ReadOnlyFile: return "ReadOnlyFile";
                             case LogTrouble::FullDevice: return "FullDevice";
                             }
                             return "";
                         });

// A sound-card run whose recording is kept where the disk fails: at once (a failing device), or
// once it fills up after the first piece. The keeping stops with one line, and the blocks, their
// files and every other message are those of a run that keeps nothing.
enum class KeepTrouble { None, FailingDevice, FillsUp };

class KeepTest : public HostileTest, public ::testing::WithParamInterface<KeepTrouble> {
protected:
    // Queued as the sound card's buffers, decoded on the decoder thread until it waits for the
    // next pilot with the queue empty, then stopped.
    void QueueRun(const Bytes& samples, const char* keepName)
    {
        ASSERT_TRUE(BeginRun(nullptr));
        if (keepName)
            StartKeeping(keepName);
        for (size_t at = 0; at < samples.size(); at += 4410)
            SamplePipe.add(samples.data() + at, static_cast<int32_t>(std::min<size_t>(4410, samples.size() - at)));
        ASSERT_TRUE(StartDecoderThread());
        for (int waited = 0; SamplePipe.Queued() > 0 || Messages().empty() || Messages().back() != "Wait pilot...";
             ++waited) {
            ASSERT_LT(waited, 60000) << "the decoder did not drain the queue";
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(EndRun(), kExitStopped);
    }
};

TEST_P(KeepTest, AFailingDiskStopsTheKeepingAndNotTheRun)
{
    const Bytes samples = ThreeBlocks(12000).signal.samples;
    ASSERT_GT(samples.size(), 2u * kKeepPieceBytes);
    fs::create_directory("reference");
    fs::current_path("reference");
    ScanTapeFiles();
    QueueRun(samples, nullptr);
    const Lines expected = Messages();
    const std::map<int64_t, Bytes> expectedFiles = TapFiles();
    ASSERT_EQ(expectedFiles.size(), 4u);

    fs::current_path(dir);
    std::string keepName = (dir / "rec.wav").string();
    if (GetParam() == KeepTrouble::FailingDevice) {
        keepName = "/dev/full";
    } else if (GetParam() == KeepTrouble::FillsUp) {
        SKIP_WITHOUT_MOUNT(mounts.Tmpfs((dir / "small").string(), "size=192k"));
        keepName = (dir / "small" / "rec.wav").string();
    }
    fs::create_directory("kept");
    fs::current_path("kept");
    FakeUiClear();
    ResetDecoder();
    ScanTapeFiles();
    QueueRun(samples, keepName.c_str());
    EXPECT_EQ(TapFiles(), expectedFiles);
    Lines others, keeping;
    for (const std::string& line : Messages())
        (line.rfind("Recording ", 0) == 0 ? keeping : others).push_back(line);
    EXPECT_EQ(others, expected);
    const std::string failed = "Recording no longer kept: writing " + keepName + " failed (No space left on device); the blocks are decoded as before";
    switch (GetParam()) {
    case KeepTrouble::None: {
        EXPECT_EQ(keeping, Lines{"Recording kept in " + keepName});
        Bytes file = ReadFileBytes(keepName);
        ASSERT_GE(file.size(), kKeepHeaderBytes + samples.size());
        EXPECT_EQ(Bytes(file.begin() + kKeepHeaderBytes, file.begin() + kKeepHeaderBytes + samples.size()), samples);
        break;
    }
    case KeepTrouble::FailingDevice:
        EXPECT_EQ(keeping, Lines{failed});
        break;
    case KeepTrouble::FillsUp: {
        EXPECT_EQ(keeping, (Lines{"Recording kept in " + keepName, failed}));
        // What reached the disk before it filled opens, and is the recording's beginning.
        std::string error;
        AudioFile* kept = OpenAudioFile(keepName.c_str(), kMixChannels, &error);
        ASSERT_NE(kept, nullptr) << error;
        std::vector<float> read, batch(4096);
        for (size_t n; (n = ReadAudioSamples(kept, batch.data(), batch.size())) > 0;)
            read.insert(read.end(), batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(n));
        CloseAudioFile(kept);
        ASSERT_EQ(read.size(), size_t{kKeepPieceBytes});
        for (size_t i = 0; i < read.size(); ++i)
            ASSERT_EQ(read[i], (samples[i] - 128) / 128.0f) << i;
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(Disks, KeepTest,
                         ::testing::Values(KeepTrouble::None, KeepTrouble::FailingDevice, KeepTrouble::FillsUp),
                         [](const auto& info) {
                             switch (info.param) {
                             case KeepTrouble::None: return "Writable";
                             case KeepTrouble::FailingDevice: return "FailingDevice";
                             case KeepTrouble::FillsUp: return "FillsUp";
                             }
                             return "";
                         });

// Every number from 0 to `highest` already taken, each file with contents of its own.
class ManyFilesTest : public HostileTest, public ::testing::WithParamInterface<int> {};

TEST_P(ManyFilesTest, NewBlocksGetNewNumbersAndNothingIsOverwritten)
{
    const int highest = GetParam();
    std::map<int64_t, Bytes> before;
    for (int n = 0; n <= highest; ++n) {
        before[n] = TapFile(WithChecksum(0xFF, {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)}));
        WriteFileBytes(TapName(n), before[n]);
    }
    ScanTapeFiles();
    ASSERT_EQ(NextTapeNumber, highest + 1);
    FakeUiClear();

    const Recording recording = ThreeBlocks();
    EXPECT_EQ(RawRun(recording.signal.samples, "input.pcm"), kExitEndOfFile);
    const std::map<int64_t, Bytes> files = TapFiles();
    for (const auto& [number, contents] : before)
        ASSERT_EQ(files.at(number), contents) << TapName(number) << " was overwritten";
    for (size_t i = 0; i < recording.blocks.size(); ++i)
        EXPECT_EQ(files.at(highest + 1 + static_cast<int64_t>(i)), TapFile(recording.blocks[i]));
    EXPECT_EQ(NextTapeNumber, highest + 4);
    EXPECT_TRUE(IsUnfinished(files.at(NextTapeNumber)));
    // The last rescan listed every file, and the bare name of the last block came after it.
    const FakeUi ui = FakeUiSnapshot();
    EXPECT_EQ(ui.catalogue.size(), static_cast<size_t>(highest + 1 + 3 + 1));
    EXPECT_EQ(ui.catalogue.back(), TapName(highest + 3));
}

INSTANTIATE_TEST_SUITE_P(Counts, ManyFilesTest, ::testing::Values(998, 999, 1020));

TEST_F(HostileTest, NumbersPastTheLargestCountedOneOverwriteNothing)
{
    // The scan counts names of up to nine digits; the counter goes on past them. Every block after
    // out999999999.tap must still keep its own file, or the run must end with its message.
    const Bytes last = TapFile(WithChecksum(0xFF, {1}));
    WriteFileBytes("out999999999.tap", last);
    ScanTapeFiles();
    ASSERT_EQ(NextTapeNumber, 1000000000);
    FakeUiClear();

    const Recording recording = ThreeBlocks();
    const int exitCode = RawRun(recording.signal.samples, "input.pcm");
    const std::map<int64_t, Bytes> files = [] {
        std::map<int64_t, Bytes> all;
        for (const auto& entry : fs::directory_iterator("."))
            if (entry.path().filename().string().rfind("out", 0) == 0)
                all[static_cast<int64_t>(all.size())] = ReadFileBytes(entry.path().string());
        return all;
    }();
    size_t kept = 0;
    for (const Bytes& block : recording.blocks)
        for (const auto& [index, contents] : files)
            if (contents == TapFile(block)) {
                ++kept;
                break;
            }
    if (exitCode == kExitCannotCreate) {
        EXPECT_EQ(Messages().back(), "Can't create file. Exit task");
    } else {
        EXPECT_EQ(kept, recording.blocks.size()) << "a block was overwritten by the next one";
    }
    EXPECT_EQ(ReadFileBytes("out999999999.tap"), last);
}

// The raw recording changing under the reader: whatever can no longer be read is its end.
class RawInputTest : public HostileTest {
protected:
    // Starts a raw-file run on its own thread and waits until fileCount TAP files exist.
    void StartAndWaitForFiles(const Recording& recording, size_t fileCount)
    {
        WriteFileBytes("input.pcm", recording.signal.samples);
        ASSERT_TRUE(BeginRun("input.pcm"));
        decoder = std::thread([this] { exitCode = RunDecoderHere(); });
        while (TapFiles().size() < fileCount && !done())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    bool done() { return exitCode != 1; }

    void Finish()
    {
        decoder.join();
        EndRun();
    }

    // The completed files are the recording's first blocks, the file after them is unfinished, and
    // the run ended as at the end of the file. Returns the number of completed blocks.
    size_t ExpectEndedCleanly(const Recording& recording)
    {
        EXPECT_EQ(exitCode.load(), kExitEndOfFile);
        EXPECT_EQ(Messages().back(), ".PCM file closed");
        const std::map<int64_t, Bytes> files = TapFiles();
        size_t completed = 0;
        for (; completed < recording.blocks.size() && files.count(static_cast<int64_t>(completed) + 1) &&
               !IsUnfinished(files.at(static_cast<int64_t>(completed) + 1));
             ++completed)
            EXPECT_EQ(files.at(static_cast<int64_t>(completed) + 1), TapFile(recording.blocks[completed]));
        EXPECT_EQ(NextTapeNumber, static_cast<int32_t>(completed) + 1);
        EXPECT_EQ(files.size(), completed + 1);
        return completed;
    }

    std::thread decoder;
    std::atomic<int> exitCode{1};
};

Recording LongRecording(int blocks)
{
    std::mt19937 bytes(11);
    std::vector<Bytes> list;
    for (int i = 0; i < blocks; ++i)
        list.push_back(TaggedBlock(static_cast<uint16_t>(i), 30, bytes));
    return MakeRecording(list);
}

TEST_F(RawInputTest, ShrunkAfterOpeningEndsWhereItWasCut)
{
    const Recording recording = ThreeBlocks();
    WriteFileBytes("input.pcm", recording.signal.samples);
    ASSERT_TRUE(BeginRun("input.pcm"));
    fs::resize_file("input.pcm", (recording.blockEnds[0] + recording.dataEnds[1]) / 2);
    ScanTapeFiles();
    FakeUiClear();
    exitCode = RunDecoderHere();
    EndRun();
    EXPECT_EQ(ExpectEndedCleanly(recording), 1u);
}

TEST_F(RawInputTest, ShrinkingWhileReadEndsTheRun)
{
    const Recording recording = LongRecording(Repeats(150));
    ScanTapeFiles();
    StartAndWaitForFiles(recording, 3);
    fs::resize_file("input.pcm", 0);
    Finish();
    const size_t completed = ExpectEndedCleanly(recording);
    EXPECT_GE(completed, 2u);
    EXPECT_LT(completed, recording.blocks.size()) << "the run did not notice the cut";
}

TEST_F(RawInputTest, VanishingWhileReadReadsWhatTheOpenFileStillHolds)
{
    // On POSIX a removed file stays readable through its open stream, so the run goes on to the
    // recording's true end (Windows does not let a file open for reading be removed at all).
    const Recording recording = LongRecording(20);
    ScanTapeFiles();
    StartAndWaitForFiles(recording, 2);
    fs::remove("input.pcm");
    Finish();
    EXPECT_EQ(ExpectEndedCleanly(recording), recording.blocks.size());
}

TEST_F(RawInputTest, PastTwoGibibytesOfSamplesTheRunGoesOn)
{
    // Thirteen and a half hours of recording, or any large file picked by mistake: the byte count
    // passes what a signed 32-bit number holds. A hole of 2 GiB reads as zero samples (the low side,
    // so only time-outs) and costs no disk space.
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "reading 2 GiB takes minutes under ThreadSanitizer";
#endif
    std::mt19937 bytes(13);
    const Recording recording = MakeRecording({TaggedBlock(1, 30, bytes)});
    {
        std::ofstream raw("input.pcm", std::ios::binary | std::ios::trunc);
        raw.seekp(std::streamoff(1) << 31);
        raw.write(reinterpret_cast<const char*>(recording.signal.samples.data()),
                  static_cast<std::streamsize>(recording.signal.samples.size()));
        ASSERT_TRUE(raw.good());
    }
    struct stat info {};
    ASSERT_EQ(stat("input.pcm", &info), 0);
    if (info.st_blocks * 512 > (64 << 20))
        GTEST_SKIP() << "this file system has no holes";
    ScanTapeFiles();
    FakeUiClear();
    exitCode = RawRunOpened("input.pcm");
    EXPECT_EQ(ExpectEndedCleanly(recording), 1u);
}

TEST_F(RawInputTest, UnreadableInputEndsAtOnce)
{
    // A directory opens as a stream on Linux but gives a read error at its first byte.
    fs::create_directory("input.pcm");
    ASSERT_TRUE(BeginRun("input.pcm"));
    ScanTapeFiles();
    FakeUiClear();
    EXPECT_EQ(RunDecoderHere(), kExitEndOfFile);
    EndRun();
    EXPECT_EQ(Messages(), (Lines{"Wait pilot...", ".PCM file closed"}));
    EXPECT_EQ(TapFiles(), (std::map<int64_t, Bytes>{{1, {0x20, 0x20}}}));
}

}  // namespace
