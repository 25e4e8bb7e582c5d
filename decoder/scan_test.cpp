// The scanner against the sample loop it stands for, once for every kernel this processor runs: the
// same results at the same positions, and the same state carried from one batch into the next,
// whatever the base line, the levels, the run lengths and wherever a batch is cut.
#include "decoder/scan.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <random>
#include <vector>

#include "decoder/scan_reference.h"

namespace {

class ScanTest : public ::testing::TestWithParam<SideKernel> {
protected:
    void SetUp() override { ChooseSideKernel(GetParam()); }
    void TearDown() override { ChooseSideKernel(SideKernels().back()); }

    // What the scanner yields over samples cut into batches at cuts, from state on; state is left
    // where the scanner leaves it.
    std::vector<Measured> Scan(const std::vector<uint8_t>& samples, uint8_t baseLine,
                               const std::vector<size_t>& cuts, HalfPeriodState& state)
    {
        std::vector<Measured> out;
        size_t from = 0;
        for (size_t i = 0; i <= cuts.size(); ++i) {
            const size_t to = i < cuts.size() ? cuts[i] : samples.size();
            // A batch of its own, exactly as long, so that a read past it does not go unnoticed.
            const std::vector<uint8_t> batch(samples.begin() + from, samples.begin() + to);
            MapSides(batch.data(), static_cast<int32_t>(batch.size()), baseLine, *map);
            ScanHalfPeriods(*map, 0, state, *list);
            EXPECT_LE(list->count, static_cast<int32_t>(std::size(list->items)));
            for (int32_t k = 0; k < list->count; ++k)
                out.push_back({list->items[k].length, static_cast<int64_t>(from) + list->items[k].end});
            from = to;
        }
        return out;
    }

    // Scans and compares with the loop, results and the state left behind.
    void ExpectSameAsLoop(const std::vector<uint8_t>& samples, uint8_t baseLine,
                          const std::vector<size_t>& cuts, HalfPeriodState start)
    {
        ReferenceLoop loop;
        loop.state = start;
        const std::vector<Measured> expected = loop.Feed(samples, 0, samples.size(), baseLine);
        HalfPeriodState state = start;
        ASSERT_EQ(Scan(samples, baseLine, cuts, state), expected)
            << "base line " << int{baseLine} << ", " << cuts.size() << " cuts, starting at polarity "
            << start.polarity << " count " << start.runCount;
        EXPECT_EQ(state.polarity, loop.state.polarity);
        EXPECT_EQ(state.runCount, loop.state.runCount);
    }

    // Cuts no more than a batch apart, often at the vector widths and the map's word, sometimes
    // a whole batch.
    static std::vector<size_t> RandomCuts(std::mt19937& random, size_t size)
    {
        static const size_t kSteps[] = {1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 201, kScanBatch - 1, kScanBatch};
        std::vector<size_t> cuts;
        for (size_t at = 0;;) {
            const size_t step = random() % 2 ? kSteps[random() % (sizeof kSteps / sizeof kSteps[0])]
                                             : 1 + random() % kScanBatch;
            at += step;
            if (at >= size)
                return cuts;
            cuts.push_back(at);
        }
    }

    static HalfPeriodState RandomState(std::mt19937& random)
    {
        HalfPeriodState state;
        state.polarity = random() % 2 ? 1 : -1;
        state.runCount = static_cast<int32_t>(random() % (kHalfPeriodTimeout + 1));
        return state;
    }

