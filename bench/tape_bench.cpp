// The CSW writer at the rate the rescue run feeds it: the half-waves of an hour of tape at 44100/s
// (a ROM-speed mix of 0 and 1 bits, fractions of a sample and all), compressed and written to a file
// in the temporary directory. Reports the time an hour takes and the file's size; the writer's
// memory is its two fixed buffers whatever the length.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tape/csw.h"
#include "tape/tape.h"

namespace {

void CswHour(benchmark::State& state)
{
    const std::string path = (std::filesystem::temp_directory_path() / ("qv-bench-" + std::to_string(getpid()) + ".csw")).string();
    const double zero = TToSamples(kRomZero, 44100), one = TToSamples(kRomOne, 44100);
    const double hour = 3600.0 * 44100;
    int64_t pulses = 0;
    for (auto _ : state) {
        std::string error;
        CswWriter* writer = CswOpen(path, 44100, true, &error);
        uint32_t bits = 0x12345678;
        for (double at = 0; at < hour;) {
            bits = bits * 1103515245 + 12345;
            const double length = (bits >> 16 & 1) ? one : zero;
            CswAddHalfWave(writer, length, 1);
            CswAddHalfWave(writer, length, -1);
            at += 2 * length;
            pulses += 2;
        }
        if (!CswClose(writer, &error))
            state.SkipWithError(error.c_str());
    }
    state.counters["half-waves/s"] = benchmark::Counter(static_cast<double>(pulses), benchmark::Counter::kIsRate);
    state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    std::remove(path.c_str());
}
BENCHMARK(CswHour)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
