#include "capture/pipe.h"

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "decoder/stop.h"
#include "tests/test_support.h"

namespace {

class PipeTest : public CoreTest {
protected:
    PIPE pipe;
};

TEST_F(PipeTest, BytesComeOutInOrderAcrossChunks)
{
    const uint8_t three[] = {1, 2, 3}, two[] = {4, 5};
    pipe.add(three, 3);
    pipe.add(two, 2);
    for (uint8_t expected = 1; expected <= 5; ++expected)
        EXPECT_EQ(pipe.Read(), expected);
    EXPECT_EQ(pipe.Queued(), 0);
}

TEST_F(PipeTest, ReadOnEmptyQueueWaitsForTheNextAdd)
{
    std::atomic<bool> done{false};
    uint8_t got = 0;
    std::thread reader([&] {
        got = pipe.Read();
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(done.load());
    const uint8_t byte = 42;
    pipe.add(&byte, 1);
    reader.join();
    EXPECT_EQ(got, 42);
}

TEST_F(PipeTest, StaleWakeUpOnEmptyQueueWaitsAgain)
{
    // A wake-up with nothing queued (another instance's signal, or a stop that was withdrawn) must
    // lead to a further wait, not to a fatal error.
    std::atomic<bool> done{false};
    std::thread reader([&] {
        pipe.Read();
        done = true;
    });
    pipe.Wake();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(done.load());
    const uint8_t byte = 1;
    pipe.add(&byte, 1);
    reader.join();
}

TEST_F(PipeTest, StopRequestEndsTheWaitAndLeavesQueuedBytes)
{
    std::atomic<int> code{1};
    std::thread reader([&] {
        try {
            pipe.Read();
        } catch (const DecoderStopped& stopped) {
            code = stopped.exit_code;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    RequestDecoderStop(kExitStopped);
    pipe.Wake();  // RequestDecoderStop wakes the program's queue; this test has its own
    reader.join();
    EXPECT_EQ(code.load(), kExitStopped);

    const uint8_t bytes[] = {7, 8};
    pipe.add(bytes, 2);
    EXPECT_THROW(pipe.Read(), DecoderStopped);
    ClearDecoderStop();
    EXPECT_EQ(pipe.Read(), 7);
}

TEST_F(PipeTest, ConcurrentWriterAndReaderLoseNothing)
{
    // The writer appends while the reader unlinks the last chunk; every byte arrives once, in order.
    const int kChunks = 20000;
    std::thread writer([&] {
        std::mt19937 random(1);
        uint8_t next = 0;
        for (int i = 0; i < kChunks; ++i) {
            uint8_t chunk[64];
            const int len = 1 + static_cast<int>(random() % 64);
            for (int k = 0; k < len; ++k)
                chunk[k] = next++;
            pipe.add(chunk, len);
            if (i % 512 == 0)
                std::this_thread::yield();
        }
        const uint8_t end = 0xEE;
        pipe.add(&end, 1);
    });
    std::mt19937 random(1);
    uint8_t expected = 0;
    int64_t total = 0;
    for (int i = 0; i < kChunks; ++i) {
        const int len = 1 + static_cast<int>(random() % 64);
        for (int k = 0; k < len; ++k, ++total)
            ASSERT_EQ(pipe.Read(), expected++) << "byte " << total;
    }
    EXPECT_EQ(pipe.Read(), 0xEE);
    writer.join();
    EXPECT_EQ(pipe.Queued(), 0);
}

}  // namespace
