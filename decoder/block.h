// Block decoder: pilot search, two-part sync, data bits to bytes, XOR checksum verdict. Every
// completed byte goes straight to the TAP output. Decoder thread only.
// Fails only by leaving with DecoderStopped (end of the raw file, stop request) from ReadHalfPeriod.
#ifndef QUORVANE_BLOCK_H
#define QUORVANE_BLOCK_H

#include <cstdint>

// Bytes written for the current block; set to 0 when the data phase starts.
extern int32_t BlockSize;

// What the decoder measured of the block it is reading or has just read, for front ends that
// report blocks. Offsets are samples taken from the file (file mode only). CurrentBlock is written
// by the decoder thread as the block goes and handed to the block observer (decoder/blockfile.h)
// when the block ends; the run's owner reads it once the run has ended (a block cut short by the
// end of the recording). Nothing here changes what is logged or written.
struct BlockFacts {
    int64_t pilotStart;        // first sample of the pilot tone that led into the block
    int32_t pilotHalfPeriods;  // pilot half-periods from there to the sync pulse
    int64_t pilotSamples;      // their summed length
    bool dataBegun;            // the sync pulse was read and data bits began
    int64_t end;               // offset at the pair of half-periods that ended the block
    int32_t verdict;           // DecodeBlock's result; -1 while the block is unfinished
};

extern BlockFacts CurrentBlock;

// Waits for the next block and decodes it. 0 when its bytes XOR to 0, 1 otherwise. With no signal it
// waits for ever (in file mode, until the file ends).
int32_t DecodeBlock();

#endif
