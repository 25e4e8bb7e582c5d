// quorvane-rescue-bench DECODER [MINUTES]
// Speed of `DECODER --rescue` on long 16-bit WAV recordings (default one hour): a clean mono tape,
// a stereo tape with a little of every damage (the cassette simulator's "combined" at strength 1,
// so that some blocks are read more than once), and three plays of a mono tape with that damage,
// each play with damage of its own, read at once (the multiple of real time is then of the three
// recordings together, and the peak memory is set against their size). Each recording is a minute of blocks rendered
// once and written over and over; it is decoded twice in fresh directories with the pane lines
// going to /dev/null, and the better time is printed as a multiple of real time, with the peak
// resident set size and the blocks written against those on the tape. The CPU time (user and
// system) is printed beside it, and its multiple of real time: on a machine shared with other work
// the elapsed time says more of the others than of the decoder.
// Exit status 1 when a recording cannot be written or a decode fails.
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/rescue/tapesim.h"

namespace fs = std::filesystem;

namespace {

struct Case {
    const char* name;
    TapesimFamily family;
    int channels;
    int plays;  // 0: one recording; else that many plays of the tape, read at once
};

std::vector<uint8_t> Block(uint8_t flag, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> block(payload.size() + 1);
    block[0] = flag;
    std::copy(payload.begin(), payload.end(), block.begin() + 1);
    uint8_t check = 0;
    for (uint8_t byte : block)
        check ^= byte;
    block.push_back(check);
    return block;
}

// About a minute of tape: a code block of 6912 bytes and one of 2000, each with its header.
std::vector<std::vector<uint8_t>> MinuteOfBlocks()
{
    std::vector<std::vector<uint8_t>> blocks;
    uint32_t state = 12345;
    for (int size : {6912, 2000}) {
        std::vector<uint8_t> header = {3};
        for (char c : std::string("bench     "))
            header.push_back(static_cast<uint8_t>(c));
        header.insert(header.end(), {static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>(size >> 8), 0, 0x80, 0, 0x80});
        blocks.push_back(Block(0, header));
        std::vector<uint8_t> payload(static_cast<size_t>(size));
        for (uint8_t& byte : payload) {
            state = state * 1103515245 + 12345;
            byte = static_cast<uint8_t>(state >> 16);
        }
        blocks.push_back(Block(0xFF, payload));
    }
    return blocks;
}

void Put32(std::ofstream& out, uint32_t v)
{
    const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    out.write(b, 4);
}

void Put16(std::ofstream& out, uint32_t v)
{
    const char b[2] = {char(v), char(v >> 8)};
    out.write(b, 2);
}

// The piece written `repeats` times as one 16-bit WAV file; false when it cannot be written.
bool WriteRecording(const fs::path& name, const std::vector<float>& piece, int channels, int repeats)
{
    std::vector<char> pcm;
    pcm.reserve(piece.size() * 2);
    for (float x : piece) {
        const long v = std::lround(std::fmax(-1.0f, std::fmin(1.0f, x)) * 32767);
        pcm.push_back(static_cast<char>(v & 0xFF));
        pcm.push_back(static_cast<char>(v >> 8 & 0xFF));
    }
    const uint64_t bytes = static_cast<uint64_t>(pcm.size()) * static_cast<uint64_t>(repeats);
    if (bytes > 0xFFFFFFF0u)
        return false;
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write("RIFF", 4);
    Put32(out, static_cast<uint32_t>(36 + bytes));
    out.write("WAVEfmt ", 8);
    Put32(out, 16);
    Put16(out, 1);
    Put16(out, static_cast<uint32_t>(channels));
    Put32(out, 44100);
    Put32(out, static_cast<uint32_t>(44100 * channels * 2));
    Put16(out, static_cast<uint32_t>(channels * 2));
    Put16(out, 16);
    out.write("data", 4);
    Put32(out, static_cast<uint32_t>(bytes));
    for (int i = 0; i < repeats; ++i)
        out.write(pcm.data(), static_cast<std::streamsize>(pcm.size()));
    return static_cast<bool>(out);
}

struct Run {
    double seconds = 0;
    double cpu = 0;  // user and system time: what the run costs when the machine is shared
    long peakKb = 0;
    int status = -1;
};

Run Decode(const std::string& decoder, const std::vector<fs::path>& recordings, const fs::path& dir)
{
    std::vector<std::string> args = {decoder, "--rescue"};
    for (const fs::path& recording : recordings)
        args.push_back(recording.string());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    fs::create_directories(dir);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, 1) < 0 || chdir(dir.c_str()) != 0)
            _exit(126);
        execv(decoder.c_str(), argv.data());
        _exit(127);
    }
    Run run;
    int status = 0;
    struct rusage usage;
    if (child > 0 && wait4(child, &status, 0, &usage) == child) {
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        run.peakKb = usage.ru_maxrss;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

int GoodBlocks(const fs::path& dir)
{
    int count = 0;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir / "TAPE", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("out", 0) != 0)
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        uint8_t check = 0;
        for (size_t i = 2; i < bytes.size(); ++i)
            check ^= static_cast<uint8_t>(bytes[i]);
        count += bytes.size() > 2 && check == 0;
    }
    return count;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: quorvane-rescue-bench DECODER [MINUTES]\n");
        return 2;
    }
    const std::string decoder = fs::absolute(argv[1]).string();
    const double minutes = argc > 2 ? std::atof(argv[2]) : 60;
    char pattern[] = "/tmp/qv-rescue-bench-XXXXXX";
    const char* work = mkdtemp(pattern);
    if (!work || !(minutes > 0)) {
        std::fprintf(stderr, "quorvane-rescue-bench: no work directory, or a bad length\n");
        return 1;
    }
    const std::vector<std::vector<uint8_t>> blocks = MinuteOfBlocks();
    const Case cases[] = {{"clean, mono", kTapesimClean, 1, 0},
                          {"combined 1, stereo", kTapesimCombined, 2, 0},
                          {"3 plays, combined 1", kTapesimCombined, 1, 3}};
    int failures = 0;
    std::printf("%-20s %9s %9s %13s %9s %10s %9s %10s %10s\n", "recording", "signal", "file", "good blocks", "decode",
                "real time", "CPU", "by CPU", "peak RSS");
    for (const Case& c : cases) {
        TapesimParams params = TapesimPreset(c.family, 1, 7);
        params.channels = c.channels;
        params.azimuthSeconds = 20e-6;
        std::vector<fs::path> recordings;
        double pieceSeconds = 0;
        int repeats = 1;
        uintmax_t fileBytes = 0;
        bool writable = true;
        for (int play = 0; play < std::max(1, c.plays); ++play) {
            const std::vector<float> piece =
                TapesimRender(blocks, c.plays ? TapesimPlay(params, play + 1) : params);
            pieceSeconds = static_cast<double>(piece.size()) / c.channels / 44100;
            repeats = std::max(1, static_cast<int>(std::lround(minutes * 60 / pieceSeconds)));
            recordings.push_back(fs::path(work) / ("bench" + std::to_string(play) + ".wav"));
            if (!WriteRecording(recordings.back(), piece, c.channels, repeats)) {
                std::fprintf(stderr, "quorvane-rescue-bench: cannot write %s\n", recordings.back().c_str());
                writable = false;
                break;
            }
            fileBytes += fs::file_size(recordings.back());
        }
        if (!writable) {
            failures++;
            continue;
        }
        Run best;
        int good = 0;
        for (int i = 0; i < 2; ++i) {
            const fs::path dir = fs::path(work) / ("run" + std::to_string(i));
            const Run run = Decode(decoder, recordings, dir);
            good = GoodBlocks(dir);
            fs::remove_all(dir);
            if (run.status != 0) {
                std::fprintf(stderr, "quorvane-rescue-bench: the decoder exited with %i\n", run.status);
                failures++;
                break;
            }
            if (i == 0 || run.seconds < best.seconds)
                best.seconds = run.seconds;
            if (i == 0 || run.cpu < best.cpu)
                best.cpu = run.cpu;
            best.peakKb = std::max(best.peakKb, run.peakKb);
        }
        const double signal = pieceSeconds * repeats * std::max(1, c.plays);
        std::printf("%-20s %6.1f min %6.0f MB %6i of %-4i %7.2f s %9.0fx %7.2f s %9.0fx %7.1f MB\n", c.name,
                    signal / 60, static_cast<double>(fileBytes) / 1e6, good, static_cast<int>(blocks.size()) * repeats,
                    best.seconds, signal / best.seconds, best.cpu, signal / best.cpu,
                    static_cast<double>(best.peakKb) / 1024);
        std::fflush(stdout);
        for (const fs::path& recording : recordings)
            fs::remove(recording);
    }
    fs::remove_all(work);
    return failures ? 1 : 0;
}
