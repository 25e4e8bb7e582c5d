// Block decoder: pilot search, two-part sync, data bits to bytes, XOR checksum verdict. Every
// completed byte goes straight to the TAP output. Decoder thread only.
// Fails only by leaving with DecoderStopped (end of the raw file, stop request) from ReadHalfPeriod.
#ifndef QUORVANE_BLOCK_H
#define QUORVANE_BLOCK_H

#include <cstdint>

// Bytes written for the current block; set to 0 when the data phase starts.
extern int32_t BlockSize;

// Waits for the next block and decodes it. 0 when its bytes XOR to 0, 1 otherwise. With no signal it
// waits for ever (in file mode, until the file ends).
int32_t DecodeBlock();

#endif
