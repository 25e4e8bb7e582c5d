// A block's readings made into one: the attempts of one play at a block, or the readings of several
// plays. First the vote: each reading's bits placed against a reference (an alignment, so that a
// bit one reading slipped in or out early does not spoil all after it) and each bit taken by the
// readings' vote, weighted by how sure each was of it. Then, when the voted bits' XOR checksum still
// fails at a length known otherwise than by the checksum, the repair: the XOR tells, for each of the
// 8 bit positions, whether an odd number of that column's bits is wrong, and the least sure bit of
// each failing column is flipped when that is clearly the likeliest way to make the checksum hold.
// Pure computation on the caller's readings, any thread; nothing fails (readings that make no block
// leave it as it was, an error).
#ifndef QUORVANE_RESCUE_REPAIR_H
#define QUORVANE_RESCUE_REPAIR_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tape/tape.h"

// A repair flips at most this many bits (one in each failing column), each of them no surer than
// kMostSureFlip, and only when every other way of making the checksum hold costs kRepairMargin
// more sureness, summed over the bits it would flip.
const int kMostFlips = 2;
const int kMostSureFlip = 100;
const int kRepairMargin = 100;

// True when a block of these bytes has a length that fits: a header's 19 bytes with flag 0, else
// the length `expected` a header announced (flag and checksum included), or any with none (-1).
// A flag-0 block of another length than 19 never fits.
bool LengthFits(const std::vector<uint8_t>& bytes, int expected);

// The bits of `readings` by their vote, at `length` bytes; group[k] names the play reading k comes
// from. Each play has one vote at a bit however many of its readings hold it: the readings of one
// play share its signal and so its faults. The reference is the reading of the length nearest
// `length` that agrees most with the others (those of other plays when there are several), then
// the surest; a reading of a block a header announced (`expected` >= 0) without the data flag began
// late and is the reference only when none has it. The result's sureness at a bit is the weighted
// vote's margin there: 255 every reading sure and agreed, 0 a tie.
Reading VoteReadings(const std::vector<Reading>& readings, const std::vector<size_t>& group, size_t length,
                     int expected);

// Makes the XOR of `reading` 0 by flipping the least sure bit of each failing column, when it is
// clearly the likeliest way (see the constants above); the bits flipped into *flipped, in the
// order of the bytes. False, with `reading` left as it was, when the checksum holds already or no
// repair is clear enough.
bool RepairByChecksum(Reading& reading, std::vector<RepairedBit>* flipped);

// What the readings of one block make.
struct Mended {
    Reading reading;
    TapeVerdict verdict = kVerdictError;  // ok: the vote's XOR holds; repaired; error: neither
    std::vector<RepairedBit> flipped;
};

// The readings voted at `length` bytes (two readings or more; one is taken as it is; one of them
// at least must hold that many, or the result is an error), kept as ok
// when the XOR of the result holds and `fits` (the length is the block's: announced, a header's,
// or where its signal ended); else, when `known` (the length was vouched for otherwise than by
// where one play's readings ended: announced, a header's, or several plays' readings agreeing on
// it), repaired by the checksum if that is clear enough; else an error, the voted bits kept.
Mended MendReadings(const std::vector<Reading>& readings, const std::vector<size_t>& group, size_t length,
                    int expected, bool fits, bool known);

#endif
