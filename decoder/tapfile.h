// The TAP output: one numbered file out%03i.tap per block in the current directory, its two-byte
// length written last, and the reading of a block file's header, for the header report and the
// catalogue alike.
// The output is written by the decoder thread and closed by the run's owner only after that thread
// has ended; the header is read by whichever thread describes a file.
// Failures: a file that cannot be created is reported by OpenTapOutput; a failed write by
// FinishTapOutput. Reading a header never fails: a short or unreadable file is simply no header.
#ifndef QUORVANE_TAPFILE_H
#define QUORVANE_TAPFILE_H

#include <cstdint>

#include "tape/tape.h"

// Number of the next file to write. Written by the scanning thread only.
extern int32_t NextTapeNumber;

// The highest number the catalogue counts; past it a block would overwrite the one before, so the
// decoder stops there instead.
const int32_t kHighestTapeNumber = 999999999;

// "out%03i.tap" for number.
void TapeFileName(char* out, int size, int32_t number);

// TAP output operations.
bool OpenTapOutput(const char* name);
void WriteTapByte(uint8_t byte);
void CloseTapOutput();
bool TapOutputOpen();

// Writes the low 16 bits of blockSize into the length field, closes the file and returns its length
// in bytes; *failed tells whether any write to it failed (a full disk, a failing medium).
long FinishTapOutput(int32_t blockSize, bool* failed);

// A block file read as a header: a file of exactly 21 bytes (length field and 19-byte block) whose
// flag byte is 0, its fields as the tape's headers have them.
using TapHeader = HeaderFields;

// The first `got` bytes of a file of `length` bytes; true when they make a header. A word the read
// did not reach whole (a file cut while it was read) is 0.
bool ReadTapHeader(const uint8_t* bytes, long got, long length, TapHeader* header);

#endif
