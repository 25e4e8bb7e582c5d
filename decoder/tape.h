// The decoder thread's body and the TAP output: one numbered file out%03i.tap per block in the
// current directory, its length patched in when the block ends, empty blocks deleted, the catalogue
// refreshed and a header block reported.
// DecoderThread runs on the decoder thread; the TAP output is closed by the run's owner only after
// that thread has ended.
// Failures: a file that cannot be created ends the thread (exit code 0) after "Can't create file.
// Exit task"; a failed write is logged when the block ends and the run goes on.
#ifndef QUORVANE_TAPE_H
#define QUORVANE_TAPE_H

#include <cstdint>

// Number of the next file to write. Written by the scanning thread only.
extern int32_t NextTapeNumber;

// The highest number the catalogue counts; past it a block would overwrite the one before, so the
// decoder stops there instead.
const int32_t kHighestTapeNumber = 999999999;

// Decodes blocks until stopped; returns the exit code: 0 a TAP file could not be created, -1 the raw
// file ended, -2 stopped.
int DecoderThread();

// TAP output operations.
bool OpenTapOutput(const char* name);
void WriteTapByte(uint8_t byte);
void CloseTapOutput();
bool TapOutputOpen();

// "out%03i.tap" for number.
void TapeFileName(char* out, int size, int32_t number);

#endif
