#include "tape/tape.h"

#include <cmath>
#include <cstdlib>

uint8_t XorChecksum(const std::vector<uint8_t>& bytes)
{
    uint8_t x = 0;
    for (uint8_t b : bytes)
        x ^= b;
    return x;
}

bool WholeBlock(const std::vector<uint8_t>& bytes)
{
    return bytes.size() >= 2 && (bytes[0] != 0x00 || bytes.size() == 19);
}

bool ReadHeaderFields(const uint8_t* bytes, size_t count, HeaderFields* header)
{
    if (count != 19 || bytes[0] != 0x00)
        return false;
    header->type = bytes[1];
    for (int i = 0; i < 10; ++i)
        header->name[i] = static_cast<char>(bytes[2 + i]);
    header->name[10] = '\0';
    header->dataLength = bytes[12] | bytes[13] << 8;
    header->param1 = bytes[14] | bytes[15] << 8;
    header->param2 = bytes[16] | bytes[17] << 8;
    return true;
}

int AnnouncedLength(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() != 19 || bytes[0] != 0x00 || XorChecksum(bytes) != 0)
        return -1;
    return (bytes[12] | bytes[13] << 8) + 2;
}

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

const char* HeaderTypeName(int type)
{
    switch (type) {
    case 0: return "Program";
    case 1: return "Number array";
    case 2: return "Character array";
    case 3: return "Bytes";
    default: return "Unknown";
    }
}

namespace {

// Within `percent` of the ROM's length.
bool Near(int measured, int rom, int percent = 2)
{
    return std::abs(measured - rom) * 100 <= rom * percent;
}

}  // namespace

bool RomTimed(const BlockTimings& t)
{
    return t.pilotCount > 0 && Near(t.pilot, kRomPilot) && t.sync.size() == 2 && Near(t.sync[0], kRomSync1) &&
           Near(t.sync[1], kRomSync2) && Near(t.zero[0], kRomZero) && Near(t.zero[1], kRomZero) &&
           Near(t.one[0], kRomOne) && Near(t.one[1], kRomOne) && t.usedBits == 8;
}

bool RomLoadable(const BlockTimings& t)
{
    const int p = 12;
    return t.pilotCount > 0 && Near(t.pilot, kRomPilot, p) && t.sync.size() == 2 && Near(t.sync[0], kRomSync1, p) &&
           Near(t.sync[1], kRomSync2, p) && Near(t.zero[0], kRomZero, p) && Near(t.zero[1], kRomZero, p) &&
           Near(t.one[0], kRomOne, p) && Near(t.one[1], kRomOne, p) && t.usedBits == 8;
}

BlockTimings RomTimings(int flag)
{
    BlockTimings t;
    t.pilot = kRomPilot;
    t.pilotCount = flag < 128 ? kRomHeaderPilotCount : kRomDataPilotCount;
    t.sync = {kRomSync1, kRomSync2};
    t.zero[0] = t.zero[1] = kRomZero;
    t.one[0] = t.one[1] = kRomOne;
    t.usedBits = 8;
    t.tail = 0;
    return t;
}

int SamplesToT(double samples, double rate)
{
    return static_cast<int>(std::lround(samples * kTStatesPerSecond / rate));
}

double TToSamples(double tStates, double rate)
{
    return tStates * rate / kTStatesPerSecond;
}

const char* ItemKindWord(const TapeItem& item)
{
    switch (item.kind) {
    case kItemData:
        if (item.timings.pilotCount == 0)
            return "pure data";
        return RomLoadable(item.timings) ? "rom" : "turbo";
    case kItemTone: return "tone";
    case kItemPulses: return "pulses";
    case kItemPause: return "pause";
    case kItemDirect: return "direct";
    }
    return "direct";
}

const char* VerdictWord(TapeVerdict verdict)
{
    switch (verdict) {
    case kVerdictOk: return "ok";
    case kVerdictError: return "bad";
    case kVerdictNone: return "no checksum";
    case kVerdictRepaired: return "repaired";
    case kVerdictUnfinished: return "unfinished";
    }
    return "bad";
}
