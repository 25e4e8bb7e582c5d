#include "decoder/blockfile.h"

#include <cstdio>
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
