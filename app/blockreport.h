// The console decoder's record of a default run's blocks: each block the decoder finishes (through
// the block observer of decoder/blockfile.h) becomes a data item of the run's tape (tape/tape.h),
// its bytes as its file holds them, so that the report and the joined TAP (tape/report.h,
// tape/join.h) are written from the same list as a rescue run's.
// Runs on the console decoder's one thread: the block observer is called by the decoder there.
// Failures: none; a file that cannot be read back gives an item without bytes.
#ifndef QUORVANE_BLOCKREPORT_H
#define QUORVANE_BLOCKREPORT_H

#include <cstdint>

#include "tape/tape.h"

// Has the decoder add every block it finishes to `tape` from now on.
void RecordBlocks(Tape* tape);

// Adds the block the end of the recording cut short, if any, ending at `end` (the recording's
// length in samples). Called once the run has ended.
void RecordUnfinishedBlock(int64_t end);

#endif
