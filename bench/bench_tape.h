// The recording both benchmarks decode: a long tape of ordinary blocks (headers, screens, BASIC,
// machine code of random bytes, so about as many 1 bits as 0 bits), rendered at the nominal speed.
// Main thread of the benchmark programs. Fails by returning false when the file cannot be written.
#ifndef QUORVANE_BENCH_TAPE_H
#define QUORVANE_BENCH_TAPE_H

#include <cstdint>
#include <string>

struct BenchTape {
    int64_t samples = 0;
    int blocks = 0;
};

// Writes whole blocks, each followed by its second of silence, until at least minutes of signal are
// on file; memory stays at one block's signal.
bool WriteBenchTape(const std::string& name, double minutes, BenchTape& tape);

#endif
