#include "rescue/bits.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// A 0 bit's full period (two half-pulses of 855 T-states) against the pilot's (two of 2168).
const double kZeroPerPilot = 855.0 / 2168;

struct Half {
    double length;  // skew taken out
    double end;
    int side;
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
        out.push_back({here, h[k].end, h[k].side});
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

// The sync: two half-waves that together last about a third of a pilot period (a pilot half-wave
// and the first sync half together last two thirds), with data after them. The index of its first
// half-wave, or the number of half-waves when there is none.
size_t FindSync(const Reader& r, double period)
{
    for (size_t i = 0; i + 1 < r.halves.size(); ++i) {
        const double sum = r.Pair(i);
        if (sum > 0.15 * period && sum < 0.55 * period && r.DataFollows(i + 2, 4, true))
            return i;
    }
    return r.halves.size();
}

uint8_t Sureness(double share)
{
    return static_cast<uint8_t>(std::lround(255 * std::min(1.0, std::max(0.0, share))));
}

void AddBit(DecodedBlock& out, uint8_t& byte, int& bit, bool one, double sure)
{
    out.sureness.push_back(Sureness(sure));
    byte = static_cast<uint8_t>(byte << 1 | (one ? 1 : 0));
    if (++bit == 8) {
        out.bytes.push_back(byte);
        out.checksum ^= byte;
        byte = 0;
        bit = 0;
    }
}

}  // namespace

void DecodeStretch(const Stretch& stretch, DecodedBlock& out)
{
    out = DecodedBlock{};
    const double period = stretch.pilotPeriod;
    Reader r{Repair(stretch), kZeroPerPilot * period, 0.75 * period};
    const std::vector<Half>& h = r.halves;
    size_t i = FindSync(r, period);
    if (i == h.size())
        return;
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
        // The boundary halfway between a 0 (one zero period) and a 1 (two); the zero period
        // follows each bit that fits, slowly enough to ride over jitter and quickly enough for wow.
        const bool one = sum >= 1.5 * r.zero;
        // A period right at one or two 0 periods is sure; one near the boundary between them, or
        // one read through, could be either.
        const double sure = r.Fits(sum) ? std::fabs(sum - 1.5 * r.zero) / (0.5 * r.zero) : 0.05;
        if (r.Fits(sum))
            r.zero += ((one ? sum / 2 : sum) - r.zero) / 32;
        AddBit(out, byte, bit, one, sure);
        out.endAt = h[last ? i : i + 1].end;
        if (last)
            break;
    }
    out.endBit = bit;
    out.sureness.resize(out.bytes.size() * 8);
}

namespace {

// Where the data ends: the start of the first stretch of 30 ms whose mean magnitude stays below a
// fifth of the pilot's (a drop-out shorter than that is read through).
size_t DataEnd(const std::vector<float>& y, size_t from, double level, double rate, double zero)
{
    const size_t quiet = static_cast<size_t>(0.03 * rate), step = std::max<size_t>(1, static_cast<size_t>(zero / 2));
    size_t run = 0;
    for (size_t k = from; k + step <= y.size(); k += step) {
        double sum = 0;
        for (size_t j = k; j < k + step; ++j)
            sum += std::fabs(y[j]);
        if (sum / static_cast<double>(step) < 0.2 * level) {
            run += step;
            if (run >= quiet)
                return k + step - run;
        } else {
            run = 0;
        }
    }
    return y.size();
}

}  // namespace

