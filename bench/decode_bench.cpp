// quorvane-bench DECODER [MINUTES...]
// End-to-end speed and memory of the console decoder: for each length (default 10 and 60 minutes)
// it writes a recording of that much signal, runs DECODER on it three times in fresh directories with
// its pane lines going to /dev/null, and prints the best time as MB/s and as a multiple of real time,
// and the largest peak resident set size the child reached. Beside it stands a plain read of the
// same file from the page cache, timed in the same run, as the ceiling a decoder could reach.
// Exit status 1 when a recording cannot be written or a decode does not give back every block.
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_tape.h"
#include "tools/tapgen.h"

namespace fs = std::filesystem;

namespace {

enum { kRuns = 3, kReadBuffer = 1 << 16 };

struct Run {
    double seconds;
    long peakKb;
    int status;
};

Run Decode(const std::string& decoder, const fs::path& recording, const fs::path& dir)
{
    fs::create_directories(dir);
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
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

// Best of kRuns plain reads of the whole file, in seconds; negative when it cannot be read.
double PlainRead(const fs::path& recording)
{
    static char buffer[kReadBuffer];
    double best = -1;
    for (int i = 0; i < kRuns; i++) {
        const int file = open(recording.c_str(), O_RDONLY);
        if (file < 0)
            return -1;
        const auto start = std::chrono::steady_clock::now();
        ssize_t got;
        while ((got = read(file, buffer, sizeof buffer)) > 0) {
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        close(file);
        if (got < 0)
            return -1;
        if (best < 0 || seconds < best)
            best = seconds;
    }
    return best;
}

// Files the decoder kept for whole blocks (the end of the recording leaves one more, unfinished).
int BlocksWritten(const fs::path& dir)
{
    int count = 0;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir / "TAPE", error)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("out", 0) == 0 && entry.file_size(error) > 2)
            count++;
    }
    return count;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: quorvane-bench DECODER [MINUTES...]\n");
        return 2;
    }
    const std::string decoder = fs::absolute(argv[1]).string();
    std::vector<double> lengths;
    for (int i = 2; i < argc; i++) {
        lengths.push_back(std::atof(argv[i]));
        if (!(lengths.back() > 0)) {
            std::fprintf(stderr, "quorvane-bench: bad length '%s' (minutes)\n", argv[i]);
            return 2;
        }
    }
    if (lengths.empty())
        lengths = {10, 60};

    char pattern[] = "/tmp/qv-bench-XXXXXX";
    const char* work = mkdtemp(pattern);
    if (!work) {
        std::perror("quorvane-bench: mkdtemp");
        return 1;
    }
    int failures = 0;
    std::printf("%9s %10s %7s %10s %9s %10s %13s %11s %7s\n", "signal", "file", "blocks", "decode",
                "MB/s", "real time", "peak RSS", "read MB/s", "share");
    for (double minutes : lengths) {
        const fs::path recording = fs::path(work) / "bench.pcm";
        BenchTape tape;
        if (!WriteBenchTape(recording.string(), minutes, tape)) {
            std::fprintf(stderr, "quorvane-bench: cannot write %s\n", recording.c_str());
            failures++;
            break;
        }
        const double readSeconds = PlainRead(recording);
        double best = 0;
        long peakKb = 0;
        bool decoded = true;
        for (int i = 0; i < kRuns; i++) {
            const fs::path dir = fs::path(work) / ("run" + std::to_string(i));
            Run run = Decode(decoder, recording, dir);
            int kept = BlocksWritten(dir);
            fs::remove_all(dir);
            if (run.status != 0 || kept != tape.blocks) {
                std::fprintf(stderr, "quorvane-bench: decode exited with %i and kept %i of %i blocks\n",
                             run.status, kept, tape.blocks);
                decoded = false;
                failures++;
                break;
            }
            if (i == 0 || run.seconds < best)
                best = run.seconds;
            if (run.peakKb > peakKb)
                peakKb = run.peakKb;
        }
        fs::remove(recording);
        if (!decoded)
            continue;
        if (readSeconds <= 0) {
            std::fprintf(stderr, "quorvane-bench: cannot read %s back\n", recording.c_str());
            failures++;
            continue;
        }
        const double megabytes = static_cast<double>(tape.samples) / 1e6;
        const double signalSeconds = static_cast<double>(tape.samples) / kTapgenRate;
        std::printf("%5.1f min %7.1f MB %7i %8.3f s %9.1f %9.0fx %10.1f MB %11.1f %6.0f%%\n",
                    signalSeconds / 60, megabytes, tape.blocks, best, megabytes / best,
                    signalSeconds / best, static_cast<double>(peakKb) / 1024, megabytes / readSeconds,
                    100 * readSeconds / best);
        std::fflush(stdout);
    }
    fs::remove_all(work);
    return failures ? 1 : 0;
}
