// Fuzz target: two short plays of a tape through the rescue decoder's run over several plays: each
// play read to its end, their blocks matched, each block chosen or rebuilt, and written.
// Input: one byte that says where the first play ends (its share of the rest, in 256ths), then
// unsigned 8-bit samples at 44100/s, the first play's and then the second's.
// Besides the sanitizers, every run checks what a user relies on: the match gives every block of
// each play exactly one place, in the play's own order; a block written as good is a whole block
// whose bytes XOR to 0; every file is whole; nothing is left open.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decoder/block.h"
#include "decoder/blockfile.h"
#include "decoder/catalogue.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "rescue/plays.h"
#include "rescue/rescue.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Samples {
    const uint8_t* data;
    size_t size;
    size_t at;
};

size_t ReadSamples(void* context, float* out, size_t count)
{
    Samples* s = static_cast<Samples*>(context);
    const size_t n = std::min(count, s->size - s->at);
    for (size_t i = 0; i < n; ++i)
        out[i] = (static_cast<float>(s->data[s->at + i]) - 128) / 128;
    s->at += n;
    return n;
}

void CheckBlock(const char* name, long fileLength, const BlockFacts& facts)
{
    if (facts.verdict != 0)
        return;
    std::ifstream in(name, std::ios::binary);
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (static_cast<long>(file.size()) != fileLength || file.size() < 2)
        FuzzFailure("a block's file is not whole", name);
    const std::vector<uint8_t> block(file.begin() + 2, file.end());
    uint8_t check = 0;
    for (uint8_t b : block)
        check ^= b;
    if (check != 0 || !WholeBlock(block))
        FuzzFailure("a block called good that is none", name);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    EnterScratchDirectory();
    BlockDecoded = CheckBlock;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    EmptyCurrentDirectory();
    ResetDecoder();
    const size_t rest = size - 1, first = rest * data[0] / 256;
    Samples parts[2] = {{data + 1, first, 0}, {data + 1 + first, rest - first, 0}};
    std::vector<Play> plays(2);
    for (int p = 0; p < 2; ++p) {
        plays[p].name = "play" + std::to_string(p + 1);
        ReadPlay(RescueSource{1, 44100, ReadSamples, &parts[p]}, plays[p]);
        if (plays[p].frames != static_cast<int64_t>(parts[p].size))
            FuzzFailure("a play was not read to its end", plays[p].name);
    }
    const PlayedTape sorted = SortPlays(plays);
    const std::vector<MatchedBlock>& tape = sorted.blocks;
    for (size_t p = 0; p < plays.size(); ++p) {
        int next = 0;
        for (const MatchedBlock& t : tape)
            if (t.copies[p] >= 0 && t.copies[p] != next++)
                FuzzFailure("the match lost a block or broke a play's order", plays[p].name);
        if (next != static_cast<int>(plays[p].blocks.size()))
            FuzzFailure("the match lost a block", plays[p].name);
    }
    if (std::count(sorted.use.begin(), sorted.use.end(), kPlayWritten) == 0 &&
        std::any_of(plays.begin(), plays.end(), [](const Play& p) { return !p.blocks.empty(); }))
        FuzzFailure("plays with blocks, and none to write the tape from", "");
    ScanTapeFiles();
    Tape written;
    if (WritePlays(plays, sorted, written) != kExitEndOfFile)
        FuzzFailure("a run over two plays did not end", "");
    if (TapOutputOpen())
        FuzzFailure("the run left a TAP file open", "");
    // One item and one file for each block of the tape but those left out.
    if (written.items.size() > tape.size())
        FuzzFailure("more items on the tape than blocks", std::to_string(written.items.size()));
    if (NextTapeNumber != static_cast<int>(written.items.size()) + 1)
        FuzzFailure("not one file for each item of the tape", std::to_string(NextTapeNumber));
    // Every file finished: a block of its length field's bytes, none left with the placeholder.
    for (int number = 1; number < NextTapeNumber; ++number) {
        char name[32];
        TapeFileName(name, sizeof name, number);
        std::ifstream in(name, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (bytes.size() < 4 || (bytes[0] | bytes[1] << 8) != static_cast<int>(bytes.size() - 2))
            FuzzFailure("a block's file is not whole", name);
    }
    return 0;
}
