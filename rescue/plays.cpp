#include "rescue/plays.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <map>

#include "rescue/repair.h"

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

PlayedTape SortPlays(std::vector<Play>& plays)
{
    PlayedTape sorted;
    sorted.use.assign(plays.size(), kPlayWritten);
    // A play of tens of thousands of blocks is noise read as blocks: dropped, so that the rest can
    // be matched.
    for (size_t over = PlayOverMatchLimit(plays); over < plays.size(); over = PlayOverMatchLimit(plays)) {
        sorted.use[over] = kPlayTooMany;
        sorted.leftOut.push_back("'" + plays[over].name + "': " + std::to_string(plays[over].blocks.size()) +
                                 " blocks found in it, too many to match with those of the other plays; left out "
                                 "(is it a recording of noise?)");
        plays[over].blocks.clear();
    }
    sorted.blocks = MatchPlays(plays);

    // The plays linked by blocks they share, each group under one of its plays.
    std::vector<size_t> group(plays.size());
    for (size_t p = 0; p < plays.size(); ++p)
        group[p] = p;
    auto root = [&](size_t p) {
        while (group[p] != p)
            p = group[p];
        return p;
    };
    for (const MatchedBlock& block : sorted.blocks)
        for (size_t p = 0; p < plays.size(); ++p)
            for (size_t q = p + 1; q < plays.size() && block.copies[p] >= 0; ++q)
                if (block.copies[q] >= 0 && Alike(plays[p].blocks[static_cast<size_t>(block.copies[p])],
                                                  plays[q].blocks[static_cast<size_t>(block.copies[q])]) >= kSameContent)
                    group[root(q)] = root(p);
    // The play with the most good blocks, then the most blocks, then the first: combining the plays
    // never gives fewer good blocks than it does alone.
    size_t best = 0;
    int bestGood = -1;
    for (size_t p = 0; p < plays.size(); ++p) {
        int good = 0;
        for (const PlayBlock& b : plays[p].blocks)
            good += !b.bad;
        if (good > bestGood || (good == bestGood && plays[p].blocks.size() > plays[best].blocks.size())) {
            best = p;
            bestGood = good;
        }
    }
    for (size_t p = 0; p < plays.size(); ++p) {
        if (sorted.use[p] != kPlayWritten)
            continue;
        if (plays[p].blocks.empty()) {
            sorted.use[p] = kPlayEmpty;
            sorted.leftOut.push_back("'" + plays[p].name + "': no block found in it; the tape is written from the "
                                     "other plays");
        } else if (root(p) != root(best)) {
            sorted.use[p] = kPlayUnmatched;
            sorted.leftOut.push_back("'" + plays[p].name + "': none of its blocks matches a block of the plays the "
                                     "tape is written from; its blocks are placed by time where they fit");
        }
    }
    return sorted;
}

namespace {

// Where the first copy of block k in the plays `use` picks lies, in seconds from its play's start.
bool Seconds(const std::vector<Play>& plays, const PlayedTape& sorted, size_t k, bool written, double* from,
             double* to)
{
    for (size_t p = 0; p < plays.size(); ++p) {
        const int copy = sorted.blocks[k].copies[p];
        if (copy < 0 || (sorted.use[p] == kPlayWritten) != written)
            continue;
        const PlayBlock& b = plays[p].blocks[static_cast<size_t>(copy)];
        *from = static_cast<double>(b.pilotStart) / plays[p].rate;
        *to = static_cast<double>(b.end) / plays[p].rate;
        return true;
    }
    return false;
}

}  // namespace

bool FitsByTime(const std::vector<Play>& plays, const PlayedTape& sorted, size_t k)
{
    double from, to, before, after;
    if (!Seconds(plays, sorted, k, false, &from, &to))
        return false;
    for (size_t j = k; j-- > 0;)
        if (Seconds(plays, sorted, j, true, &before, &after)) {
            if (after > from)
                return false;
            break;
        }
    for (size_t j = k + 1; j < sorted.blocks.size(); ++j)
        if (Seconds(plays, sorted, j, true, &before, &after))
            return to <= before;
    return true;
}

ChosenBlock ChooseCopy(const std::vector<Play>& plays, const MatchedBlock& block, int expected)
{
    std::vector<size_t> with;  // the plays that have a copy
    for (size_t p = 0; p < plays.size(); ++p)
        if (block.copies[p] >= 0)
            with.push_back(p);
    auto copy = [&](size_t p) -> const PlayBlock& { return plays[p].blocks[static_cast<size_t>(block.copies[p])]; };
    // Good copies that differ cannot all be right. A copy of another length than the announced one
    // is not good at all, whatever its checksum says. Of the rest the longest (a reading that ended
    // early where its bytes happened to XOR to 0 is the likelier fault: the signal went on as data
    // where the longer reading read it), then the one most plays read alike, then the one the other
    // copies agree with most; of equals, the first. A copy its play repaired comes after any read
    // whole.
    size_t chosen = plays.size();
    double chosenScore = -1;
    for (size_t p : with) {
        const PlayBlock& b = copy(p);
        if (b.bad || !LengthFits(b.bytes, expected))
            continue;
        double score = b.repaired.empty() ? 1000 : 0;
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
    if (chosen < plays.size() && copy(chosen).repaired.empty())
        return {copy(chosen).bytes, kVerdictOk, static_cast<int>(chosen), {}};

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
    const bool header = length == 19 && copy(with.front()).bytes[0] == 0x00;
    const bool lengthFits = expected >= 0 || votes.read >= 2 || header;

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
    const ChosenBlock kept{copy(likeliest).bytes, kVerdictError, static_cast<int>(likeliest), {}};
    if (with.size() < 2 || length < 2)
        return chosen < plays.size() ? ChosenBlock{copy(chosen).bytes, kVerdictRepaired, static_cast<int>(chosen),
                                                   copy(chosen).repaired}
                                     : kept;

    // Every reading of every play voted, each play with one vote; a block a header announced (or a
    // header) that the vote leaves failing is repaired by the checksum, if clearly enough; else a
    // copy its play repaired; else the likeliest copy, as bad.
    std::vector<Reading> taken;
    std::vector<size_t> playOf;
    for (size_t p : with) {
        const PlayBlock& b = copy(p);
        for (const Reading& r : b.readings.empty() ? std::vector<Reading>{{b.bytes, {}}} : b.readings) {
            taken.push_back(r);
            playOf.push_back(p);
        }
    }
    const Mended mended = MendReadings(taken, playOf, length, expected, lengthFits, expected >= 0 || header);
    if (mended.verdict == kVerdictOk || mended.verdict == kVerdictRepaired)
        return {mended.reading.bytes, mended.verdict, kRebuilt, mended.flipped};
    if (chosen < plays.size())
        return {copy(chosen).bytes, kVerdictRepaired, static_cast<int>(chosen), copy(chosen).repaired};
    return kept;
}
