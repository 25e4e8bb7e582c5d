// Shared by the fuzz targets: their implementation of the user-interface seam, which keeps only the
// catalogue list for the targets' checks, the private directory every run writes into, and the
// check of the TAP files a file run leaves.
// Fuzzer thread only: the targets run the decoder thread's body on the fuzzer's own thread.
#ifndef QUORVANE_FUZZ_SUPPORT_H
#define QUORVANE_FUZZ_SUPPORT_H

#include <string>
#include <vector>

struct FuzzUi {
    std::vector<std::string> catalogue;  // lines appended since the last reset of the list
    int runEndedCalls = 0;               // ends told since the last run was collected
};

extern FuzzUi FuzzUiState;

// Creates a private directory under the temporary directory (TMPDIR), enters it, and removes it at
// exit. Aborts when that fails: a target has nowhere else to write.
void EnterScratchDirectory();

// Removes every entry of the current directory, so each input starts from an empty one.
void EmptyCurrentDirectory();

// What a user relies on after a file run that went to the end of its recording, over the TAP files
// of the current directory: every finished block's file carries its true length, only the file
// the next run would reuse is unfinished, and no block holds more bytes than `sampleCount` samples
// could carry. Stops the fuzzer when one fails.
void CheckTapFiles(size_t sampleCount);

// After a file run that ended at the end of its recording: the decoder thread has closed what it
// read and wrote and told the front end once, and collecting the run leaves file mode. Stops the
// fuzzer when one fails.
void CollectRunEndedByItself();

// Stops the fuzzer with a message: a check on the core's results failed.
[[noreturn]] void FuzzFailure(const char* what, const std::string& detail);

#endif
