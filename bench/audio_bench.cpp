// quorvane-audio-bench DECODER [MINUTES]
// Decoding speed of an audio file as people record tapes: the bench tape (bench/bench_tape.h) of
// that many minutes (default 60) converted to a 16-bit stereo 48 kHz WAV (libsoxr for the rate,
// libsndfile to write it; the right channel a little quieter than the left, so that mixing has
// work to do), then DECODER run on it twice in fresh directories with its pane lines going to
// /dev/null. Prints the better time as a multiple of real time and in MB/s of WAV, and the peak
// resident set size. Exit status 1 when the file cannot be written or a decode does not give back
// every block.
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <sndfile.h>
#include <soxr.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_tape.h"
#include "tools/tapgen.h"

namespace fs = std::filesystem;

namespace {

enum { kRuns = 2, kWavRate = 48000, kChunk = 65536 };

// The raw bench tape rewritten as the WAV a sound card would have made of it.
bool WriteWav(const fs::path& raw, const fs::path& wav)
{
    std::ifstream in(raw, std::ios::binary);
    SF_INFO info{};
    info.samplerate = kWavRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* out = sf_open(wav.c_str(), SFM_WRITE, &info);
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_t resampler = soxr_create(kTapgenRate, kWavRate, 1, &error, &io, nullptr, nullptr);
    if (!in || !out || !resampler)
        return false;
    std::vector<char> bytes(kChunk);
    std::vector<float> samples(kChunk), converted(2 * kChunk), frames(4 * kChunk);
    for (bool end = false; !end;) {
        in.read(bytes.data(), kChunk);
        const size_t n = static_cast<size_t>(in.gcount());
        end = n == 0;
        for (size_t i = 0; i < n; ++i)
            samples[i] = (static_cast<unsigned char>(bytes[i]) - 128) / 128.0f * 0.9f;
        size_t done = 0;
        soxr_process(resampler, end ? nullptr : samples.data(), n, nullptr, converted.data(), converted.size(), &done);
        for (size_t i = 0; i < done; ++i) {
            frames[2 * i] = converted[i];
            frames[2 * i + 1] = converted[i] * 0.7f;
        }
        if (sf_writef_float(out, frames.data(), static_cast<sf_count_t>(done)) != static_cast<sf_count_t>(done))
            return false;
    }
    soxr_delete(resampler);
    return sf_close(out) == 0;
}

struct Run {
    double seconds;
    long peakKb;
    int status;
};

Run Decode(const std::string& decoder, const fs::path& recording, const fs::path& dir)
{
    fs::create_directories(dir);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, 1) < 0 || chdir(dir.c_str()) != 0)
            _exit(126);
        execl(decoder.c_str(), decoder.c_str(), recording.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    Run run = {0, 0, -1};
    int status = 0;
    struct rusage usage;
    if (child > 0 && wait4(child, &status, 0, &usage) == child) {
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.peakKb = usage.ru_maxrss;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

int BlocksWritten(const fs::path& dir)
{
    int count = 0;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir / "TAPE", error))
        if (entry.path().filename().string().rfind("out", 0) == 0 && entry.file_size(error) > 2)
            ++count;
    return count;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: quorvane-audio-bench DECODER [MINUTES]\n");
        return 2;
    }
    const std::string decoder = fs::absolute(argv[1]).string();
    const double minutes = argc == 3 ? std::atof(argv[2]) : 60;
    if (!(minutes > 0)) {
        std::fprintf(stderr, "quorvane-audio-bench: bad length '%s' (minutes)\n", argv[2]);
        return 2;
    }
    char pattern[] = "/tmp/qv-audio-bench-XXXXXX";
    const char* work = mkdtemp(pattern);
    if (!work) {
        std::perror("quorvane-audio-bench: mkdtemp");
        return 1;
    }
    const fs::path raw = fs::path(work) / "bench.pcm", wav = fs::path(work) / "bench.wav";
    BenchTape tape;
    if (!WriteBenchTape(raw.string(), minutes, tape) || !WriteWav(raw, wav)) {
        std::fprintf(stderr, "quorvane-audio-bench: cannot write the recording in %s\n", work);
        fs::remove_all(work);
        return 1;
    }
    fs::remove(raw);
    const double wavMb = static_cast<double>(fs::file_size(wav)) / 1e6;
    const double signalSeconds = static_cast<double>(tape.samples) / kTapgenRate;
    double best = 0;
    long peakKb = 0;
    int failures = 0;
    for (int i = 0; i < kRuns && !failures; ++i) {
        const fs::path dir = fs::path(work) / ("run" + std::to_string(i));
        const Run run = Decode(decoder, wav, dir);
        const int kept = BlocksWritten(dir);
        fs::remove_all(dir);
        if (run.status != 0 || kept != tape.blocks) {
            std::fprintf(stderr, "quorvane-audio-bench: decode exited with %i and kept %i of %i blocks\n",
                         run.status, kept, tape.blocks);
            ++failures;
        }
        if (i == 0 || run.seconds < best)
            best = run.seconds;
        if (run.peakKb > peakKb)
            peakKb = run.peakKb;
    }
    fs::remove_all(work);
    if (failures)
        return 1;
    std::printf("16-bit stereo 48 kHz WAV, %.1f min (%.0f MB), %i blocks: decoded in %.2f s, %.0fx real time, "
                "%.0f MB/s of WAV, peak RSS %.1f MB\n",
                signalSeconds / 60, wavMb, tape.blocks, best, signalSeconds / best, wavMb / best,
                static_cast<double>(peakKb) / 1024);
    return 0;
}
