#include "rescue/plays.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// A pair whose blocks score this much share content: half their bytes at least.
const double kSameContent = 20;

uint8_t Checksum(const std::vector<uint8_t>& bytes)
{
    uint8_t x = 0;
    for (uint8_t b : bytes)
        x ^= b;
    return x;
}

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
    std::vector<double> total((rows + 1) * (columns + 1), 0.0), pair(rows * columns, 0.0);
    auto at = [&](size_t i, size_t j) -> double& { return total[i * (columns + 1) + j]; };
    for (size_t i = 1; i <= rows; ++i)
        for (size_t j = 1; j <= columns; ++j) {
            const double s = pair[(i - 1) * columns + j - 1] = score(i - 1, j - 1);
            double best = std::max(at(i - 1, j), at(i, j - 1));
            if (s > 0)
                best = std::max(best, at(i - 1, j - 1) + s);
            at(i, j) = best;
        }
    std::vector<int> partner(columns, -1);
    for (size_t i = rows, j = columns; i > 0 && j > 0;) {
        const double s = pair[(i - 1) * columns + j - 1];
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

bool WholeBlock(const std::vector<uint8_t>& bytes)
{
    return bytes.size() >= 2 && (bytes[0] != 0x00 || bytes.size() == 19);
}

int AnnouncedLength(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() != 19 || bytes[0] != 0x00 || Checksum(bytes) != 0)
        return -1;
    return (bytes[12] | bytes[13] << 8) + 2;
}

std::vector<TapeBlock> MatchPlays(const std::vector<Play>& plays)
{
    std::vector<Slot> slots;
    for (size_t p = 0; p < plays.size(); ++p)
        Align(plays, p, slots);
    std::vector<TapeBlock> tape(slots.size());
    for (size_t i = 0; i < slots.size(); ++i)
        tape[i].copies = slots[i].copies;
    return tape;
}

bool PlayMatches(const std::vector<Play>& plays, const std::vector<TapeBlock>& tape, size_t play)
{
    for (const TapeBlock& block : tape) {
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

ChosenBlock ChooseCopy(const std::vector<Play>& plays, const TapeBlock& block, int expected)
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

    // The length: the announced one, else the one most plays kept (the longer of two as common).
    std::map<size_t, int> lengths;
    for (size_t p : with)
        ++lengths[copy(p).bytes.size()];
    size_t length = 0;
    int votes = 0;
    for (const auto& l : lengths)
        if (l.second >= votes) {
            length = l.first;
            votes = l.second;
        }
    if (expected >= 0)
        length = static_cast<size_t>(expected);
    const bool lengthFits = expected >= 0 || votes >= 2 || (length == 19 && copy(with.front()).bytes[0] == 0x00);

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

    // Each bit by the weighted vote of the plays, each play's readings averaged so that a play read
    // many times weighs no more than one read once.
    std::vector<std::vector<PlayReading>> readings;
    for (size_t p : with) {
        const PlayBlock& b = copy(p);
        readings.push_back(b.readings.empty() ? std::vector<PlayReading>{PlayReading{b.bytes, {}}} : b.readings);
    }
    std::vector<uint8_t> bytes(length, 0);
    for (size_t bit = 0; bit < 8 * length; ++bit) {
        double total = 0;
        for (const std::vector<PlayReading>& play : readings) {
            double sum = 0;
            int count = 0;
            for (const PlayReading& r : play) {
                if (bit >= 8 * r.bytes.size())
                    continue;
                const bool one = r.bytes[bit / 8] >> (7 - bit % 8) & 1;
                const double sure = (bit < r.sureness.size() ? r.sureness[bit] / 255.0 : 0.5) + 0.02;
                sum += one ? sure : -sure;
                ++count;
            }
            if (count)
                total += sum / count;
        }
        if (total > 0)
            bytes[bit / 8] = static_cast<uint8_t>(bytes[bit / 8] | 0x80 >> bit % 8);
    }
    if (lengthFits && Checksum(bytes) == 0 && WholeBlock(bytes))
        return {bytes, false, kRebuilt};
    return kept;
}
