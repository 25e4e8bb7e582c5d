#include "rescue/plays.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <map>

namespace {

// A pair whose blocks score this much share content: half their bytes at least.
const double kSameContent = 20;

// Byte agreement of two copies over the shorter, and the shorter's share of the longer.
void Compare(const PlayBlock& a, const PlayBlock& b, double* agree, double* fit)
{
    const size_t n = std::min(a.bytes.size(), b.bytes.size()), m = std::max(a.bytes.size(), b.bytes.size());
    size_t same = 0;
    for (size_t i = 0; i < n; ++i)
        same += a.bytes[i] == b.bytes[i];
    *agree = n ? static_cast<double>(same) / static_cast<double>(n) : 0;
    *fit = m ? static_cast<double>(n) / static_cast<double>(m) : 0;
}

// How alike two copies are by their bytes: 0 when those cannot be one block of the tape.
double Alike(const PlayBlock& a, const PlayBlock& b)
{
    if (a.bytes.empty() || b.bytes.empty() || a.bytes[0] != b.bytes[0])
        return 0;
    if (!a.bad && !b.bad)
        return a.bytes == b.bytes ? 100 : 0;
    double agree, fit;
    Compare(a, b, &agree, &fit);
    if (agree >= 0.5)
        return 2 * kSameContent * agree + 10 * fit;
    // A bit slipped early leaves the bytes after it shifted: the length and the place still tell.
    if (fit >= 0.9 && a.bytes.size() >= 2 && b.bytes.size() >= 2)
        return 5 * fit;
    return 0;
}

// A block of the tape as matched so far, with where its sync lies on the first play's clock.
struct Slot {
    std::vector<int> copies;
    double at;
};

// Where each block of a play lies on the first play's clock, by the pair nearest before it (after
// it, when there is none), and how far off a copy of it may lie there: the decks' speeds differ by
// a few per cent, so the farther from that pair, the more.
struct Clock {
    bool known = false;
    double offset = 0;
    double tolerance = 0;
};

std::vector<Clock> Clocks(const std::vector<Slot>& slots, const std::vector<PlayBlock>& blocks,
                          const std::vector<int>& partner, double rate)
{
    std::vector<Clock> clocks(blocks.size());
    for (size_t j = 0; j < blocks.size(); ++j) {
        int anchor = -1;
        for (size_t k = j + 1; k-- > 0 && anchor < 0;)
            if (partner[k] >= 0)
                anchor = static_cast<int>(k);
        for (size_t k = j + 1; k < blocks.size() && anchor < 0; ++k)
            if (partner[k] >= 0)
                anchor = static_cast<int>(k);
        if (anchor < 0)
            continue;
        const PlayBlock& a = blocks[static_cast<size_t>(anchor)];
        clocks[j].known = true;
        clocks[j].offset = slots[static_cast<size_t>(partner[static_cast<size_t>(anchor)])].at - static_cast<double>(a.syncAt);
        clocks[j].tolerance = 0.25 * rate + 0.02 * std::fabs(static_cast<double>(blocks[j].syncAt - a.syncAt));
    }
    return clocks;
}

// The best chain of pairs in order between the slots and the play's blocks, each pair scored by
// `score`; partner[j] is the slot block j pairs with, or -1.
template <typename Score>
std::vector<int> Chain(size_t rows, size_t columns, Score score)
{
    // Scores are recomputed on the way back rather than held: the table alone is what bounds the
    // plays' sizes (kMostPairs).
    std::vector<double> total((rows + 1) * (columns + 1), 0.0);
    auto at = [&](size_t i, size_t j) -> double& { return total[i * (columns + 1) + j]; };
    for (size_t i = 1; i <= rows; ++i)
        for (size_t j = 1; j <= columns; ++j) {
            const double s = score(i - 1, j - 1);
            double best = std::max(at(i - 1, j), at(i, j - 1));
            if (s > 0)
                best = std::max(best, at(i - 1, j - 1) + s);
            at(i, j) = best;
        }
    std::vector<int> partner(columns, -1);
    for (size_t i = rows, j = columns; i > 0 && j > 0;) {
        const double s = score(i - 1, j - 1);
        if (s > 0 && at(i, j) == at(i - 1, j - 1) + s) {
            partner[j - 1] = static_cast<int>(i - 1);
            --i, --j;
        } else if (at(i, j) == at(i - 1, j)) {
            --i;
        } else {
            --j;
        }
    }
    return partner;
}

// Play `p` aligned with the slots: first by content alone, which gives the plays' clocks against
// each other; then again with a copy whose sync lies where the clocks put it counted as alike.
void Align(const std::vector<Play>& plays, size_t p, std::vector<Slot>& slots)
{
    const std::vector<PlayBlock>& blocks = plays[p].blocks;
    const size_t columns = blocks.size();
    auto content = [&](size_t i, size_t j) {
        double best = 0;
        for (size_t q = 0; q < p; ++q)
            if (slots[i].copies[q] >= 0)
                best = std::max(best, Alike(plays[q].blocks[static_cast<size_t>(slots[i].copies[q])], blocks[j]));
        return best;
    };
    std::vector<int> partner = Chain(slots.size(), columns, content);
    const std::vector<Clock> clocks = Clocks(slots, blocks, partner, plays[p].rate);
    partner = Chain(slots.size(), columns, [&](size_t i, size_t j) {
        double s = content(i, j);
        const Clock& c = clocks[j];
        // Two blocks cannot lie at one place of the tape: a copy there is this block, however
        // little of it a slipped bit, a break or a fooled checksum left alike.
        if (c.known && std::fabs(slots[i].at - (static_cast<double>(blocks[j].syncAt) + c.offset)) < c.tolerance)
            s += 15;
        return s;
    });
    for (size_t j = 0; j < columns; ++j)
        if (partner[j] >= 0)
            slots[static_cast<size_t>(partner[j])].copies[p] = static_cast<int>(j);
    // A block no slot took gets its own, between the slots of the pairs around it, by time.
    const std::vector<Clock> placed = Clocks(slots, blocks, partner, plays[p].rate);
    for (size_t j = 0; j < columns; ++j) {
        if (partner[j] >= 0)
            continue;
        Slot slot;
        slot.copies.assign(plays.size(), -1);
        slot.copies[p] = static_cast<int>(j);
        slot.at = static_cast<double>(blocks[j].syncAt) + placed[j].offset;
        size_t low = 0, high = slots.size();
        for (size_t k = j; k-- > 0;)
            if (partner[k] >= 0) {
                low = static_cast<size_t>(partner[k]) + 1;
                break;
            }
        for (size_t k = j + 1; k < columns; ++k)
            if (partner[k] >= 0) {
                high = static_cast<size_t>(partner[k]);
                break;
            }
        size_t place = low;
        while (place < high && slots[place].at <= slot.at)
            ++place;
        slots.insert(slots.begin() + static_cast<std::ptrdiff_t>(place), slot);
        for (int& q : partner)
            if (q >= static_cast<int>(place))
                ++q;
    }
}

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
// out of step) and has no vote.
std::vector<uint8_t> Vote(const std::vector<uint8_t>& ref, const std::vector<Bits>& readings, const std::vector<size_t>& play)
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
    std::vector<uint8_t> bits;
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
        if (2 * extras > spanning)
            bits.push_back(extra > 0);
        if (spanning == 0 || 2 * present >= spanning)
            bits.push_back(spanning == 0 ? ref[i] : value > 0 || (value == 0 && ref[i]));
    }
    return bits;
}

}  // namespace

