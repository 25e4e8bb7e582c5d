// The rescue of one whole recording into a folder of its own, as the Windows program offers it
// after a sound-card run or for a recording chosen: the rescue decoder (rescue/rescue.h) over a
// recording the caller has opened (rescue/rescueinput.h: any format the console decoder reads),
// its blocks numbered from out001.tap in the folder with the folder's own status.log, then every
// block the ROM's loader reads joined into tape.tap, the whole tape (turbo and custom blocks, tones,
// pauses) written as tape.tzx, and a last status line that compares the blocks it got right with
// those of the live run.
// Runs on the decoder thread as a run's body (decoder/run.h, BeginRunWith), or on a test's. While
// it runs the current directory is the folder (and so is status.log); the directory it was
// entered from and NextTapeNumber are restored after it. It touches the TAP output, the catalogue
// scan and the seam's catalogue calls (the program holds its list meanwhile) and the block
// observer of decoder/blockfile.h.
// Stops soon after a stop request (decoder/stop.h), keeping what it has written: the block being
// read when the request came is read from the samples taken so far, and tape.tap, tape.tzx and the
// last line are still made.
// Failures: a folder that cannot be made or entered is logged and nothing is decoded; a TAP file
// that cannot be created ends the rescue (as the rescue decoder does); a tape.tap or tape.tzx that
// cannot be written is logged.
#ifndef QUORVANE_RESCUE_RESCUEFOLDER_H
#define QUORVANE_RESCUE_RESCUEFOLDER_H

#include <string>

#include "rescue/rescue.h"

// A folder in the current directory named after `recording` (its file name without the
// extension), with "-2", "-3", ... after it when that name is taken.
std::string RescueFolderFor(const std::string& recording);

struct FolderRescue {
    int blocks = 0;  // files written
    int good = 0;    // of them, those whose checksum holds (as read, or repaired)
    int exitCode;    // decoder/stop.h: kExitEndOfFile, kExitStopped or kExitCannotCreate
};

// Rescues the recording `source` reads (opened by the caller, read from its start, closed by the
// caller) into `folder`, made here. `liveGood` is the number of good blocks the live run of the
// same recording got, or -1 when the recording is not that of the last live run. `creator` names
// the program in the TZX ("Quorvane 1.2.0").
FolderRescue RescueIntoFolder(const RescueSource& source, const std::string& folder, int liveGood,
                              const std::string& creator);

// "Rescue: 31 of 32 blocks good, 3 more than the live run"; without the comparison when liveGood
// is -1.
std::string RescueSummary(int good, int blocks, int liveGood);

#endif
