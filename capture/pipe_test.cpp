#include "capture/pipe.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <random>
#include <thread>

#include "tests/test_support.h"

namespace {
// Allocations from the heap made by this thread (every form of new ends in the plain one).
thread_local long gAllocations = 0;
}  // namespace

void* operator new(std::size_t size)
{
    ++gAllocations;
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace {

class PipeTest : public CoreTest {
protected:
    // Waits as long as it takes for a byte, as the decoder does while no stop is asked for.
    uint8_t Take()
    {
        uint8_t byte = 0;
        while (!pipe.Read(&byte)) {
        }
        return byte;
    }

    PIPE pipe;
};

TEST_F(PipeTest, BytesComeOutInOrderAcrossChunks)
{
    const uint8_t three[] = {1, 2, 3}, two[] = {4, 5};
    pipe.add(three, 3);
    pipe.add(two, 2);
    for (uint8_t expected = 1; expected <= 5; ++expected)
        EXPECT_EQ(Take(), expected);
    EXPECT_EQ(pipe.Queued(), 0);
}

TEST_F(PipeTest, ReadOnEmptyQueueWaitsForTheNextAdd)
{
    std::atomic<bool> done{false};
    uint8_t got = 0;
    std::thread reader([&] {
        got = Take();
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(done.load());
    const uint8_t byte = 42;
    pipe.add(&byte, 1);
    reader.join();
    EXPECT_EQ(got, 42);
}

// A wake-up with nothing queued (a stop request, another instance's signal, a stale one) is
// reported to the reader, which decides; the bytes queued meanwhile wait for it, in order.
TEST_F(PipeTest, WakeUpOnEmptyQueueIsReportedAndLeavesLaterBytes)
{
    std::atomic<int> result{-1};
    std::thread reader([&] {
        uint8_t byte = 0;
        result = pipe.Read(&byte) ? 1 : 0;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(result.load(), -1) << "returned without a wake-up";
    pipe.Wake();
    reader.join();
    EXPECT_EQ(result.load(), 0);

    const uint8_t bytes[] = {7, 8};
    pipe.add(bytes, 2);
    EXPECT_EQ(Take(), 7);
    EXPECT_EQ(Take(), 8);
    EXPECT_EQ(pipe.Queued(), 0);
}

// The writer hands the sound card's buffers back; a thread stopped while holding the heap's lock
// (a frozen window inside an allocation) must not stop it, so once the queue has held its usual
// backlog an append takes nothing from the heap.
TEST_F(PipeTest, AppendAfterTheUsualBacklogAllocatesNothing)
{
    const uint8_t buffer[1024] = {};
    auto backlog = [&] {
        for (int i = 0; i < 8; ++i)
            pipe.add(buffer, sizeof buffer);
        for (int i = 0; i < 8 * 1024; ++i)
            Take();
    };
    backlog();
    const long before = gAllocations;
    for (int round = 0; round < 50; ++round)
        backlog();
    EXPECT_EQ(gAllocations - before, 0);
    EXPECT_EQ(pipe.Queued(), 0);
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
            ASSERT_EQ(Take(), expected++) << "byte " << total;
    }
    EXPECT_EQ(Take(), 0xEE);
    writer.join();
    EXPECT_EQ(pipe.Queued(), 0);
}

}  // namespace
