// The JSON report of a run: the input, then one entry per data block in tape order (its file, where
// it starts and ends, its length, flag, kind, measured timings and checksum verdict, a header's
// fields, where it lies in each of several plays), every item of the tape in order with its kind
// and position, and the stretches that could not be read.
// Any thread. Failures: a file that cannot be written gives false, the reason in *error.
#ifndef QUORVANE_TAPE_REPORT_H
#define QUORVANE_TAPE_REPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "tape/tape.h"

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
    int64_t samples = 0;      // samples read from it, at the tape's rate
    std::vector<PlayFacts> plays;  // several plays: all of them, the first being the input above
};

bool WriteJsonReport(const std::string& path, const RunFacts& run, const Tape& tape, std::string* error);

#endif
