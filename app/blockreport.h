// The console decoder's record of a run's blocks, and what it makes of them: a JSON report (one
// entry per block in tape order: its file, where it starts and ends, its length, the checksum
// verdict, a header's fields, the mean pilot half-period) and one TAP file holding every block of
// the run, good and bad, in tape order. From several plays of a tape, each block also says which
// play it came from (or that it was rebuilt) and where it lies in every play.
// Runs on the console decoder's one thread: the block observer is called by the decoder there.
// Failures: a report or joined TAP that cannot be written is said on standard error by its name,
// and the writer returns false.
#ifndef QUORVANE_BLOCKREPORT_H
#define QUORVANE_BLOCKREPORT_H

#include <cstdint>
#include <string>
#include <vector>

// One of several plays of a tape read by the rescue decoder.
struct PlayFacts {
    std::string input;
    std::string format;
    int64_t samples = 0;
};

// What the report says of the run as a whole.
struct RunFacts {
    std::string input;        // the recording as named on the command line
    std::string format;       // what it was read as
    std::string channel;      // "mix", or the channel taken
    std::string tapeDirectory;
    int64_t samples = 0;      // samples at 44100/s read from it
    std::vector<PlayFacts> plays;  // several plays: all of them, the first being the input above
};

// Starts a new record and has the decoder report every block into it (decoder/blockfile.h).
void RecordBlocks();

// Adds the block the end of the recording cut short, if any, ending at `end` (the recording's
// length in samples). Called once the run has ended.
void RecordUnfinishedBlock(int64_t end);

// A stretch of the recording that could not be read.
void RecordDamage(int64_t from, int64_t to, const std::string& what);

int RecordedBlockCount();

// Writes the JSON report to `path` / every recorded block's TAP file, in tape order, to `path`.
// The block files are read from the current directory.
bool WriteJsonReport(const std::string& path, const RunFacts& run);
bool WriteJoinedTap(const std::string& path);

#endif
