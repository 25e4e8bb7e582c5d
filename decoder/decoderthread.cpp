#include "decoder/decoderthread.h"

#include <cstdio>
#include <fstream>

#include "decoder/block.h"
#include "decoder/catalogue.h"
#include "decoder/halfperiod.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "report/status.h"
#include "report/ui.h"

void (*BlockDecoded)(const char* fileName, long fileLength);

namespace {

// Placeholder for the length field while the block is decoded: a file left by Stop or by the end
// of the recording keeps it, which marks it unfinished.
const uint8_t kPlaceholder = 0x20;

// Reports the block just written when it is a header: its type and name, and the announced length
// of the data block that follows. The checksum verdict does not matter here.
void ReportHeader(const char* name, long length)
{
    std::ifstream in(name, std::ios::in | std::ios::binary);
    uint8_t bytes[21];
    if (!in.is_open() || !in.read(reinterpret_cast<char*>(bytes), sizeof bytes))
        return;
    TapHeader header;
    if (ReadTapHeader(bytes, sizeof bytes, length, &header))
        ReportTapHeader(header);
}

}  // namespace

void ReportTapHeader(const TapHeader& header)
{
    // The name is printed up to its first zero byte.
    char report[32];
    std::snprintf(report, sizeof report, "%s%s", HeaderTypeWord(header.type), header.name);
    LogStatus(report);
    ShowText(report);
    ShowTextF("Wait %i bytes", header.dataLength);
    LogStatusF("Block size=%i", header.dataLength);
}

int DecoderThread()
{
    try {
        for (;;) {
            char name[32];
            TapeFileName(name, sizeof name, NextTapeNumber);
            if (NextTapeNumber > kHighestTapeNumber || !OpenTapOutput(name)) {
                LogStatus("Can't create file. Exit task");
                return kExitCannotCreate;
            }
            WriteTapByte(kPlaceholder);
            WriteTapByte(kPlaceholder);

            // The checksum verdict has been logged; a block that fails it is kept all the same, as
            // its bytes are the best the tape gave.
            DecodeBlock();

            bool writeFailed = false;
            const long length = FinishTapOutput(BlockSize, &writeFailed);
            // A full disk or a failing medium: say so rather than let a short file pass for a good
            // one, and go on with the next block, as the tape keeps playing.
            if (writeFailed)
                LogStatusF("Write error: %s is incomplete", name);

            if (BlockDecoded)
                BlockDecoded(name, length);
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
    } catch (const DecoderStopped& stopped) {
        if (stopped.exit_code == kExitEndOfFile) {
            CloseRawInput();
            LogStatus(".PCM file closed");
            // The block in progress keeps its placeholder length: it is unfinished.
            CloseTapOutput();
            UiRunEnded();
        }
        return stopped.exit_code;
    }
}
