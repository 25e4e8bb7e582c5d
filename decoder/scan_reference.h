// For the scanner's tests: the decoder's sample loop as it was when it took the samples one at a time,
// kept as the measure of what the scanner must yield, and streams of samples built to try it hardest.
// Test threads only; no failures.
#ifndef QUORVANE_SCAN_REFERENCE_H
#define QUORVANE_SCAN_REFERENCE_H

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "decoder/halfperiod.h"
#include "decoder/scan.h"

// A result and the stream position just past the sample that ended it.
struct Measured {
    int32_t length;
    int64_t end;
    bool operator==(const Measured& other) const { return length == other.length && end == other.end; }
};

inline std::ostream& operator<<(std::ostream& out, const Measured& measured)
{
    return out << measured.length << "@" << measured.end;
}

inline void PrintTo(const SideKernel& kernel, std::ostream* out)
{
    *out << kernel.name;
}

// The loop, with the samples it takes set stretch by stretch: running out of samples leaves the count
// where it stands, as the end of a batch did.
class ReferenceLoop {
public:
    HalfPeriodState state;
    int64_t taken = 0;  // samples taken so far, over every stretch

    void Source(const std::vector<uint8_t>& samples, size_t from, size_t to)
    {
        source = &samples;
        next = from;
        end = to;
    }

    // One call of the loop; false when the samples ran out first.
    bool Read(uint8_t baseLine, int32_t& result)
    {
        while (state.runCount <= kHalfPeriodTimeout) {
            if (next == end)
                return false;
            ++taken;
            const int32_t side = (*source)[next++] < baseLine ? -1 : 1;
            if (side != state.polarity) {
                result = state.runCount;
                state.runCount = 1;
                state.polarity = -state.polarity;
                return true;
            }
            ++state.runCount;
        }
        state.runCount = 0;
        result = -1;
        return true;
    }

    // Every result of samples[from..to).
    std::vector<Measured> Feed(const std::vector<uint8_t>& samples, size_t from, size_t to, uint8_t baseLine)
    {
        Source(samples, from, to);
        std::vector<Measured> out;
        int32_t result;
        while (Read(baseLine, result))
            out.push_back({result, taken});
        return out;
    }

private:
    const std::vector<uint8_t>* source = nullptr;
    size_t next = 0, end = 0;
};

// Runs on alternating sides whose lengths crowd around the vector widths, the map's words and the
// time-out, at levels on both edges of the base line and at the extremes.
inline std::vector<uint8_t> AdversarialStream(std::mt19937& random, uint8_t baseLine, size_t size)
{
    static const int kLengths[] = {1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 56, 57, 63, 64, 65,
                                   199, 200, 201, 202, 400, 401, 402, 403, 601, 602};
    std::vector<uint8_t> samples;
    bool high = random() % 2 == 0;
    while (samples.size() < size) {
        const uint32_t pick = random() % 4;
        int length;
        if (pick == 0)
            length = kLengths[random() % (sizeof kLengths / sizeof kLengths[0])];
        else if (pick == 1)
            length = 1 + static_cast<int>(random() % 1000);
        else
            length = 1 + static_cast<int>(random() % 40);
        // With base line 0 every sample is high; the low side then draws from anywhere.
        const int low = baseLine > 0 ? baseLine - 1 : 255;
        for (int i = 0; i < length; ++i) {
            const uint32_t level = random() % 4;
            int value;
            if (high)
                value = level == 0 ? baseLine : level == 1 ? 255 : level == 2 ? std::min(255, baseLine + 1)
                                                                              : baseLine + random() % (256 - baseLine);
            else
                value = level == 0 ? low : level == 1 ? 0 : level == 2 ? std::max(0, low - 1)
                                                                      : random() % (low + 1);
            samples.push_back(static_cast<uint8_t>(value));
        }
        high = !high;
    }
    samples.resize(size);
    return samples;
}

#endif