void DecodeBySequence(const Stretch& stretch, const std::vector<float>& trace, int64_t first, double rate,
                      DecodedBlock& out)
{
    out = DecodedBlock{};
    const double period = stretch.pilotPeriod;
    Reader r{Repair(stretch), kZeroPerPilot * period, 0.75 * period};
    const size_t sync = FindSync(r, period);
    if (sync == r.halves.size() || trace.empty())
        return;
    const double syncAt = r.halves[sync].end - r.halves[sync].length;
    const int64_t start = static_cast<int64_t>(std::lround(r.halves[sync + 1].end)) - first;
    if (start <= 0 || start >= static_cast<int64_t>(trace.size()))
        return;
    out.synced = true;
    out.syncAt = syncAt;
    out.endAt = static_cast<double>(first + start);
    // Every bit begins on the side of the half-wave after the sync.
    const int side = sync + 2 < r.halves.size() ? r.halves[sync + 2].side : -r.halves[sync + 1].side;

    // The pilot's level, from the samples before the sync.
    const size_t pilotFrom = static_cast<size_t>(std::max<int64_t>(0, static_cast<int64_t>(syncAt) - first -
                                                                          static_cast<int64_t>(8 * period)));
    const size_t pilotTo = static_cast<size_t>(std::max<int64_t>(0, static_cast<int64_t>(syncAt) - first));
    double level = 0;
    for (size_t k = pilotFrom; k < pilotTo; ++k)
        level += std::fabs(trace[k]);
    level = pilotTo > pilotFrom ? level / static_cast<double>(pilotTo - pilotFrom) : 0;
    if (level <= 0)
        return;

    // The data, on the side of a bit's first half, scaled to its own level as it goes (so a
    // drop-out weighs as much as the rest) and clipped (so a click weighs no more than the signal).
    const size_t from = static_cast<size_t>(start), end = DataEnd(trace, from, level, rate, r.zero);
    if (end <= from)
        return;
    const double follow = 1 - std::exp(-1 / (0.0015 * rate));
    std::vector<double> sum(end - from + 1, 0.0);
    double envelope = level;
    for (size_t k = from; k < end; ++k) {
        const double x = side * trace[k];
        envelope += follow * (std::min(std::fabs(x), 3 * envelope) - envelope);
        const double y = std::max(-1.6, std::min(1.6, x / std::max(envelope, 0.05 * level)));
        sum[k - from + 1] = sum[k - from] + y;
    }
    auto at = [&](double x) {
        const size_t k = static_cast<size_t>(x);
        return k + 1 < sum.size() ? sum[k] + (x - static_cast<double>(k)) * (sum[k + 1] - sum[k]) : sum.back();
    };

    // The most likely bits: each bit is a window of about one 0 period or two, its first half
    // above and its second below; score[b] is the best total, over all ways of cutting the data
    // up to boundary b into such windows, of each window's first-half area less its second-half
    // area, less a toll for every window that strays from its nominal length.
    const double zero = r.zero;
    const int zeroLow = static_cast<int>(std::ceil(zero - std::max(2.0, 0.15 * zero)));
    const int zeroHigh = static_cast<int>(std::floor(zero + std::max(2.0, 0.15 * zero)));
    const int oneLow = static_cast<int>(std::ceil(2 * zero - std::max(3.0, 0.24 * zero)));
    const int oneHigh = static_cast<int>(std::floor(2 * zero + std::max(3.0, 0.24 * zero)));
    const size_t n = end - from;
    const double unreachable = -1e300;
    std::vector<double> score(n + 1, unreachable);
    std::vector<uint8_t> length(n + 1, 0), count(n + 1, 0);
    score[0] = 0;
    for (size_t b = static_cast<size_t>(zeroLow); b <= n; ++b) {
        double best = unreachable;
        int bestLength = 0;
        auto consider = [&](int low, int high, double nominal) {
            for (int l = low; l <= high; ++l) {
                if (static_cast<size_t>(l) > b || score[b - static_cast<size_t>(l)] == unreachable)
                    continue;
                const double a = static_cast<double>(b) - l, mid = a + l / 2.0, stray = l - nominal;
                const double value = score[b - static_cast<size_t>(l)] + 2 * at(mid) - at(a) - at(static_cast<double>(b)) -
                                     0.5 * stray * stray;
                if (value > best) {
                    best = value;
                    bestLength = l;
                }
            }
        };
        consider(zeroLow, zeroHigh, zero);
        consider(oneLow, oneHigh, 2 * zero);
        if (bestLength) {
            score[b] = best;
            length[b] = static_cast<uint8_t>(bestLength);
            count[b] = static_cast<uint8_t>((count[b - static_cast<size_t>(bestLength)] + 1) % 8);
        }
    }
    // The best cut up to the quiet, then back along it: each window's score per sample is about 1
    // in the data and far less in what follows it (a lossy codec's smear, hiss under the scaling).
    size_t last = n;
    for (size_t b = n > static_cast<size_t>(2 * zero) ? n - static_cast<size_t>(2 * zero) : 0; b <= n; ++b)
        if (score[b] > score[last])
            last = b;
    std::vector<size_t> cuts;  // window ends, from the last back to the first
    for (size_t b = last; b > 0 && length[b]; b -= length[b])
        cuts.push_back(b);
    const size_t bits = cuts.size();
    std::vector<double> quality(bits);
    std::vector<bool> ones(bits);
    for (size_t k = 0; k < bits; ++k) {
        const size_t b = cuts[bits - 1 - k], l = length[b];
        const double a = static_cast<double>(b - l);
        quality[k] = (2 * at(a + l / 2.0) - at(a) - at(static_cast<double>(b))) / static_cast<double>(l);
        ones[k] = l > 1.5 * zero;
    }
    // Where the data ends the windows' scores drop, to noise or to the next pilot: the byte
    // boundary that best splits the bytes' mean scores in two, when the later part scores clearly
    // lower. The block's bytes XOR to 0, so a boundary within two bytes of it where they do is
    // taken instead.
    // A 1 bit scores higher than a 0 where high frequencies are worn, so each bit's score counts
    // against the usual (median) score of its kind.
    const size_t bytes = bits / 8;
    double usual[2] = {1, 1};
    for (int kind = 0; kind < 2; ++kind) {
        std::vector<double> scores;
        for (size_t k = 0; k < bits; ++k)
            if (ones[k] == (kind == 1))
                scores.push_back(quality[k]);
        if (!scores.empty()) {
            std::nth_element(scores.begin(), scores.begin() + static_cast<std::ptrdiff_t>(scores.size() / 2), scores.end());
            usual[kind] = std::max(scores[scores.size() / 2], 1e-3);
        }
    }
    std::vector<double> score8(bytes, 0.0), total(bytes + 1, 0.0), squares(bytes + 1, 0.0);
    for (size_t k = 0; k < 8 * bytes; ++k)
        score8[k / 8] += quality[k] / usual[ones[k] ? 1 : 0] / 8;
    for (size_t k = 0; k < bytes; ++k) {
        total[k + 1] = total[k] + score8[k];
        squares[k + 1] = squares[k] + score8[k] * score8[k];
    }
    auto spread = [&](size_t a, size_t b) {
        const double n = static_cast<double>(b - a), sum = total[b] - total[a];
        return n > 0 ? squares[b] - squares[a] - sum * sum / n : 0.0;
    };
    size_t whole = bytes;
    double bestSplit = spread(0, bytes);
    for (size_t k = 1; k < bytes; ++k) {
        const double split = spread(0, k) + spread(k, bytes);
        const double before = total[k] / static_cast<double>(k),
                     after = (total[bytes] - total[k]) / static_cast<double>(bytes - k);
        if (split < bestSplit && after < 0.85 * before) {
            bestSplit = split;
            whole = k;
        }
    }
    std::vector<uint8_t> all(bytes, 0);
    std::vector<uint8_t> prefix(bytes + 1, 0);
    for (size_t k = 0; k < 8 * bytes; ++k)
        all[k / 8] = static_cast<uint8_t>(all[k / 8] << 1 | (ones[k] ? 1 : 0));
    for (size_t k = 0; k < bytes; ++k)
        prefix[k + 1] = prefix[k] ^ all[k];
    for (size_t distance = 0; distance <= 2; ++distance) {
        if (whole >= distance && whole - distance > 0 && prefix[whole - distance] == 0) {
            whole -= distance;
            out.endByChecksum = distance > 0;
            break;
        }
        if (whole + distance <= bytes && prefix[whole + distance] == 0) {
            whole += distance;
            out.endByChecksum = distance > 0;
            break;
        }
    }
    out.bytes.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(whole));
    for (size_t k = 0; k < 8 * whole; ++k)
        out.sureness.push_back(Sureness(quality[k] / usual[ones[k] ? 1 : 0]));
    out.checksum = prefix[whole];
    out.endBit = 0;
    last = whole > 0 ? cuts[bits - 8 * whole] : 0;
    out.endAt = static_cast<double>(first + static_cast<int64_t>(from + last));
}
