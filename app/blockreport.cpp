#include "app/blockreport.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "decoder/block.h"
#include "decoder/blockfile.h"
#include "decoder/tapfile.h"

namespace {

Tape* recorded;

// The decoder writes a block's bytes straight to its file as they are read, so its file is where
// they are.
std::vector<uint8_t> ReadFile(const std::string& name)
{
    std::ifstream in(name, std::ios::in | std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Record(const char* name, const BlockFacts& facts, TapeVerdict verdict)
{
    std::vector<uint8_t> bytes = ReadFile(name);
    TapeItem item;
    item.kind = kItemData;
    item.bytes.assign(bytes.begin() + std::min<size_t>(2, bytes.size()), bytes.end());
    item.file = name;
    item.verdict = verdict;
    // The default decoder reads by the ROM's windows; only its pilot is measured.
    item.timings = RomTimings(item.bytes.empty() ? 0xFF : item.bytes[0]);
    item.timings.pilotCount = facts.pilotHalfPeriods;
    if (facts.pilotHalfPeriods > 0)
        item.timings.pilot =
            SamplesToT(static_cast<double>(facts.pilotSamples) / facts.pilotHalfPeriods, recorded->rate);
    item.first = facts.pilotStart;
    item.dataAt = facts.pilotStart + facts.pilotSamples;
    item.last = facts.end;
    recorded->items.push_back(std::move(item));
}

void OnBlockDecoded(const char* name, long fileLength, const BlockFacts& facts)
{
    // An empty block (a sync pulse and no whole byte) leaves no file, so it is no block of the tape.
    if (fileLength > 2)
        Record(name, facts, facts.verdict == 0 ? kVerdictOk : kVerdictError);
}

}  // namespace

void RecordBlocks(Tape* tape)
{
    recorded = tape;
    BlockDecoded = OnBlockDecoded;
}

void RecordUnfinishedBlock(int64_t end)
{
    if (!recorded || !CurrentBlock.dataBegun || CurrentBlock.verdict >= 0)
        return;
    char name[32];
    TapeFileName(name, sizeof name, NextTapeNumber);
    BlockFacts facts = CurrentBlock;
    facts.end = end;
    std::ifstream in(name, std::ios::in | std::ios::binary | std::ios::ate);
    if (!in || in.tellg() <= 2)
        return;
    Record(name, facts, kVerdictUnfinished);
}
