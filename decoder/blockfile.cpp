#include "decoder/blockfile.h"

#include <cstdio>
#include <string>
#include <fstream>

#include "decoder/catalogue.h"
#include "decoder/tapfile.h"
#include "report/status.h"
#include "report/ui.h"
#include "tape/tape.h"

void (*BlockDecoded)(const char* fileName, long fileLength, const BlockFacts& facts);

namespace {

// The length field until the block has ended: a file left by Stop or by the end of the recording
// keeps it, which marks it unfinished.
const uint8_t kLengthPlaceholder = 0x20;

// The header report is read back from the file as written (after an empty one has gone), so it
// says what the file holds; the checksum verdict does not matter here.
void ReportHeader(const char* name, long length)
{
    std::ifstream in(name, std::ios::in | std::ios::binary);
    uint8_t bytes[21];
    if (!in.is_open() || !in.read(reinterpret_cast<char*>(bytes), sizeof bytes))
        return;
    TapHeader header;
    if (!ReadTapHeader(bytes, sizeof bytes, length, &header))
        return;
    // The name is printed up to its first zero byte.
    char report[32];
    std::snprintf(report, sizeof report, "%s%s", HeaderTypeWord(header.type), header.name);
    LogStatus(report);
    ShowText(report);
    ShowTextF("Wait %i bytes", header.dataLength);
    LogStatusF("Block size=%i", header.dataLength);
}

}  // namespace

bool OpenBlockFile(char* name, int size)
{
    TapeFileName(name, size, NextTapeNumber);
    if (NextTapeNumber > kHighestTapeNumber || !OpenTapOutput(name)) {
        LogStatus("Can't create file. Exit task");
        return false;
    }
    WriteTapByte(kLengthPlaceholder);
    WriteTapByte(kLengthPlaceholder);
    return true;
}

void CloseBlockFile(const char* name, int32_t size, const BlockFacts& facts)
{
    bool writeFailed = false;
    const long length = FinishTapOutput(size, &writeFailed);
    // A full disk or a failing medium: say so rather than let a short file pass for a good one; the
    // tape keeps playing, so the caller goes on.
    if (writeFailed)
        LogStatusF("Write error: %s is incomplete", name);

    if (BlockDecoded)
        BlockDecoded(name, length, facts);
    if (length == 2)
        std::remove(name);
    else
        ++NextTapeNumber;
    TapeFileChanged(name);
    ScanTapeFiles();
    ReportHeader(name, length);

    LogStatus(name);
    UiCatalogueAppend(name);
    LogStatus(" ");
}

namespace {

std::string Pulses(const int* pulses)
{
    if (pulses[0] == pulses[1])
        return std::to_string(pulses[0]);
    return std::to_string(pulses[0]) + "+" + std::to_string(pulses[1]);
}

void LogTimings(const BlockTimings& t)
{
    const std::string bits = Pulses(t.zero) + "/" + Pulses(t.one) + " T";
    std::string line;
    if (t.pilotCount > 0) {
        line = "Turbo: pilot " + std::to_string(t.pilot) + " T x " + std::to_string(t.pilotCount);
        if (!t.sync.empty()) {
            line += ", sync ";
            for (size_t k = 0; k < t.sync.size(); ++k)
                line += (k ? "/" : "") + std::to_string(t.sync[k]);
            line += " T";
        }
        line += ", bits " + bits;
    } else {
        line = "Pure data: bits " + bits;
    }
    if (t.usedBits != 8)
        line += ", " + std::to_string(t.usedBits) + " bits in the last byte";
    LogStatus(line.c_str());
}

}  // namespace

bool WriteBlockFile(TapeItem& item)
{
    const int size = static_cast<int>(item.bytes.size());
    LogStatusF("Read %i bytes", size);
    switch (item.verdict) {
    case kVerdictOk:
        LogStatus("CRC summ ok");
        ShowTextF("Read %i bytes okey", size);
        break;
    case kVerdictRepaired: {
        std::string line = "Repaired by the checksum: " + std::to_string(item.repaired.size()) +
                           (item.repaired.size() == 1 ? " bit (" : " bits (");
        for (size_t k = 0; k < item.repaired.size(); ++k)
            line += (k ? ", byte " : "byte ") + std::to_string(item.repaired[k].byte) + " bit " +
                    std::to_string(item.repaired[k].bit);
        LogStatus((line + ")").c_str());
        ShowTextF("Read %i bytes, repaired", size);
        break;
    }
    case kVerdictNone:
        LogStatus("No checksum");
        break;
    case kVerdictError:
    case kVerdictUnfinished:
        if (WholeBlock(item.bytes) || !RomLoadable(item.timings))
            LogStatus("Warning! CRC summ error ");
        else
            LogStatusF("Warning! %i bytes with flag 0 make no header, which has 19; kept as a bad block", size);
        break;
    }
    if (!RomLoadable(item.timings))
        LogTimings(item.timings);
    for (const std::string& line : item.notes)
        LogStatus(line.c_str());

    char name[32];
    if (!OpenBlockFile(name, sizeof name))
        return false;
    for (uint8_t byte : item.bytes)
        WriteTapByte(byte);
    item.file = name;
    BlockFacts facts;
    facts.pilotStart = item.first;
    facts.pilotHalfPeriods = item.timings.pilotCount;
    facts.pilotSamples = item.dataAt - item.first;
    facts.dataBegun = true;
    facts.end = item.last;
    facts.verdict = item.verdict == kVerdictOk || item.verdict == kVerdictRepaired ? 0 : 1;
    CloseBlockFile(name, size, facts);
    return true;
}
