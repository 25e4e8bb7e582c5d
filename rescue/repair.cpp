#include "rescue/repair.h"

#include <algorithm>
#include <cmath>

namespace {

// A reading's bits, in the order read, with how sure each was (0 to 1).
struct Bits {
    std::vector<uint8_t> one;
    std::vector<float> sure;
};

Bits BitsOf(const Reading& r)
{
    Bits b;
    for (size_t k = 0; k < 8 * r.bytes.size(); ++k) {
        b.one.push_back(r.bytes[k / 8] >> (7 - k % 8) & 1);
        b.sure.push_back(k < r.sureness.size() ? r.sureness[k] / 255.0f : 0.5f);
    }
    return b;
}

// Bits a reading slipped (a half-wave lost or one too many) shift all that follow; this far either
// way they are found again.
const int kSlipBand = 48;
const int kSlipCost = 4;

// How a reading lies on the reference: for each of its positions the reading's bit there (-1 none:
// a slipped-out bit, or outside the reading), how sure it was, whether the reading spans that
// position, and the bit it holds before it that the reference has not (-1 none).
struct Placement {
    std::vector<int8_t> bit;
    std::vector<float> sure;
    std::vector<bool> spans;
    std::vector<int8_t> extra;
    std::vector<float> extraSure;
};

// x placed on the reference: the alignment of the two bit sequences with the most agreeing bits,
// where a bit slipped in or out costs as much as four that disagree, and x may begin and end
// anywhere at no cost (a reading that broke off early still votes for the bits it has).
void Place(const std::vector<uint8_t>& ref, const Bits& x, Placement& out)
{
    const int n = static_cast<int>(ref.size()), m = static_cast<int>(x.one.size()), width = 2 * kSlipBand + 1;
    const double none = -1e18;
    std::vector<double> row(static_cast<size_t>(width), none), next(static_cast<size_t>(width));
    std::vector<uint8_t> move(static_cast<size_t>((n + 1) * width), 0);  // 0 pair, 1 ref bit alone, 2 x bit alone
    auto at = [&](int i, int k) -> uint8_t& { return move[static_cast<size_t>(i * width + k)]; };
    // Cell (i, k): i reference bits and i + k - kSlipBand bits of x taken.
    double endScore = none;
    int endRow = 0;
    for (int k = kSlipBand; k < width && k - kSlipBand <= m; ++k) {
        row[static_cast<size_t>(k)] = -kSlipCost * (k - kSlipBand);
        at(0, k) = 2;
    }
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < width; ++k) {
            const int j = i + 1 + k - kSlipBand;
            double best = none;
            uint8_t how = 0;
            if (j >= 1 && j <= m && row[static_cast<size_t>(k)] > none)
                best = row[static_cast<size_t>(k)] + (ref[static_cast<size_t>(i)] == x.one[static_cast<size_t>(j - 1)] ? 1 : -1);
            // The reference's bit with none of x: free before x has begun or once it has ended.
            if (k + 1 < width && j >= 0 && j <= m && row[static_cast<size_t>(k + 1)] > none) {
                const double alone = row[static_cast<size_t>(k + 1)] - (j == m || j == 0 ? 0 : kSlipCost);
                if (alone > best) {
                    best = alone;
                    how = 1;
                }
            }
            if (k > 0 && j >= 1 && j <= m && next[static_cast<size_t>(k - 1)] > none &&
                next[static_cast<size_t>(k - 1)] - kSlipCost > best) {
                best = next[static_cast<size_t>(k - 1)] - kSlipCost;
                how = 2;
            }
            next[static_cast<size_t>(k)] = best;
            at(i + 1, k) = how;
        }
        row.swap(next);
        // Where x has ended after i + 1 reference bits: the rest of the reference is free.
        const int ended = m - (i + 1) + kSlipBand;
        if (ended >= 0 && ended < width && i + 1 < n && row[static_cast<size_t>(ended)] > endScore) {
            endScore = row[static_cast<size_t>(ended)];
            endRow = i + 1;
        }
    }
    int k = 0, last = n;
    for (int c = 1; c < width; ++c)
        if (row[static_cast<size_t>(c)] > row[static_cast<size_t>(k)])
            k = c;
    if (endScore > row[static_cast<size_t>(k)]) {
        last = endRow;
        k = m - last + kSlipBand;
    }
    out.bit.assign(ref.size(), -1);
    out.sure.assign(ref.size(), 0);
    out.spans.assign(ref.size(), false);
    out.extra.assign(ref.size() + 1, -1);
    out.extraSure.assign(ref.size() + 1, 0);
    // A reading longer than the reference by more than the band reaches no end cell: it spans
    // nothing and gets no vote.
    if (!(endScore > none) && !(row[static_cast<size_t>(k)] > none))
        return;
    for (int i = last; i > 0;) {
        const int j = i + k - kSlipBand;
        const bool inside = j > 0 && j < m;
        switch (at(i, k)) {
        case 0:
            out.bit[static_cast<size_t>(i - 1)] = static_cast<int8_t>(x.one[static_cast<size_t>(j - 1)]);
            out.sure[static_cast<size_t>(i - 1)] = x.sure[static_cast<size_t>(j - 1)];
            out.spans[static_cast<size_t>(i - 1)] = true;
            --i;
            break;
        case 1:
            out.spans[static_cast<size_t>(i - 1)] = inside;
            --i;
            ++k;
            break;
        default:
            if (i < n) {
                out.extra[static_cast<size_t>(i)] = static_cast<int8_t>(x.one[static_cast<size_t>(j - 1)]);
                out.extraSure[static_cast<size_t>(i)] = x.sure[static_cast<size_t>(j - 1)];
            }
            --k;
            break;
        }
    }
}

