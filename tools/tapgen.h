// Tape signal generator: the blocks of a TAP file rendered as the raw recording the decoder reads
// (unsigned 8-bit mono samples, 44100 a second, silence 128, no header), at the timings the Spectrum
// ROM saves with. Used by quorvane-tapgen, its test and the decoding benchmark, so that recordings
// can be made in memory as well as on disk.
// Pure computation on memory, no process-wide state; any thread.
// Failures: only TapgenParse fails, on a TAP image whose last block runs past its end; its message
// names the block and its offset. Rendering cannot fail (it only appends to a vector).
#ifndef QUORVANE_TAPGEN_H
#define QUORVANE_TAPGEN_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum {
    kTapgenRate = 44100,       // samples a second
    kTapgenSilence = 128,      // level of the gaps; the decoder counts it on the high side
    kTapgenClock = 3500000,    // T-states a second
    kTapgenPilotT = 2168,      // one pilot half-pulse
    kTapgenPilotHeader = 8063, // pilot half-pulses before a block whose flag byte is below 128
    kTapgenPilotData = 3223,   // ... and before any other block
    kTapgenSync1T = 667,
    kTapgenSync2T = 735,
    kTapgenZeroT = 855,        // each of the two half-pulses of a 0 bit
    kTapgenOneT = 1710,        // each of the two half-pulses of a 1 bit
};

struct TapgenOptions {
    // Tape speed against the nominal one: 1.1 is a tape running 10 % fast, every pulse 1/1.1 as long.
    // The silences stay one second.
    double speed = 1.0;
    // Levels of the two half-waves; high must be at least 128 and low below it, so that they lie on
    // either side of the decoder's default base line (a sample equal to it counts high).
    uint8_t high = 200;
    uint8_t low = 56;
};

typedef std::vector<uint8_t> TapgenBytes;

// Splits a TAP image (each block a 2-byte little-endian length followed by that many bytes) into its
// blocks. False, with a message naming the block (counted from 1) and its offset, when a length field
// or a block runs past the end of the image.
bool TapgenParse(const TapgenBytes& image, std::vector<TapgenBytes>& blocks, std::string& error);

// Appends one second of silence.
void TapgenSilence(TapgenBytes& out);

// Appends the signal of one block: pilot, the two sync halves and the data bits, most significant
// first. It starts with a low half-wave and, the pulse count being odd, ends with one, so the return
// to silence is the closing edge the decoder needs to see the end of the last bit.
void TapgenBlock(const uint8_t* data, size_t size, const TapgenOptions& options, TapgenBytes& out);

// The whole recording of blocks: a second of silence, then every block followed by a second of
// silence.
TapgenBytes TapgenRecording(const std::vector<TapgenBytes>& blocks, const TapgenOptions& options);

#endif
