// Shared by the fault tests: recordings whose blocks are known in advance, the TAP files they must
// give, a look at the TAP files of the current directory, the random source and repeat counts of
// the long runs, and small file systems mounted for a test (tmpfs, read-only binds).
// Test thread only.
#ifndef QUORVANE_FAULT_SUPPORT_H
#define QUORVANE_FAULT_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/test_support.h"

using Bytes = std::vector<uint8_t>;

// A recording built block by block. An empty entry in the list of blocks is an empty block (a sync
// pulse followed at once by the end), which leaves no file.
struct Recording {
    Signal signal;
    std::vector<Bytes> blocks;       // every non-empty block, in order
    std::vector<size_t> dataEnds;    // sample offset where each block's final pair begins
    std::vector<size_t> blockEnds;   // sample offset just past each block's final pair
};

Recording MakeRecording(const std::vector<Bytes>& blocks);

// Blocks of a recording that a decoder reading only its first `length` samples surely finishes /
// may finish.
size_t BlocksSurelyDone(const Recording& recording, size_t length);
size_t BlocksPossiblyDone(const Recording& recording, size_t length);

// Block bytes with no 0xFF in them: a run of one bits is never long enough to pass for pilot tone
// when a run starts in the middle of a block. The first two bytes after the flag are `tag`.
Bytes TaggedBlock(uint16_t tag, size_t payloadLength, std::mt19937& random);

// A file still carrying the placeholder length that marks a block left unfinished.
bool IsUnfinished(const Bytes& file);

// The name of file number `number`.
std::string TapName(int64_t number);

// Every out%03i.tap file of the current directory by number, with its contents.
std::map<int64_t, Bytes> TapFiles();

// Runs of the long tests: `native` times QV_FAULT_SCALE (default 1), a third of that under a
// sanitizer; at least 1.
int Repeats(int native);

// The seed of a test's random source: QV_FAULT_SEED when set, else a fresh one. Logged by the
// caller so that a failure can be repeated.
uint32_t FaultSeed();

// Mounts file systems for one test and takes them down again, innermost first.
class Mounts {
public:
    ~Mounts();
    // A tmpfs at path with mount options such as "size=64k,nr_inodes=16"; false when this machine
    // does not let the test mount (not root, no capability, no tmpfs).
    bool Tmpfs(const std::string& path, const std::string& options);
    // Makes the mount at path (one of this object's) read-only.
    bool RemountReadOnly(const std::string& path);
    // Binds a file or directory read-only over target.
    bool BindReadOnly(const std::string& source, const std::string& target);
    void UnmountAll();

private:
    std::vector<std::string> mounted;
};

#endif