// The bits by the vote of the readings placed on `ref`: a position most readings that span it
// slipped out is dropped, a bit most of them hold before it that the reference lacks is added,
// and every bit kept is taken by the vote of the readings weighted by how sure each was. Every
// play has one vote however many of its readings span a position (`play` names each reading's):
// the readings of one play share its signal and so its faults. A reading that agrees with the
// reference in fewer than nine bits in ten lost its way (a sync taken at a wrong edge, bits read
// out of step) and has no vote. A bit's sureness is the vote's margin: the weighted votes for it
// less those against, over the readings that span it.
Bits Vote(const std::vector<uint8_t>& ref, const std::vector<Bits>& readings, const std::vector<size_t>& play)
{
    std::vector<Placement> placed(readings.size());
    for (size_t r = 0; r < readings.size(); ++r) {
        Placement& p = placed[r];
        Place(ref, readings[r], p);
        size_t held = 0, agreeing = 0;
        for (size_t i = 0; i < ref.size(); ++i)
            if (p.bit[i] >= 0) {
                ++held;
                agreeing += p.bit[i] == ref[i];
            }
        if (10 * agreeing < 9 * held)
            std::fill(p.spans.begin(), p.spans.end(), false);
    }
    const size_t plays = play.empty() ? 0 : *std::max_element(play.begin(), play.end()) + 1;
    std::vector<int> spans(plays);
    Bits bits;
    for (size_t i = 0; i < ref.size(); ++i) {
        std::fill(spans.begin(), spans.end(), 0);
        for (size_t r = 0; r < placed.size(); ++r)
            spans[play[r]] += placed[r].spans[i];
        double spanning = 0, extras = 0, present = 0, extra = 0, value = 0;
        for (size_t r = 0; r < placed.size(); ++r) {
            const Placement& p = placed[r];
            if (!p.spans[i])
                continue;
            const double weight = 1.0 / spans[play[r]];
            spanning += weight;
            if (p.extra[i] >= 0) {
                extras += weight;
                extra += weight * (p.extra[i] ? 1 : -1) * (p.extraSure[i] + 0.02);
            }
            if (p.bit[i] >= 0) {
                present += weight;
                value += weight * (p.bit[i] ? 1 : -1) * (p.sure[i] + 0.02);
            }
        }
        if (2 * extras > spanning) {
            bits.one.push_back(extra > 0);
            bits.sure.push_back(static_cast<float>(std::min(1.0, std::fabs(extra) / spanning)));
        }
        if (spanning == 0 || 2 * present >= spanning) {
            bits.one.push_back(spanning == 0 ? ref[i] : value > 0 || (value == 0 && ref[i]));
            bits.sure.push_back(spanning == 0 ? 0.0f : static_cast<float>(std::min(1.0, std::fabs(value) / spanning)));
        }
    }
    return bits;
}