    std::unique_ptr<SideMap> map = std::make_unique<SideMap>();
    std::unique_ptr<HalfPeriodList> list = std::make_unique<HalfPeriodList>();
};

TEST_P(ScanTest, MapsEverySampleAgainstEveryBaseLine)
{
    std::mt19937 random(1);
    std::vector<uint8_t> samples(600);
    for (uint8_t& sample : samples)
        sample = static_cast<uint8_t>(random());
    for (int baseLine = 0; baseLine < 256; ++baseLine) {
        // Every length up to well past the widest vector, so that every tail is met.
        for (int32_t count = 0; count <= 100; ++count) {
            const int32_t offset = static_cast<int32_t>(random() % 500);
            std::fill(std::begin(map->bits), std::end(map->bits), 0xA5);
            MapSides(samples.data() + offset, count, static_cast<uint8_t>(baseLine), *map);
            for (int32_t i = 0; i < count; ++i)
                ASSERT_EQ(map->bits[i / 8] >> (i % 8) & 1, samples[offset + i] >= baseLine ? 1 : 0)
                    << "sample " << i << " of " << count << ", base line " << baseLine;
            if (count % 8) {
                ASSERT_EQ(map->bits[count / 8] >> (count % 8), 0) << "count " << count;
            }
        }
    }
}

TEST_P(ScanTest, RunsOnEveryBaseLineCutAnywhere)
{
    std::mt19937 random(2);
    for (int baseLine = 0; baseLine < 256; ++baseLine) {
        const std::vector<uint8_t> samples = AdversarialStream(random, static_cast<uint8_t>(baseLine), 20000);
        ExpectSameAsLoop(samples, static_cast<uint8_t>(baseLine), RandomCuts(random, samples.size()),
                         RandomState(random));
    }
}

TEST_P(ScanTest, DenseChangesInFullBatches)
{
    // Noise, and a change at every sample: a result for each sample of a batch, as many as the list holds.
    std::mt19937 random(3);
    std::vector<uint8_t> noise(3 * kScanBatch + 1000), alternating(noise.size());
    for (size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<uint8_t>(random());
        alternating[i] = i % 2 ? 0 : 255;
    }
    const std::vector<size_t> cuts = {kScanBatch, 2 * kScanBatch, 3 * kScanBatch};
    for (int baseLine : {0, 1, 2, 127, 128, 129, 254, 255})
        ExpectSameAsLoop(noise, static_cast<uint8_t>(baseLine), cuts, HalfPeriodState());
    for (int32_t polarity : {1, -1}) {
        HalfPeriodState start;
        start.polarity = polarity;
        ExpectSameAsLoop(alternating, 128, cuts, start);
    }
}

TEST_P(ScanTest, CutAtEverySample)
{
    // A cut stands for a batch edge and for a stop: the next batch goes on from the state left.
    std::mt19937 random(4);
    const std::vector<uint8_t> samples = AdversarialStream(random, 128, 1500);
    for (size_t cut = 0; cut <= samples.size(); ++cut)
        ExpectSameAsLoop(samples, 128, {cut}, RandomState(random));
}

TEST_P(ScanTest, TimeOutAtEveryDistanceFromTheStart)
{
    // A run of length samples on the side being measured after count samples of it, then a change:
    // the time-out falls on every position of the first words, and the change after it.
    for (int32_t polarity : {1, -1}) {
        for (int32_t count : {0, 1, 2, 100, 199, 200}) {
            for (int32_t length = 0; length <= 610; ++length) {
                std::vector<uint8_t> samples(length, polarity > 0 ? 128 : 127);
                samples.push_back(polarity > 0 ? 127 : 128);
                HalfPeriodState start;
                start.polarity = polarity;
                start.runCount = count;
                ExpectSameAsLoop(samples, 128, {}, start);
                if (HasFailure())
                    return;
            }
        }
    }
}

TEST_P(ScanTest, StartsAnywhereInsideTheMap)
{
    // The decoder scans a batch again from where it stands when the base line changes under it.
    std::mt19937 random(5);
    const std::vector<uint8_t> samples = AdversarialStream(random, 128, 700);
    MapSides(samples.data(), static_cast<int32_t>(samples.size()), 128, *map);
    for (size_t pos = 0; pos <= samples.size(); ++pos) {
        const HalfPeriodState start = RandomState(random);
        ReferenceLoop loop;
        loop.state = start;
        loop.taken = static_cast<int64_t>(pos);
        const std::vector<Measured> expected = loop.Feed(samples, pos, samples.size(), 128);
        HalfPeriodState state = start;
        ScanHalfPeriods(*map, static_cast<int32_t>(pos), state, *list);
        std::vector<Measured> got;
        for (int32_t k = 0; k < list->count; ++k)
            got.push_back({list->items[k].length, list->items[k].end});
        ASSERT_EQ(got, expected) << "from " << pos;
        ASSERT_EQ(state.polarity, loop.state.polarity) << "from " << pos;
        ASSERT_EQ(state.runCount, loop.state.runCount) << "from " << pos;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, ScanTest, ::testing::ValuesIn(SideKernels()),
                         [](const ::testing::TestParamInfo<SideKernel>& info) { return info.param.name; });

}  // namespace
