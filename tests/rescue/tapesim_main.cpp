// qv-tapesim IN.tap OUT.wav [--family NAME] [--strength 1..3] [--seed N] [--play K] [--rate HZ] [--raw8 OUT.pcm]
// Renders every block of a TAP file as a damaged cassette recording (tests/rescue/tapesim.h): a
// 16-bit WAV file and, with --raw8, the same signal as the raw 8-bit recording the default decoder
// reads. --play K renders the K-th play of the tape the seed names: the tape's own drop-outs at the
// same places in every play, the player's own damage drawn afresh for each K (and at least what
// every deck adds: hiss, a speed a little off, wow and flutter). Exit status 0 done, 1 a file could not be read or written or the TAP file is malformed,
// 2 bad usage.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/rescue/tapesim.h"
#include "tools/tapgen.h"

namespace {

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "qv-tapesim: %s\nusage: qv-tapesim IN.tap OUT.wav [--family NAME] [--strength 1..3] "
                         "[--seed N] [--play K] [--rate HZ] [--raw8 OUT.pcm]\n  families:", problem.c_str());
    for (int f = 0; f < kTapesimFamilies; ++f)
        std::fprintf(stderr, " %s", TapesimFamilyName(static_cast<TapesimFamily>(f)));
    std::fprintf(stderr, "\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string in, out, raw8, family = "clean";
    int strength = 1;
    uint64_t seed = 1, play = 0;
    double rate = 44100;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= argc)
                return Usage("no value after " + arg);
            const std::string value = argv[++i];
            if (arg == "--family")
                family = value;
            else if (arg == "--strength")
                strength = std::atoi(value.c_str());
            else if (arg == "--seed")
                seed = std::strtoull(value.c_str(), nullptr, 10);
            else if (arg == "--play")
                play = std::strtoull(value.c_str(), nullptr, 10);
            else if (arg == "--rate")
                rate = std::atof(value.c_str());
            else if (arg == "--raw8")
                raw8 = value;
            else
                return Usage("unknown option " + arg);
        } else if (in.empty()) {
            in = arg;
        } else if (out.empty()) {
            out = arg;
        } else {
            return Usage("too many files");
        }
    }
    if (out.empty())
        return Usage("IN.tap and OUT.wav are needed");
    const TapesimFamily kind = TapesimFamilyByName(family);
    if (kind == kTapesimFamilies)
        return Usage("unknown family " + family);
    if (strength < 1 || strength > 3 || !(rate >= 8000 && rate <= 192000))
        return Usage("strength runs from 1 to 3, the rate from 8000 to 192000");

    std::ifstream file(in, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "qv-tapesim: cannot read %s\n", in.c_str());
        return 1;
    }
    const TapgenBytes image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<TapgenBytes> blocks;
    std::string error;
    if (!TapgenParse(image, blocks, error)) {
        std::fprintf(stderr, "qv-tapesim: %s: %s\n", in.c_str(), error.c_str());
        return 1;
    }
    TapesimParams params = TapesimPreset(kind, strength, seed);
    params.rate = rate;
    if (play > 0)
        params = TapesimPlay(params, static_cast<int>(play));
    const std::vector<float> frames = TapesimRender(blocks, params);
    if (!TapesimWriteWav16(out, frames, params.channels, static_cast<int>(rate))) {
        std::fprintf(stderr, "qv-tapesim: cannot write %s\n", out.c_str());
        return 1;
    }
    if (!raw8.empty() && !TapesimWriteRaw8(raw8, frames, params.channels)) {
        std::fprintf(stderr, "qv-tapesim: cannot write %s\n", raw8.c_str());
        return 1;
    }
    return 0;
}
