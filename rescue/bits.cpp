#include "rescue/bits.h"

#include <cstddef>

namespace {

// A 0 bit's full period (two half-pulses of 855 T-states) against the pilot's (two of 2168).
const double kZeroPerPilot = 855.0 / 2168;

struct Half {
    double length;  // skew taken out
    double end;
};

// The stretch's half-waves with the pilot's skew taken out and glitches merged. A half-wave far
// shorter than any the tape holds, shorter than both its neighbours, is the signal wobbling across
// the base line inside one half-wave (a click, a lossy codec's ripple): when the three together are
// no longer than a pilot half-wave, they are one.
std::vector<Half> Repair(const Stretch& stretch)
{
    const std::vector<HalfWave>& h = stretch.halves;
    const double glitch = 0.12 * stretch.pilotPeriod, longest = 0.55 * stretch.pilotPeriod;
    auto length = [&](size_t k) { return h[k].length - h[k].side * stretch.halfSkew; };
    std::vector<Half> out;
    out.reserve(h.size());
    for (size_t k = 0; k < h.size(); ++k) {
        const double here = length(k);
        if (here < glitch && !out.empty() && k + 1 < h.size() && here <= out.back().length &&
            here <= length(k + 1) && out.back().length + here + length(k + 1) <= longest) {
            out.back().length += here + length(k + 1);
            out.back().end = h[k + 1].end;
            ++k;
            continue;
        }
        out.push_back({here, h[k].end});
    }
    return out;
}

struct Reader {
    std::vector<Half> halves;
    double zero;     // current full period of a 0 bit
    double timeout;  // a half-wave longer than this ends the block

    bool Timeout(size_t k) const { return k >= halves.size() || halves[k].length > timeout; }
    bool Fits(double period) const { return period >= 0.5 * zero && period <= 2.7 * zero; }
    // Strictly a bit: not a pilot period (2.54 zero periods) either.
    bool IsBit(double period) const { return period >= 0.5 * zero && period <= 2.3 * zero; }
    double Pair(size_t k) const { return halves[k].length + halves[k + 1].length; }
    // `pairs` good pairs from half-wave k on: the signal there is still data. Right after a sync
    // they must be bits and no pilot, since a glitch in the pilot can look like a sync.
    bool DataFollows(size_t k, int pairs, bool strict) const
    {
        for (int pair = 0; pair < pairs; ++pair, k += 2)
            if (Timeout(k) || Timeout(k + 1) || !(strict ? IsBit(Pair(k)) : Fits(Pair(k))))
                return false;
        return true;
    }
};

}  // namespace

void DecodeStretch(const Stretch& stretch, const BitSettings& settings, DecodedBlock& out)
{
    out = DecodedBlock{};
    const double period = stretch.pilotPeriod;
    Reader r{Repair(stretch), kZeroPerPilot * period, 0.75 * period};
    const std::vector<Half>& h = r.halves;

    // The sync: two half-waves that together last about a third of a pilot period (a pilot
    // half-wave and the first sync half together last two thirds), with data after them.
    size_t i = 0;
    for (;; ++i) {
        if (i + 1 >= h.size())
            return;
        const double sum = r.Pair(i);
        if (sum > 0.15 * period && sum < 0.55 * period && r.DataFollows(i + 2, 4, true))
            break;
    }
    out.synced = true;
    out.syncAt = h[i].end - h[i].length;
    out.endAt = h[i + 1].end;

    uint8_t byte = 0;
    int bit = 0;
    for (i += 2; !r.Timeout(i); i += 2) {
        // The last half-wave of a block runs into silence, where nothing marks its end but the
        // signal settling: the last bit is read from its first half-wave alone.
        const bool last = r.Timeout(i + 1) || r.Timeout(i + 2);
        const double sum = last ? 2 * h[i].length : r.Pair(i);
        if (!r.Fits(sum) && (last || !r.DataFollows(i + 2, 3, false)))
            break;
        if (!r.Fits(sum))
            ++out.readThrough;
        const bool one = sum >= settings.boundary * r.zero;
        if (settings.followSpeed && r.Fits(sum))
            r.zero += ((one ? sum / 2 : sum) - r.zero) / 32;
        byte = static_cast<uint8_t>(byte << 1 | (one ? 1 : 0));
        if (++bit == 8) {
            out.bytes.push_back(byte);
            out.checksum ^= byte;
            byte = 0;
            bit = 0;
        }
        out.endAt = h[last ? i : i + 1].end;
        if (last)
            break;
    }
    out.endBit = bit;
}