uint8_t Sureness(float share)
{
    return static_cast<uint8_t>(std::lround(255 * std::min(1.0f, std::max(0.0f, share))));
}

// The cheapest ways, in summed sureness, to flip an odd number of bits of a column (the least sure
// bit alone, the next one instead, three) and an even number (two): the three least sure bits.
struct Column {
    int sure[3] = {256, 256, 256};
    size_t bit[3] = {0, 0, 0};
    void Take(int s, size_t at)
    {
        for (int k = 0; k < 3; ++k)
            if (s < sure[k]) {
                for (int j = 2; j > k; --j) {
                    sure[j] = sure[j - 1];
                    bit[j] = bit[j - 1];
                }
                sure[k] = s;
                bit[k] = at;
                return;
            }
    }
};

}  // namespace

bool LengthFits(const std::vector<uint8_t>& bytes, int expected)
{
    if (!WholeBlock(bytes))
        return false;
    if (bytes[0] == 0x00 && bytes.size() == 19)
        return true;
    return expected < 0 || static_cast<int>(bytes.size()) == expected;
}

Reading VoteReadings(const std::vector<Reading>& readings, const std::vector<size_t>& group, size_t length,
                     int expected)
{
    // A reading longer than the block by more than the slips the placing finds again cannot be
    // placed on it, and an empty one holds nothing.
    std::vector<const Reading*> taken;
    std::vector<size_t> groupOf;
    bool groups = false;
    for (size_t r = 0; r < readings.size(); ++r)
        if (!readings[r].bytes.empty() && 8 * readings[r].bytes.size() <= 8 * length + kSlipBand) {
            taken.push_back(&readings[r]);
            groupOf.push_back(group[r]);
            groups = groups || group[r] != group[0];
        }
    Reading voted;
    voted.bytes.assign(length, 0);
    voted.sureness.assign(8 * length, 0);
    if (taken.empty() || length == 0)
        return voted;
    // A reading out of step can be as sure of its bits as a good one, but agrees with nothing.
    std::vector<Bits> bits;
    std::vector<uint8_t> ref;
    double refScore = -1e18;
    for (size_t r = 0; r < taken.size(); ++r) {
        const Reading& x = *taken[r];
        double sure = 0;
        for (uint8_t s : x.sureness)
            sure += s / 255.0;
        sure = x.sureness.empty() ? 0.5 : sure / static_cast<double>(x.sureness.size());
        double agree = 0;
        int others = 0;
        for (size_t o = 0; o < taken.size(); ++o) {
            if (o == r || (groups && groupOf[o] == groupOf[r]))
                continue;
            size_t same = 0;
            for (size_t i = 0; i < std::min(x.bytes.size(), taken[o]->bytes.size()); ++i)
                same += x.bytes[i] == taken[o]->bytes[i];
            agree += static_cast<double>(same) / static_cast<double>(x.bytes.size());
            ++others;
        }
        const double off = std::fabs(static_cast<double>(x.bytes.size()) - static_cast<double>(length));
        // The block a header announced is saved with the data flag: a reading without it began
        // late, its sync found inside the block, and everything it holds is shifted.
        const bool flagged = expected < 0 || x.bytes[0] == 0xFF;
        const double score = 2 * (others ? agree / others : 0) + sure - off + (flagged ? 4 : 0);
        bits.push_back(BitsOf(x));
        if (score > refScore) {
            refScore = score;
            ref = bits.back().one;
        }
    }
    // Placed once on the reference, then again on the bits voted, which every reading fits better.
    Bits result;
    for (int round = 0; round < 2; ++round) {
        ref.resize(8 * length, 0);
        result = Vote(ref, bits, groupOf);
        ref = result.one;
    }
    result.one.resize(8 * length, 0);
    result.sure.resize(8 * length, 0);
    for (size_t bit = 0; bit < 8 * length; ++bit) {
        if (result.one[bit])
            voted.bytes[bit / 8] = static_cast<uint8_t>(voted.bytes[bit / 8] | 0x80 >> bit % 8);
        voted.sureness[bit] = Sureness(result.sure[bit]);
    }
    return voted;
}

