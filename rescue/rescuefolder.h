// The rescue of one whole recording into a folder of its own, as the Windows program offers it
// after a sound-card run: the rescue decoder (rescue/rescue.h) over a recording read by the
// built-in reader (audio/plainwav.h), its blocks numbered from out001.tap in the folder with the
// folder's own status.log, then every block the ROM's loader reads joined into tape.tap, and a last status line that
// compares the blocks it got right with those of the live run.
// Runs on the decoder thread as a run's body (decoder/run.h, BeginRunWith), or on a test's. While
// it runs the current directory is the folder (and so is status.log); the directory it was
// entered from and NextTapeNumber are restored after it. It touches the TAP output, the catalogue
// scan and the seam's catalogue calls (the program holds its list meanwhile) and the block
// observer of decoder/blockfile.h.
// Stops soon after a stop request (decoder/stop.h), keeping what it has written: the block being
// read when the request came is read from the samples taken so far, and tape.tap and the last
// line are still made.
// Failures: a folder that cannot be made or entered is logged and nothing is decoded; a TAP file
// that cannot be created ends the rescue (as the rescue decoder does); a tape.tap that cannot be
// written is logged.
#ifndef QUORVANE_RESCUE_RESCUEFOLDER_H
#define QUORVANE_RESCUE_RESCUEFOLDER_H

#include <string>

struct PlainRecording;

// A folder in the current directory named after `recording` (its file name without the
// extension), with "-2", "-3", ... after it when that name is taken.
std::string RescueFolderFor(const std::string& recording);

struct FolderRescue {
    int blocks = 0;  // files written
    int good = 0;    // of them, those whose checksum holds (as read, or repaired)
    int exitCode;    // decoder/stop.h: kExitEndOfFile, kExitStopped or kExitCannotCreate
};

// Rescues `recording` (opened by the caller, read from its start, closed by the caller) into
// `folder`, made here. `liveGood` is the number of good blocks the live run of the same recording
// got, or -1 when the recording is not that of the last live run.
FolderRescue RescueIntoFolder(PlainRecording* recording, const std::string& folder, int liveGood);

// "Rescue: 31 of 32 blocks good, 3 more than the live run"; without the comparison when liveGood
// is -1.
std::string RescueSummary(int good, int blocks, int liveGood);

#endif
