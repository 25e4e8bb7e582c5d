#include "decoder/tape.h"

#include <cstdio>
#include <fstream>

#include "decoder/block.h"
#include "decoder/catalogue.h"
#include "decoder/stop.h"
#include "report/status.h"
#include "report/ui.h"

int32_t NextTapeNumber = 0;

namespace {

std::ofstream tapOutput;

// Placeholder for the length field while the block is decoded: a file left by Stop or by the end
// of the recording keeps it, which marks it unfinished.
const uint8_t kPlaceholder = 0x20;

const char* HeaderTypeWord(int type)
{
    switch (type) {
    case 0: return "Program:";
    case 1:
    case 2: return "Array:";
    case 3: return "Bytes:";
    default: return "Data:";  // as the catalogue calls a header of an unknown type
    }
}

// Reports the block just written when it is a header: its type and name, and the announced length
// of the data block that follows. The checksum verdict does not matter here.
void ReportHeader(const char* name, long length)
{
    std::ifstream in(name, std::ios::in | std::ios::binary);
    if (!in.is_open() || length != 21)
        return;
    uint8_t bytes[21];
    if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes) || bytes[2] != 0x00)
        return;
    char tapeName[11];
    for (int i = 0; i < 10; ++i)
        tapeName[i] = static_cast<char>(bytes[4 + i]);
    tapeName[10] = '\0';
    char report[32];
    std::snprintf(report, sizeof report, "%s%s", HeaderTypeWord(bytes[3]), tapeName);
    LogStatus(report);
    ShowText(report);
    const int dataLength = bytes[14] | bytes[15] << 8;
    ShowTextF("Wait %i bytes", dataLength);
    LogStatusF("Block size=%i", dataLength);
}

}  // namespace

void TapeFileName(char* out, int size, int32_t number)
{
    std::snprintf(out, size, "out%03i.tap", static_cast<int>(number));
}

bool OpenTapOutput(const char* name)
{
    CloseTapOutput();
    tapOutput.open(name, std::ios::out | std::ios::binary | std::ios::trunc);
    return tapOutput.is_open();
}

void WriteTapByte(uint8_t byte)
{
    tapOutput.put(static_cast<char>(byte));
}

void CloseTapOutput()
{
    if (tapOutput.is_open())
        tapOutput.close();
    tapOutput.clear();
}

bool TapOutputOpen()
{
    return tapOutput.is_open();
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

            DecodeBlock();

            // Only the low 16 bits of a longer block fit the length field.
            tapOutput.seekp(0);
            WriteTapByte(static_cast<uint8_t>(BlockSize & 0xFF));
            WriteTapByte(static_cast<uint8_t>((BlockSize / 256) & 0xFF));
            tapOutput.seekp(0, std::ios::end);
            const long length = static_cast<long>(tapOutput.tellp());
            tapOutput.close();
            // A full disk or a failing medium: say so rather than let a short file pass for a good
            // one, and go on with the next block, as the tape keeps playing.
            if (tapOutput.fail())
                LogStatusF("Write error: %s is incomplete", name);
            tapOutput.clear();

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
        return stopped.exit_code;
    }
}