size_t PlayOverMatchLimit(const std::vector<Play>& plays)
{
    size_t before = 0;
    for (size_t p = 0; p < plays.size(); ++p) {
        const size_t blocks = plays[p].blocks.size();
        if (blocks && (before + 1) * (blocks + 1) > kMostPairs)
            return p;
        before += blocks;
    }
    return plays.size();
}

std::vector<MatchedBlock> MatchPlays(const std::vector<Play>& plays)
{
    assert(PlayOverMatchLimit(plays) == plays.size());
    std::vector<Slot> slots;
    for (size_t p = 0; p < plays.size(); ++p)
        Align(plays, p, slots);
    std::vector<MatchedBlock> tape(slots.size());
    for (size_t i = 0; i < slots.size(); ++i)
        tape[i].copies = slots[i].copies;
    return tape;
}

bool PlayMatches(const std::vector<Play>& plays, const std::vector<MatchedBlock>& tape, size_t play)
{
    for (const MatchedBlock& block : tape) {
        if (block.copies[play] < 0)
            continue;
        const PlayBlock& mine = plays[play].blocks[static_cast<size_t>(block.copies[play])];
        for (size_t p = 0; p < plays.size(); ++p)
            if (p != play && block.copies[p] >= 0 &&
                Alike(mine, plays[p].blocks[static_cast<size_t>(block.copies[p])]) >= kSameContent)
                return true;
    }
    return false;
}

