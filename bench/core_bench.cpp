// The decoding core in-process, without the console program around it: the half-period scanner on
// a recording in memory with each kernel this processor runs, the half-period loop alone, and the
// decoder thread's whole body (blocks, TAP files, catalogue rescans, status.log). Each iteration
// decodes a ten-minute recording, the last two from file, in a temporary directory that holds the
// recording, the TAP files and status.log; the fake user-interface seam takes the pane lines.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_tape.h"
#include "decoder/catalogue.h"
#include "decoder/halfperiod.h"
#include "decoder/run.h"
#include "decoder/scan.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "decoder/timing.h"
#include "tests/fake_ui.h"

namespace fs = std::filesystem;

namespace {

const char* const kRecording = "bench.pcm";
BenchTape tape;

void StartRun()
{
    ResetDecoder();
    TimingSettings = DefaultTiming();
    if (!BeginRun(kRecording))
        std::abort();
}

void SetCounters(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * tape.samples);
    state.counters["x_real_time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(tape.samples) / 44100.0,
        benchmark::Counter::kIsRate);
}

// Batch by batch as ReadHalfPeriod takes them, without the file and the calls.
void BM_Scan(benchmark::State& state, SideKernel kernel, const std::vector<uint8_t>* recording)
{
    ChooseSideKernel(kernel);
    auto map = std::make_unique<SideMap>();
    auto list = std::make_unique<HalfPeriodList>();
    int64_t halves = 0;
    for (auto _ : state) {
        HalfPeriodState measured;
        for (size_t at = 0; at < recording->size(); at += kScanBatch) {
            const size_t count = std::min<size_t>(kScanBatch, recording->size() - at);
            MapSides(recording->data() + at, static_cast<int32_t>(count), DefaultTiming().BaseLine, *map);
            ScanHalfPeriods(*map, 0, measured, *list);
            halves += list->count;
        }
        benchmark::DoNotOptimize(measured);
    }
    ChooseSideKernel(SideKernels().back());
    SetCounters(state);
    state.counters["half_waves"] = static_cast<double>(halves) / static_cast<double>(state.iterations());
}

void BM_ReadHalfPeriod(benchmark::State& state)
{
    int64_t halves = 0;
    for (auto _ : state) {
        StartRun();
        try {
            for (;;) {
                benchmark::DoNotOptimize(ReadHalfPeriod());
                halves++;
            }
        } catch (const DecoderStopped&) {
        }
        state.PauseTiming();
        FakeUiClear();
        state.ResumeTiming();
    }
    SetCounters(state);
    state.counters["half_waves"] = static_cast<double>(halves) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReadHalfPeriod)->Unit(benchmark::kMillisecond);

void BM_DecoderThread(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        for (const fs::directory_entry& entry : fs::directory_iterator("."))
            if (entry.path().extension() == ".tap")
                fs::remove(entry.path());
        FakeUiClear();
        StartRun();
        state.ResumeTiming();
        ScanTapeFiles();
        if (RunDecoderHere() != kExitEndOfFile)
            state.SkipWithError("the decoder did not run to the end of the recording");
        EndRun();
    }
    SetCounters(state);
}
BENCHMARK(BM_DecoderThread)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    char pattern[] = "/tmp/qv-core-bench-XXXXXX";
    const char* work = mkdtemp(pattern);
    if (!work || chdir(work) != 0 || !WriteBenchTape(kRecording, 10, tape)) {
        std::perror("qv_core_bench: cannot set up the recording");
        return 1;
    }
    std::ifstream file(kRecording, std::ios::binary);
    static const std::vector<uint8_t> recording{std::istreambuf_iterator<char>(file),
                                                std::istreambuf_iterator<char>()};
    for (const SideKernel& kernel : SideKernels())
        benchmark::RegisterBenchmark((std::string("BM_Scan/") + kernel.name).c_str(), BM_Scan, kernel, &recording)
            ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::current_path("/");
    fs::remove_all(work);
    return 0;
}
