#include "rescue/slicer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;

// A square wave of the given half-wave lengths (whole samples), starting high, at +-level.
std::vector<float> Square(const std::vector<int>& halves, float level = 0.5f)
{
    std::vector<float> out;
    float side = level;
    for (int length : halves) {
        out.insert(out.end(), static_cast<size_t>(length), side);
        side = -side;
    }
    return out;
}

std::vector<HalfWave> Slice(const std::vector<float>& frames, const SlicerSettings& settings, int channels = 1)
{
    SlicerState state;
    SlicerStart(state, settings, channels, 44100, 0);
    std::vector<HalfWave> halves;
    SlicerFeed(state, frames.data(), static_cast<int64_t>(frames.size()) / channels, halves);
    SlicerFinish(state, halves);
    return halves;
}

// Pilot half-waves to let the filters settle, then the lengths under test.
std::vector<int> AfterPilot(const std::vector<int>& tail)
{
    std::vector<int> halves(200, 27);
    halves.insert(halves.end(), tail.begin(), tail.end());
    halves.push_back(27);
    return halves;
}

void ExpectTail(const std::vector<HalfWave>& halves, const std::vector<int>& tail, double tolerance)
{
    // The tail sits just before the last pilot half-wave, which the end of the recording ends.
    ASSERT_GE(halves.size(), tail.size() + 1);
    const size_t first = halves.size() - 1 - tail.size();
    for (size_t k = 0; k < tail.size(); ++k)
        EXPECT_NEAR(halves[first + k].length, tail[k], tolerance) << "half-wave " << k;
}

TEST(Slicer, SquareWaveKeepsItsLengthsAndSides)
{
    const std::vector<int> tail = {8, 9, 11, 11, 22, 22, 11, 11};
    const std::vector<HalfWave> halves = Slice(Square(AfterPilot(tail)), SlicerSettings{});
    ExpectTail(halves, tail, 0.1);
    for (size_t k = 1; k < halves.size(); ++k)
        ASSERT_EQ(halves[k].side, -halves[k - 1].side);
    EXPECT_NEAR(halves[5].end, 6 * 27 - 0.5, 0.05);  // interpolated between the last high and first low sample
}

TEST(Slicer, CrossingsBetweenSamplesAreInterpolated)
{
    // A pilot-like sine of 54.6 samples a period: every half-wave 27.3, which no whole count gives.
    std::vector<float> sine(20000);
    for (size_t n = 0; n < sine.size(); ++n)
        sine[n] = static_cast<float>(0.5 * std::sin(2 * kPi * static_cast<double>(n) / 54.6 + 0.3));
    const std::vector<HalfWave> halves = Slice(sine, SlicerSettings{});
    ASSERT_GT(halves.size(), 300u);
    for (size_t k = 100; k < 300; ++k)
        ASSERT_NEAR(halves[k].length, 27.3, 0.1);
}

TEST(Slicer, SliverIsMergedIntoTheHalfWaveAroundIt)
{
    // A spike across the base line, one sample wide, in the middle of a 22-sample half-wave.
    std::vector<int> halves = AfterPilot({11, 11, 22, 22});
    std::vector<float> frames = Square(halves);
    const size_t spike = 200 * 27 + 11 + 11 + 10;
    frames[spike] = -frames[spike];
    const std::vector<HalfWave> sliced = Slice(frames, SlicerSettings{});
    ExpectTail(sliced, {11, 11, 22, 22}, 0.1);
}

TEST(Slicer, HysteresisIgnoresRippleBelowIt)
{
    // Before every edge the signal wavers across the base line three times by a fifth of its
    // level: with hysteresis at a quarter of the level none of it counts, with none every waver
    // would be an edge (slivers are not merged here).
    const std::vector<int> tail = {11, 11, 22, 22};
    std::vector<float> frames = Square(AfterPilot(tail));
    for (size_t n = 3; n + 1 < frames.size(); ++n)
        if (frames[n] != frames[n + 1])
            for (size_t k = 0; k < 3; ++k)
                frames[n - k] = (k % 2 ? -0.1f : 0.1f) * (frames[n] > 0 ? 1 : -1);
    for (double hysteresis : {0.25, 0.0}) {
        SlicerSettings settings;
        settings.hysteresis = hysteresis;
        settings.sliverSamples = 0;
        const std::vector<HalfWave> halves = Slice(frames, settings);
        // The edge lands on the last waver's crossing, a sample or two off; the full periods stay.
        if (hysteresis > 0) {
            ExpectTail(halves, tail, 2.0);
            const size_t first = halves.size() - 1 - tail.size();
            EXPECT_NEAR(halves[first].length + halves[first + 1].length, 22, 0.2);
            EXPECT_NEAR(halves[first + 2].length + halves[first + 3].length, 44, 0.2);
        } else {
            EXPECT_GT(halves.size(), 3 * (200 + tail.size()));
        }
    }
}

TEST(Slicer, BaseLineFollowsHumAndDrift)
{
    // Hum of 0.4 and a drift of 0.3 against a signal of 0.5 cross every fixed base line.
    const std::vector<int> pilot(2000, 27);
    std::vector<float> frames = Square(pilot);
    for (size_t n = 0; n < frames.size(); ++n) {
        const double t = static_cast<double>(n) / 44100;
        frames[n] += static_cast<float>(0.4 * std::sin(2 * kPi * 50 * t) + 0.3 * std::sin(2 * kPi * 0.5 * t));
    }
    SlicerSettings settings;
    settings.highPassHz = 300;
    const std::vector<HalfWave> halves = Slice(frames, settings);
    ASSERT_GT(halves.size(), 1900u);
    for (size_t k = 200; k < 1900; ++k)
        ASSERT_NEAR(halves[k].length, 27, 2.5) << "half-wave " << k;
}

TEST(Slicer, WeightsPickTheChannel)
{
    // Left carries the tape, right a louder tone of another period: each weight reads its own.
    const std::vector<float> left = Square(std::vector<int>(400, 27)), right = Square(std::vector<int>(400, 15), 0.9f);
    std::vector<float> frames;
    for (size_t n = 0; n < left.size(); ++n) {
        frames.push_back(left[n]);
        frames.push_back(n < right.size() ? right[n] : 0);
    }
    for (int channel = 0; channel < 2; ++channel) {
        SlicerSettings settings;
        settings.weights[0] = channel == 0 ? 1.0f : 0.0f;
        settings.weights[1] = channel == 1 ? 1.0f : 0.0f;
        const std::vector<HalfWave> halves = Slice(frames, settings, 2);
        ASSERT_GT(halves.size(), 300u);
        EXPECT_NEAR(halves[150].length, channel == 0 ? 27 : 15, 0.1);
    }
}

}  // namespace
