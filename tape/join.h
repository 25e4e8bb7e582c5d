// One TAP file holding the tape's data blocks in tape order, ready for an emulator. A TAP file
// cannot tell a loader its timings, so only the blocks the ROM's loader reads go in (RomLoadable) (every one of
// them, good and bad); a turbo or pure-data block lives in the TZX alone.
// Any thread. Failures: a file that cannot be written gives false, the reason in *error.
#ifndef QUORVANE_TAPE_JOIN_H
#define QUORVANE_TAPE_JOIN_H

#include <string>

#include "tape/tape.h"

// True when `item` goes into a joined TAP: a data block the ROM's loader reads.
bool JoinableBlock(const TapeItem& item);

// Writes the joinable blocks of `tape` to `path`; *blocks and *good (when not null) get how many were
// written and how many of them are ok or repaired.
bool WriteJoinedTap(const std::string& path, const Tape& tape, std::string* error, int* blocks = nullptr,
                    int* good = nullptr);

#endif
