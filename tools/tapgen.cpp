#include "tools/tapgen.h"

#include <cmath>

namespace {

// Where the next edge of a block goes. Edges are placed from the T-states elapsed since the block
// began, each rounded to the nearest sample on its own: rounding every pulse separately would add up
// over a long block (a 0 bit is 21.5 samples) and push its end out of the decoder's ranges.
struct EdgeClock {
    double clockRate;   // T-states a second of tape time, speed applied
    int64_t elapsedT;
    int64_t lastEdge;   // sample of the last edge, counted from the start of the block
    bool high;          // level of the half-wave that starts at lastEdge
};

void HalfWave(EdgeClock& clock, int tstates, const TapgenOptions& options, TapgenBytes& out)
{
    clock.elapsedT += tstates;
    // Multiplying first keeps the nominal speed exact: both operands and the quotient's halves are
    // representable, so the rounding does not depend on the compiler's floating-point mode.
    int64_t edge = std::llround(static_cast<double>(clock.elapsedT) * kTapgenRate / clock.clockRate);
    out.insert(out.end(), static_cast<size_t>(edge - clock.lastEdge),
               clock.high ? options.high : options.low);
    clock.lastEdge = edge;
    clock.high = !clock.high;
}

}  // namespace

bool TapgenParse(const TapgenBytes& image, std::vector<TapgenBytes>& blocks, std::string& error)
{
    blocks.clear();
    size_t offset = 0;
    while (offset < image.size()) {
        size_t number = blocks.size() + 1;
        if (image.size() - offset < 2) {
            error = "block " + std::to_string(number) + " at offset " + std::to_string(offset) +
                    ": the file ends inside its length field";
            return false;
        }
        size_t length = image[offset] | static_cast<size_t>(image[offset + 1]) << 8;
        size_t left = image.size() - offset - 2;
        if (length > left) {
            error = "block " + std::to_string(number) + " at offset " + std::to_string(offset) +
                    ": its length is " + std::to_string(length) + " bytes but only " +
                    std::to_string(left) + " follow";
            return false;
        }
        auto first = image.begin() + static_cast<std::ptrdiff_t>(offset + 2);
        blocks.emplace_back(first, first + static_cast<std::ptrdiff_t>(length));
        offset += 2 + length;
    }
    return true;
}

void TapgenSilence(TapgenBytes& out)
{
    out.insert(out.end(), kTapgenRate, kTapgenSilence);
}

void TapgenBlock(const uint8_t* data, size_t size, const TapgenOptions& options, TapgenBytes& out)
{
    EdgeClock clock;
    clock.clockRate = kTapgenClock * options.speed;
    clock.elapsedT = 0;
    clock.lastEdge = 0;
    clock.high = false;

    // The ROM picks the long pilot by the flag byte; a block without one gets it too. Both counts
    // are odd, so with the two sync halves and two halves a bit the block starts and ends low, and
    // the silence after it (128, high) is the edge that ends the last bit.
    bool header = size == 0 || data[0] < 128;
    int pilot = header ? kTapgenPilotHeader : kTapgenPilotData;
    static_assert(kTapgenPilotHeader % 2 == 1 && kTapgenPilotData % 2 == 1,
                  "the block must end on a low half-wave");
    for (int i = 0; i < pilot; i++)
        HalfWave(clock, kTapgenPilotT, options, out);
    HalfWave(clock, kTapgenSync1T, options, out);
    HalfWave(clock, kTapgenSync2T, options, out);
    for (size_t i = 0; i < size; i++) {
        for (int bit = 7; bit >= 0; bit--) {
            int halfT = (data[i] >> bit) & 1 ? kTapgenOneT : kTapgenZeroT;
            HalfWave(clock, halfT, options, out);
            HalfWave(clock, halfT, options, out);
        }
    }
}

TapgenBytes TapgenRecording(const std::vector<TapgenBytes>& blocks, const TapgenOptions& options)
{
    TapgenBytes out;
    TapgenSilence(out);
    for (const TapgenBytes& block : blocks) {
        TapgenBlock(block.data(), block.size(), options, out);
        TapgenSilence(out);
    }
    return out;
}