bool RepairByChecksum(Reading& reading, std::vector<RepairedBit>* flipped)
{
    const uint8_t failing = XorChecksum(reading.bytes);
    if (failing == 0 || !WholeBlock(reading.bytes))
        return false;
    Column columns[8];
    for (size_t bit = 0; bit < 8 * reading.bytes.size(); ++bit)
        columns[bit % 8].Take(bit < reading.sureness.size() ? reading.sureness[bit] : 128, bit);
    // Columns in the order read: bit 7 of a byte first. The cheapest mend flips the least sure bit
    // of every failing column; the next cheapest takes the next bit of one failing column instead,
    // or three there, or flips two of a column that holds.
    int flips = 0, rival = 1 << 20;
    for (int c = 0; c < 8; ++c) {
        const Column& column = columns[c];
        if (failing & 0x80 >> c) {
            ++flips;
            if (column.sure[0] > kMostSureFlip)
                return false;
            rival = std::min(rival, column.sure[1] - column.sure[0]);
            rival = std::min(rival, column.sure[1] + column.sure[2]);
        } else {
            rival = std::min(rival, column.sure[0] + column.sure[1]);
        }
    }
    if (flips > kMostFlips || rival < kRepairMargin)
        return false;
    flipped->clear();
    for (int c = 0; c < 8; ++c)
        if (failing & 0x80 >> c) {
            const size_t bit = columns[c].bit[0];
            reading.bytes[bit / 8] = static_cast<uint8_t>(reading.bytes[bit / 8] ^ 0x80 >> c);
            flipped->push_back({static_cast<int>(bit / 8), 7 - c});
        }
    std::sort(flipped->begin(), flipped->end(),
              [](const RepairedBit& a, const RepairedBit& b) { return a.byte != b.byte ? a.byte < b.byte : a.bit > b.bit; });
    return true;
}

Mended MendReadings(const std::vector<Reading>& readings, const std::vector<size_t>& group, size_t length,
                    int expected, bool fits, bool known)
{
    Mended mended;
    if (readings.size() == 1 && readings[0].bytes.size() == length)
        mended.reading = readings[0];
    else
        mended.reading = VoteReadings(readings, group, length, expected);
    // Bits no reading holds are no block's, however well they happen to fit.
    bool reached = false;
    for (const Reading& r : readings)
        reached = reached || r.bytes.size() >= length;
    if (!reached || !WholeBlock(mended.reading.bytes))
        return mended;
    if (XorChecksum(mended.reading.bytes) == 0) {
        if (fits && LengthFits(mended.reading.bytes, expected))
            mended.verdict = kVerdictOk;
        return mended;
    }
    if (known && LengthFits(mended.reading.bytes, expected) && RepairByChecksum(mended.reading, &mended.flipped))
        mended.verdict = kVerdictRepaired;
    return mended;
}
