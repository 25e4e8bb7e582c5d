// Half-period scanner for a batch of samples held in memory. The batch is first classified by side of
// the base line, many samples at a time (AVX2 where the processor has it, SSE2 otherwise on x86, one
// sample at a time elsewhere), into a bit map; every half-wave that ends in the batch is then read off
// the map's changes of side, 64 samples a word. The list yields exactly what taking the samples one by
// one yields: the same lengths, the same -1 time-outs at the same positions.
// Called on the decoder thread by ReadHalfPeriod for the raw file; tests and benchmarks call it on
// theirs. It touches only its arguments, the chosen kernel and, once, the processor's feature flags;
// it cannot fail.
#ifndef QUORVANE_SCAN_H
#define QUORVANE_SCAN_H

#include <cstdint>
#include <vector>

// Samples on one side of the base line after which a half-wave is given up (about 4.5 ms).
enum { kHalfPeriodTimeout = 200 };

// The measurement's state, which outlives every batch (across blocks, and across Stop and Start).
struct HalfPeriodState {
    int32_t polarity = 1;  // side of the half-wave being measured: +1 at or above the base line
    int32_t runCount = 0;  // samples of it seen so far, 0..kHalfPeriodTimeout
};

enum { kScanBatch = 16384 };

// Sides of a batch of samples: bit i (bit i % 8 of byte i / 8) set when sample i lies at or above the
// base line.
struct SideMap {
    // Eight bytes more than the samples need, so that a word may be loaded wherever the last one starts.
    uint8_t bits[kScanBatch / 8 + 8] = {};
    int32_t count = 0;
};

// Classifies samples[0..count), count <= kScanBatch, with the chosen kernel.
void MapSides(const uint8_t* samples, int32_t count, uint8_t baseLine, SideMap& map);

// One result of the measurement: a length (or -1 for a time-out), the batch position just past the
// sample that ended it, and the side being measured after it.
struct HalfPeriod {
    int16_t length;
    int16_t end;
    int8_t polarity;
};

struct HalfPeriodList {
    // Every result takes at least one sample.
    HalfPeriod items[kScanBatch];
    int32_t count = 0;
};

// Every result of the measurement that ends in map from pos on, the measurement standing at state
// before sample pos; state is left as it stands after the map's last sample (the samples after the
// last result are counted in it).
void ScanHalfPeriods(const SideMap& map, int32_t pos, HalfPeriodState& state, HalfPeriodList& list);

// Writes the side bits of samples[0..count) into bits[0..(count + 7) / 8), the unused high bits of
// the last byte cleared.
using SideFunction = void (*)(const uint8_t* samples, int32_t count, uint8_t baseLine, uint8_t* bits);

struct SideKernel {
    const char* name;
    SideFunction map;
};

// Every kernel this processor can run, the slowest first; the plain one is always there.
const std::vector<SideKernel>& SideKernels();

// MapSides runs the last of SideKernels() unless this said otherwise. For tests and benchmarks that
// put every kernel through the decoder; not while a decoder thread runs.
void ChooseSideKernel(const SideKernel& kernel);

#endif
