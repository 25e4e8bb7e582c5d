#include "decoder/tapfile.h"

#include <cstdio>
#include <cstring>
#include <fstream>

int32_t NextTapeNumber = 0;

namespace {

std::ofstream tapOutput;

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

long FinishTapOutput(int32_t blockSize, bool* failed)
{
    // Only the low 16 bits of a longer block fit the length field.
    tapOutput.seekp(0);
    WriteTapByte(static_cast<uint8_t>(blockSize & 0xFF));
    WriteTapByte(static_cast<uint8_t>((blockSize / 256) & 0xFF));
    tapOutput.seekp(0, std::ios::end);
    const long length = static_cast<long>(tapOutput.tellp());
    tapOutput.close();
    *failed = tapOutput.fail();
    tapOutput.clear();
    return length;
}

bool ReadTapHeader(const uint8_t* bytes, long got, long length, TapHeader* header)
{
    if (length != 21 || got < 16)
        return false;
    // The checksum is not a field, so a header needs no more than its first 20 bytes.
    const long whole = got >= 20 ? 20 : got >= 18 ? 18 : 16;
    uint8_t block[19] = {};
    std::memcpy(block, bytes + 2, static_cast<size_t>(whole - 2));
    return ReadHeaderFields(block, sizeof block, header);
}
