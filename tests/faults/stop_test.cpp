// Stops at any moment. A run of the decoder may end anywhere: Stop on the user-interface thread
// (cooperative, honoured at the next sample batch or queue read), the end of a recording cut at any
// length, or both at once. Whatever the moment, every block completed before it keeps its own
// intact file, the only file a following run overwrites is the unfinished one Stop left, and
// NextTapeNumber never names a completed file. Both sources are run: raw-file runs in one directory
// with the program's Stop and Start between them (and now and then a new process with its start-up
// scan), and queue runs fed by a writer thread while stops arrive from a third thread, which is what
// ThreadSanitizer needs to see.
#include <atomic>
#include <chrono>
#include <thread>

#include "capture/pipe.h"
#include "decoder/catalogue.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "tests/fake_ui.h"
#include "tests/faults/fault_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

class StopTest : public CoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        seed = FaultSeed();
        random.seed(seed);
        RecordProperty("seed", std::to_string(seed));
    }

    void TearDown() override
    {
        // Leave the queue empty for the tests that follow.
        ResetDecoder();
        uint8_t byte;
        while (SamplePipe.Queued() > 0)
            SamplePipe.Read(&byte);
        CoreTest::TearDown();
    }

    uint32_t seed = 0;
    std::mt19937 random;
};

TEST_F(StopTest, RawFileRunsStoppedAnywhereKeepEveryCompletedBlock)
{
    SCOPED_TRACE("QV_FAULT_SEED=" + std::to_string(seed));
    std::mt19937 blockBytes(7);
    const Recording recording = MakeRecording({
        HeaderBlock(3, "SCREEN", 300),
        TaggedBlock(1, 300, blockBytes),
        {},  // an empty block: its file is deleted and its number written again
        TaggedBlock(2, 40, blockBytes),
        TaggedBlock(3, 160, blockBytes),
    });
    const Bytes& samples = recording.signal.samples;
    const size_t blockCount = recording.blocks.size();

    ScanTapeFiles();  // start-up in the empty TAPE directory
    // Files that must never change again: completed blocks, and the unfinished files that a new
    // process left behind (its start-up scan moves past them).
    std::map<int64_t, Bytes> kept;
    int64_t reusable = -1;  // the unfinished file the next Start after a Stop writes again
    Clock::duration fullRun{};
    int stopped = 0, cut = 0, restarts = 0;

    const int runs = Repeats(300);
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        if (run > 0 && random() % 20 == 0) {
            // A new process: fresh measurement state and the start-up scan.
            ++restarts;
            if (reusable >= 0)
                kept[reusable] = ReadFileBytes(TapName(reusable));
            reusable = -1;
            ResetDecoder();
            FakeUiClear();
            ScanTapeFiles();
        }
        const int64_t first = NextTapeNumber;
        if (reusable >= 0) {
            ASSERT_EQ(first, reusable) << "a Start after a Stop writes the unfinished file again";
        }
        ASSERT_EQ(kept.count(first), 0u) << "the run would overwrite " << TapName(first);

        // The first run measures how long a whole recording takes, so that stops land inside runs.
        const int how = run == 0 ? 0 : static_cast<int>(random() % 3);
        const bool cutShort = how != 1;
        const bool stop = how != 0;
        size_t length = samples.size();
        if (run > 0 && cutShort)
            length = random() % (samples.size() + 1);
        WriteFileBytes("input.pcm", Bytes(samples.begin(), samples.begin() + static_cast<long>(length)));
        cut += length < samples.size();
        FakeUiClear();

        ASSERT_TRUE(BeginRun("input.pcm"));
        int exitCode = 1;
        const Clock::time_point began = Clock::now();
        if (stop) {
            ASSERT_TRUE(StartDecoderThread());
            const auto span = std::chrono::duration_cast<microseconds>(fullRun).count() * 6 / 5 + 1;
            std::this_thread::sleep_for(microseconds(random() % span));
            exitCode = EndRun();
            stopped += exitCode == kExitStopped;
        } else {
            exitCode = RunDecoderHere();  // to the end of the file
            EndRun();
        }
        if (run == 0)
            fullRun = Clock::now() - began;
        ASSERT_TRUE(exitCode == kExitEndOfFile || (stop && exitCode == kExitStopped)) << exitCode;

        const std::map<int64_t, Bytes> files = TapFiles();
        for (const auto& [number, bytes] : kept) {
            ASSERT_EQ(files.count(number), 1u) << TapName(number) << " is gone";
            ASSERT_EQ(files.at(number), bytes) << TapName(number) << " was overwritten";
        }
        for (const auto& [number, bytes] : files)
            ASSERT_TRUE(kept.count(number) || (number >= first && number <= NextTapeNumber))
                << TapName(number) << " was written outside this run's numbers";

        // This run's completed files are the recording's blocks from the first, in order, one file
        // each.
        ASSERT_GE(NextTapeNumber, first);
        const size_t written = static_cast<size_t>(NextTapeNumber - first);
        ASSERT_LE(written, blockCount);
        for (size_t i = 0; i < written; ++i) {
            const int64_t number = first + static_cast<int64_t>(i);
            ASSERT_EQ(files.count(number), 1u) << TapName(number) << " is missing";
            ASSERT_EQ(files.at(number), TapFile(recording.blocks[i])) << TapName(number);
        }
        if (exitCode == kExitEndOfFile) {
            ASSERT_GE(written, BlocksSurelyDone(recording, length));
            ASSERT_LE(written, BlocksPossiblyDone(recording, length));
            EXPECT_EQ(Messages().back(), ".PCM file closed");
        }

        // The number the next run writes is the unfinished file: placeholder, then the beginning of
        // the block that was cut off.
        ASSERT_EQ(files.count(NextTapeNumber), 1u) << "no unfinished file";
        const Bytes& rest = files.at(NextTapeNumber);
        ASSERT_TRUE(IsUnfinished(rest)) << TapName(NextTapeNumber) << " is not marked unfinished";
        const Bytes next = written < blockCount ? recording.blocks[written] : Bytes{};
        ASSERT_LE(rest.size() - 2, next.size());
        ASSERT_TRUE(std::equal(rest.begin() + 2, rest.end(), next.begin()))
            << TapName(NextTapeNumber) << " holds other bytes than the block in progress";

        for (size_t i = 0; i < written; ++i)
            kept[first + static_cast<int64_t>(i)] = TapFile(recording.blocks[i]);
        reusable = NextTapeNumber;
    }
    RecordProperty("runs", runs);
    RecordProperty("stopped", stopped);
    RecordProperty("cut", cut);
    RecordProperty("restarts", restarts);
    RecordProperty("files", static_cast<int>(kept.size()));
    // The random moments must have covered both ways of ending, or the test proved little.
    EXPECT_GT(stopped, runs / 10);
    EXPECT_GT(cut, runs / 10);
}

