// quorvane-tapgen IN.tap OUT.pcm [--speed F] [--high N] [--low N]
// Writes the raw recording of every block of a TAP file, for the decoder's tests, the bundled sample
// and users checking their thresholds. Exit status 0 done, 1 a file could not be read or written or
// the TAP file is malformed, 2 bad usage.
#include "tools/tapgen.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

const char* const kUsageLine = "usage: quorvane-tapgen IN.tap OUT.pcm [--speed F] [--high N] [--low N]\n";
const char* const kUsageText =
    "  Writes a raw recording (unsigned 8-bit mono, 44100 samples/s, silence 128) of every block\n"
    "  of IN.tap at the standard ROM timings, with one second of silence around each block.\n"
    "  --speed F  tape speed factor, 1.1 = 10 % fast (default 1.0, from 0.5 to 2)\n"
    "  --high N   level of the high half-waves, 128 to 255 (default 200)\n"
    "  --low N    level of the low half-waves, 0 to 127 (default 56)\n";

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "quorvane-tapgen: %s\n%s", message.c_str(), kUsageLine);
    return 2;
}

int Failure(const std::string& message)
{
    std::fprintf(stderr, "quorvane-tapgen: %s\n", message.c_str());
    return 1;
}

bool ParseLevel(const char* text, long lowest, long highest, uint8_t& level)
{
    char* end;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < lowest || value > highest)
        return false;
    level = static_cast<uint8_t>(value);
    return true;
}

bool ReadWholeFile(const char* name, TapgenBytes& bytes, std::string& error)
{
    std::FILE* file = std::fopen(name, "rb");
    if (!file) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        return false;
    }
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    bool failed = std::ferror(file) != 0;
    int readErrno = errno;
    std::fclose(file);
    if (failed) {
        error = std::string("cannot read ") + name + ": " + std::strerror(readErrno);
        return false;
    }
    return true;
}

// Writes what has been rendered so far and empties the buffer, so that memory stays at one block
// however long the tape.
bool Flush(std::FILE* file, TapgenBytes& buffer, int64_t& samples)
{
    size_t put = std::fwrite(buffer.data(), 1, buffer.size(), file);
    samples += static_cast<int64_t>(put);
    bool ok = put == buffer.size();
    buffer.clear();
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* inName = nullptr;
    const char* outName = nullptr;
    TapgenOptions options;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsageLine, stdout);
            std::fputs(kUsageText, stdout);
            return 0;
        }
        if (arg == "--speed" || arg == "--high" || arg == "--low") {
            if (i + 1 >= argc)
                return UsageError(arg + " needs a value");
            const char* value = argv[++i];
            if (arg == "--speed") {
                char* end;
                options.speed = std::strtod(value, &end);
                // Within this range every half-wave stays between 4 and 55 samples, clear of the
                // decoder's 200-sample time-out.
                if (end == value || *end != '\0' || !(options.speed >= 0.5 && options.speed <= 2.0))
                    return UsageError(std::string("bad speed factor '") + value + "'");
            } else if (arg == "--high") {
                if (!ParseLevel(value, 128, 255, options.high))
                    return UsageError(std::string("bad high level '") + value + "' (128 to 255)");
            } else if (!ParseLevel(value, 0, 127, options.low)) {
                return UsageError(std::string("bad low level '") + value + "' (0 to 127)");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (!inName) {
            inName = argv[i];
        } else if (!outName) {
            outName = argv[i];
        } else {
            return UsageError("too many file names");
        }
    }
    if (!outName)
        return UsageError("needs an input TAP file and an output file");

    TapgenBytes image;
    std::vector<TapgenBytes> blocks;
    std::string error;
    if (!ReadWholeFile(inName, image, error))
        return Failure(error);
    if (!TapgenParse(image, blocks, error))
        return Failure(std::string(inName) + ": " + error);

    // The output usually goes into the decoder's TAPE directory, which a fresh checkout lacks.
    std::filesystem::path parent = std::filesystem::path(outName).parent_path();
    std::error_code ignored;
    if (!parent.empty())
        std::filesystem::create_directories(parent, ignored);

    std::FILE* out = std::fopen(outName, "wb");
    if (!out)
        return Failure(std::string("cannot create ") + outName + ": " + std::strerror(errno));
    TapgenBytes buffer;
    int64_t samples = 0;
    TapgenSilence(buffer);
    bool ok = Flush(out, buffer, samples);
    for (size_t i = 0; ok && i < blocks.size(); i++) {
        TapgenBlock(blocks[i].data(), blocks[i].size(), options, buffer);
        TapgenSilence(buffer);
        ok = Flush(out, buffer, samples);
    }
    int writeErrno = errno;
    if (std::fclose(out) != 0 && ok) {
        ok = false;
        writeErrno = errno;
    }
    if (!ok) {
        // A half-written recording would decode as a tape cut short; a device is left alone.
        if (std::filesystem::is_regular_file(outName, ignored))
            std::remove(outName);
        return Failure(std::string("cannot write ") + outName + ": " + std::strerror(writeErrno));
    }

    std::printf("%s: %zu block%s, %lld samples, %.2f seconds\n", outName, blocks.size(),
                blocks.size() == 1 ? "" : "s", static_cast<long long>(samples),
                static_cast<double>(samples) / kTapgenRate);
    return 0;
}