ChosenBlock ChooseCopy(const std::vector<Play>& plays, const MatchedBlock& block, int expected)
{
    std::vector<size_t> with;  // the plays that have a copy
    for (size_t p = 0; p < plays.size(); ++p)
        if (block.copies[p] >= 0)
            with.push_back(p);
    auto copy = [&](size_t p) -> const PlayBlock& { return plays[p].blocks[static_cast<size_t>(block.copies[p])]; };
    // Good copies that differ cannot all be right: the one with the announced length, then the
    // longest (a reading that ended early where its bytes happened to XOR to 0 is the likelier
    // fault: the signal went on as data where the longer reading read it), then the one most
    // plays read alike, then the one the other copies agree with most; of equals, the first.
    size_t chosen = plays.size();
    double chosenScore = -1;
    for (size_t p : with) {
        const PlayBlock& b = copy(p);
        if (b.bad)
            continue;
        double score = expected < 0 || static_cast<int>(b.bytes.size()) == expected ? 1000 : 0;
        for (size_t q : with) {
            if (q == p)
                continue;
            const PlayBlock& other = copy(q);
            if (!other.bad && other.bytes == b.bytes) {
                score += 10;
            } else if (!other.bad && other.bytes.size() < b.bytes.size()) {
                score += 100;
            } else {
                double agree, fit;
                Compare(b, other, &agree, &fit);
                score += agree * fit;
            }
        }
        if (score > chosenScore) {
            chosenScore = score;
            chosen = p;
        }
    }
    if (chosen < plays.size())
        return {copy(chosen).bytes, false, static_cast<int>(chosen)};

    // The length: the announced one, else the one most plays read whole (a reading whose bytes XOR
    // to 0), else the one most plays read in any of their readings. A play often keeps a reading
    // that broke off early while another of its readings (by area) went the whole way; breaks fall
    // anywhere, the whole length is the same in every play. Of lengths as common, the one most
    // plays kept, then the longer.
    struct Votes {
        int whole = 0, read = 0, kept = 0;
        bool operator<(const Votes& o) const
        {
            return whole != o.whole ? whole < o.whole : read != o.read ? read < o.read : kept < o.kept;
        }
    };
    std::map<size_t, Votes> lengths;
    for (size_t p : with) {
        const PlayBlock& b = copy(p);
        std::map<size_t, bool> read = {{b.bytes.size(), XorChecksum(b.bytes) == 0}};
        for (const Reading& r : b.readings)
            read[r.bytes.size()] = read[r.bytes.size()] || XorChecksum(r.bytes) == 0;
        for (const auto& l : read) {
            ++lengths[l.first].read;
            lengths[l.first].whole += l.second;
        }
        ++lengths[b.bytes.size()].kept;
    }
    size_t length = 0;
    Votes votes;
    for (const auto& l : lengths)
        if (!(l.second < votes)) {
            length = l.first;
            votes = l.second;
        }
    if (expected >= 0)
        length = static_cast<size_t>(expected);
    const bool lengthFits = expected >= 0 || votes.read >= 2 || (length == 19 && copy(with.front()).bytes[0] == 0x00);

    // The likeliest copy: of the right length if one is, and of those the surest.
    size_t likeliest = with.front();
    double likeliestSure = -1;
    for (size_t p : with) {
        const PlayBlock& b = copy(p);
        double sure = 0;
        if (!b.readings.empty() && !b.readings[0].sureness.empty()) {
            for (uint8_t s : b.readings[0].sureness)
                sure += s;
            sure /= static_cast<double>(b.readings[0].sureness.size()) * 255;
        }
        if (b.bytes.size() == length)
            sure += 1;
        if (sure > likeliestSure) {
            likeliestSure = sure;
            likeliest = p;
        }
    }
    ChosenBlock kept{copy(likeliest).bytes, true, static_cast<int>(likeliest)};
    if (with.size() < 2 || length < 2)
        return kept;

    // Every reading of every play, its bits placed on a reference's so that a bit slipped early does
    // not spoil all after it, and each bit taken by the plays' vote weighted by how sure each reading
    // was; then once more on the voted bits. The reference is the reading of the length nearest the
    // block's that agrees most with the other plays' readings, then the surest: a reading out of
    // step can be as sure of its bits as a good one, but agrees with nothing.
    std::vector<Reading> taken;
    std::vector<size_t> playOf;
    for (size_t p : with) {
        const PlayBlock& b = copy(p);
        for (const Reading& r : b.readings.empty() ? std::vector<Reading>{{b.bytes, {}}} : b.readings)
            if (!r.bytes.empty() && 8 * r.bytes.size() <= 8 * length + kSlipBand) {
                taken.push_back(r);
                playOf.push_back(p);
            }
    }
    if (taken.empty())
        return kept;
    std::vector<Bits> readings;
    std::vector<uint8_t> ref;
    double refScore = -1e18;
    for (size_t r = 0; r < taken.size(); ++r) {
        double sure = 0;
        for (uint8_t x : taken[r].sureness)
            sure += x / 255.0;
        sure = taken[r].sureness.empty() ? 0.5 : sure / static_cast<double>(taken[r].sureness.size());
        double agree = 0;
        int others = 0;
        for (size_t o = 0; o < taken.size(); ++o) {
            if (playOf[o] == playOf[r])
                continue;
            size_t same = 0;
            for (size_t i = 0; i < std::min(taken[r].bytes.size(), taken[o].bytes.size()); ++i)
                same += taken[r].bytes[i] == taken[o].bytes[i];
            agree += static_cast<double>(same) / static_cast<double>(taken[r].bytes.size());
            ++others;
        }
        const double off = std::fabs(static_cast<double>(taken[r].bytes.size()) - static_cast<double>(length));
        // The block a header announced is saved with the data flag: a reading without it began
        // late, its sync found inside the block, and everything it holds is shifted.
        const bool flagged = expected < 0 || taken[r].bytes[0] == 0xFF;
        const double score = 2 * (others ? agree / others : 0) + sure - off + (flagged ? 4 : 0);
        readings.push_back(BitsOf(taken[r]));
        if (score > refScore) {
            refScore = score;
            ref = readings.back().one;
        }
    }
    for (int round = 0; round < 2; ++round) {
        ref.resize(8 * length, 0);
        ref = Vote(ref, readings, playOf);
    }
    ref.resize(8 * length, 0);
    std::vector<uint8_t> bytes(length, 0);
    for (size_t bit = 0; bit < 8 * length; ++bit)
        if (ref[bit])
            bytes[bit / 8] = static_cast<uint8_t>(bytes[bit / 8] | 0x80 >> bit % 8);
    if (lengthFits && XorChecksum(bytes) == 0 && WholeBlock(bytes))
        return {bytes, false, kRebuilt};
    return kept;
}
