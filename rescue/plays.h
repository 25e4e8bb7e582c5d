// Several plays of one tape: the blocks each play gave, matched across the plays, and for each block
// of the tape the copy to keep or, when every copy is bad, one rebuilt from them all.
// Blocks are matched by order and content: the plays are taken one at a time against the blocks
// found so far, and of all the chains of pairs in tape order the one whose pairs are most alike is
// kept (an alignment, as of two sequences with gaps). Two good blocks pair only when they are the
// same bytes; a bad one pairs with a block of its flag by the bytes they share, or, when a slipped
// bit spoilt those, by its length and its place alone. A block a play lacks is a gap that costs
// nothing, so plays that start or end at other points of the tape, or miss blocks, still line up.
// A play that shares no block with the others (nothing found in it, a play of another tape, one whose
// every block hum spoilt) never stops the rest: it is left out and named (SortPlays), and its blocks
// are placed by time where they fit.
// Pure computation on the caller's records, any thread; nothing fails.
#ifndef QUORVANE_RESCUE_PLAYS_H
#define QUORVANE_RESCUE_PLAYS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tape/tape.h"

// A block as one play gave it. Positions are frames of that play.
struct PlayBlock {
    std::vector<uint8_t> bytes;  // the reading a run over this play alone keeps
    bool bad;                    // the verdict that run gives it
    int64_t pilotStart;
    int32_t pilotHalfPeriods;
    int64_t syncAt;
    int64_t end;
    std::vector<Reading> readings;  // the readings of a block not read whole, the kept one first
    std::vector<RepairedBit> repaired;  // not bad only by the bits its play's repair flipped
};

struct Play {
    std::string name;
    double rate;
    int64_t frames;  // read from the recording
    std::vector<PlayBlock> blocks;
};

// One block of the tape: its copy in each play, an index into that play's blocks or -1.
struct MatchedBlock {
    std::vector<int> copies;
};

// The most cells (8 bytes each) of the table that matches a play with the blocks found before it:
// a play's blocks plus one times those of the plays before it plus one. Plays of real tapes need
// a few thousand; a long play of noise, read as tens of thousands of blocks, would need gigabytes.
const size_t kMostPairs = size_t{16} << 20;

// The first play (from 0) that would overflow kMostPairs, plays.size() when none does.
size_t PlayOverMatchLimit(const std::vector<Play>& plays);

// The blocks of the tape in tape order; the plays must be within kMostPairs.
std::vector<MatchedBlock> MatchPlays(const std::vector<Play>& plays);

// What a play is to the tape written from several.
enum PlayUse {
    kPlayWritten,    // the tape is written from it
    kPlayEmpty,      // no block was found in it
    kPlayUnmatched,  // none of its blocks matches a block of the plays the tape is written from
    kPlayTooMany,    // too many blocks to match with the others' (noise read as blocks): dropped
};

struct PlayedTape {
    std::vector<MatchedBlock> blocks;  // in tape order
    std::vector<PlayUse> use;          // of each play
    std::vector<std::string> leftOut;  // a line naming each play left out, and why
};

// The plays matched and sorted out. A play over the match limit has its blocks dropped (the first
// such in play order, until the rest are within it). The tape is written from the plays linked by
// blocks they share (two copies with half their bytes alike) that hold the play with the most good
// blocks (then the most blocks, then the first), which combining so never gives fewer good blocks
// than that play alone; every other play is left out.
PlayedTape SortPlays(std::vector<Play>& plays);

// Whether block k of the tape, found only in plays left out, lies by time (each play's seconds from
// its start, the plays taken as started together) between the blocks of the written plays around
// it, overlapping neither.
bool FitsByTime(const std::vector<Play>& plays, const PlayedTape& sorted, size_t k);

enum { kRebuilt = -1 };

struct ChosenBlock {
    std::vector<uint8_t> bytes;
    TapeVerdict verdict;             // ok, repaired or error
    int from;                        // the play whose copy it is, or kRebuilt
    std::vector<RepairedBit> repaired;  // the bits a repair flipped
};

// What the block's file gets: a copy whose checksum holds at a length that fits (`expected`, the
// previous block's announcement, or -1 none; a header's 19 bytes), the longest of several; else,
// with copies in two plays or more, the bits voted from all their readings, each weighted by how
// sure it was (rescue/repair.h), kept as good when the checksum then holds and the length is the
// announced one or one that readings of two plays or more agree on, and of a block a header
// announced (or a header) repaired by the checksum when that is clear enough; else a copy its own
// play repaired; else the likeliest copy, as bad.
ChosenBlock ChooseCopy(const std::vector<Play>& plays, const MatchedBlock& block, int expected);

#endif
