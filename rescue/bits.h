// The rescue decoder's bit reader: a stretch of half-waves (pilot tail, sync, data) into the block's
// bytes. The sync is the first pair of half-waves whose full period is a sync's and after which the
// signal is data; the bit windows are scaled to the pilot's period and follow the tape's speed as it
// wanders; half-waves are corrected for the skew the pilot showed. A pair that fits no bit class is
// read through when data follows it, and ends the block when none does; a time-out (a half-wave far
// longer than a bit's) always ends the block and is never summed into a bit.
// Pure computation, any thread; nothing fails (a stretch without a sync gives no bytes).
#ifndef QUORVANE_RESCUE_BITS_H
#define QUORVANE_RESCUE_BITS_H

#include <cstdint>
#include <vector>

#include "rescue/finder.h"

struct DecodedBlock {
    std::vector<uint8_t> bytes;
    bool synced;      // a sync with data after it was found
    double syncAt;    // sample where the sync began
    double endAt;     // sample where the last bit read ended
    int endBit;       // bits read of the byte that was not finished
    uint8_t checksum; // XOR of the bytes: 0 for a sound block
    // The end was moved to where the bytes XOR to 0: the checksum then vouches for the length no
    // more, and only a length known otherwise (a header's) can.
    bool endByChecksum;
    // How sure the reading of each bit was, in the order read (bit 7 of the first byte first):
    // 255 a bit that could be nothing else, 0 one that could as well be the other.
    std::vector<uint8_t> sureness;
};

void DecodeStretch(const Stretch& stretch, DecodedBlock& out);

// The same block read by area instead of by crossings, for signals whose crossings come and go
// inside a half-wave (a lossy codec's ripple, hiss on a weak signal, clicks): from the sync on the
// filtered signal is cut into bit windows of about one or two 0 periods, each window scored by the
// area of its first half less that of its second, and of all the ways of cutting it the one with
// the best total is read (a search along the data, as a modem finds the likeliest sequence).
// `trace` holds the filtered samples of frames first, first + 1, ... at `rate`.
void DecodeBySequence(const Stretch& stretch, const std::vector<float>& trace, int64_t first, double rate,
                      DecodedBlock& out);

#endif