TEST_F(StopTest, QueueRunsStoppedAtRandomMomentsLoseOnlyTheBlockInProgress)
{
    SCOPED_TRACE("QV_FAULT_SEED=" + std::to_string(seed));
    std::mt19937 blockBytes(seed);
    std::vector<Bytes> blocks;
    const int blockCount = Repeats(200);
    for (int i = 0; i < blockCount; ++i)
        blocks.push_back(TaggedBlock(static_cast<uint16_t>(i), blockBytes() % 60, blockBytes));
    Recording recording = MakeRecording(blocks);
    recording.signal.Half(2000);  // silence after the last block
    const Bytes& samples = recording.signal.samples;
    const int64_t total = static_cast<int64_t>(samples.size());
    const int64_t blockSpan = total / blockCount;

    ScanTapeFiles();
    // The writer stands in for the sound card's buffers: chunks of any size, with pauses that let
    // the decoder find the queue empty and sleep on it.
    std::atomic<int64_t> produced{0};
    std::thread writer([&, writerSeed = seed + 1] {
        std::mt19937 chunks(writerSeed);
        for (int64_t at = 0; at < total;) {
            const int64_t size = std::min<int64_t>(1 + chunks() % 4096, total - at);
            SamplePipe.add(samples.data() + at, static_cast<int32_t>(size));
            at += size;
            produced = at;
            if (chunks() % 8 == 0)
                std::this_thread::sleep_for(microseconds(chunks() % 2000));
        }
    });
    auto consumed = [&] { return produced.load() - SamplePipe.Queued(); };

    auto startRun = [&] {
        ASSERT_TRUE(BeginRun(nullptr));
        ASSERT_TRUE(StartDecoderThread());
    };
    int stops = 0;
    startRun();
    for (;;) {
        // The next stop: at once, or after the decoder has taken a random share of up to three
        // blocks; some of them find it asleep on the empty queue.
        const int64_t target = random() % 4 == 0 ? consumed() : consumed() + random() % (3 * blockSpan);
        while (consumed() < target && consumed() < total)
            std::this_thread::yield();
        if (consumed() >= total)
            break;
        ASSERT_EQ(EndRun(), kExitStopped);
        ++stops;
        startRun();
    }
    writer.join();
    // Everything has been queued. Once it has all been read and the decoder is looking for the next
    // pilot, nothing more can complete.
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(120);
    for (;;) {
        const std::vector<std::string> messages = Messages();
        if (SamplePipe.Queued() == 0 && !messages.empty() && messages.back() == "Wait pilot...")
            break;
        if (Clock::now() > limit) {
            EndRun();
            FAIL() << "the decoder did not drain the queue";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(EndRun(), kExitStopped);

    // The completed files, in the order of their numbers, are blocks of the recording in the order
    // they were played, each at most once, with no number skipped.
    std::map<Bytes, int> blockIndex;
    for (int i = 0; i < blockCount; ++i)
        blockIndex[TapFile(blocks[i])] = i;
    const std::map<int64_t, Bytes> files = TapFiles();
    int previous = -1, completed = 0;
    for (int64_t number = 1; number < NextTapeNumber; ++number) {
        ASSERT_EQ(files.count(number), 1u) << TapName(number) << " is missing";
        const auto found = blockIndex.find(files.at(number));
        ASSERT_NE(found, blockIndex.end()) << TapName(number) << " holds no block of the recording";
        ASSERT_GT(found->second, previous) << TapName(number) << " repeats or reorders a block";
        previous = found->second;
        ++completed;
    }
    ASSERT_EQ(files.count(NextTapeNumber), 1u);
    EXPECT_TRUE(IsUnfinished(files.at(NextTapeNumber)));
    EXPECT_EQ(files.rbegin()->first, NextTapeNumber) << "a file past the unfinished one";
    // A stop costs at most the block it interrupted.
    EXPECT_GE(completed, blockCount - stops);
    RecordProperty("stops", stops);
    RecordProperty("completed", completed);
    EXPECT_GT(stops, 3);
}

}  // namespace
