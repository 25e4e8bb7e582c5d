#include "tape/tzx.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

typedef std::vector<uint8_t> Image;

void Byte(Image& out, int64_t value)
{
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

void Word(Image& out, int64_t value)
{
    Byte(out, value);
    Byte(out, value >> 8);
}

void Triple(Image& out, int64_t value)
{
    Word(out, value);
    Byte(out, value >> 16);
}

void Dword(Image& out, int64_t value)
{
    Word(out, value);
    Word(out, value >> 16);
}

// A pulse as the format's WORD holds it. A length of 0 would be read as no pulse at all (and by
// some players as a flip of the level), which no measured pulse is.
int Pulse(int tStates)
{
    return std::clamp(tStates, 1, 0xFFFF);
}

void Text(Image& out, const std::string& text)
{
    const size_t length = std::min<size_t>(text.size(), 255);
    Byte(out, 0x30);
    Byte(out, static_cast<int64_t>(length));
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
}

void Tone(Image& out, int pulse, int64_t count)
{
    for (; count > 0; count -= 0xFFFF) {
        Byte(out, 0x12);
        Word(out, Pulse(pulse));
        Word(out, std::min<int64_t>(count, 0xFFFF));
    }
}

void Pulses(Image& out, const std::vector<int>& pulses)
{
    for (size_t at = 0; at < pulses.size(); at += 255) {
        const size_t n = std::min<size_t>(pulses.size() - at, 255);
        Byte(out, 0x13);
        Byte(out, static_cast<int64_t>(n));
        for (size_t i = 0; i < n; ++i)
            Word(out, Pulse(pulses[at + i]));
    }
}

// A pause of 0 ms in block 0x20 means "stop the tape", which no silence on a tape is: it is left out.
void Pause(Image& out, int64_t ms)
{
    for (; ms > 0; ms -= 0xFFFF) {
        Byte(out, 0x20);
        Word(out, std::min<int64_t>(ms, 0xFFFF));
    }
}

// A symbol the fixed-symbol blocks (0x10, 0x11, 0x14) can hold: two pulses within 2 % of each other.
bool EvenSymbol(const int pulses[2])
{
    return std::abs(pulses[0] - pulses[1]) * 50 <= std::max(pulses[0], pulses[1]);
}

int Mean(const int pulses[2])
{
    return (pulses[0] + pulses[1] + 1) / 2;
}

std::string VerdictText(const TapeItem& item)
{
    switch (item.verdict) {
    case kVerdictOk: return "";
    case kVerdictError:
        return XorChecksum(item.bytes) != 0 ? "Bad block: checksum error" : "Bad block: wrong length";
    case kVerdictNone: return "No checksum: bytes unchecked";
    case kVerdictRepaired: {
        const size_t n = item.repaired.size();
        return "Repaired by the checksum: " + std::to_string(n) + (n == 1 ? " bit" : " bits");
    }
    case kVerdictUnfinished: return "Unfinished: the recording ends";
    }
    return "";
}

void Data(Image& out, const TapeItem& item)
{
    const BlockTimings& t = item.timings;
    const std::vector<uint8_t>& bytes = item.bytes;
    const int usedBits = std::clamp(t.usedBits, 1, 8);
    const bool even = EvenSymbol(t.zero) && EvenSymbol(t.one);
    const std::string verdict = VerdictText(item);
    if (!verdict.empty())
        Text(out, verdict);
    const int64_t pause = std::max(item.pauseMs, 0);

    // The ROM's tail pulse is the ROM's own business; any other block's is kept, with the pause
    // after it instead of after the bits.
    if (RomTimed(t) && bytes.size() <= 0xFFFF) {
        Byte(out, 0x10);
        Word(out, std::min<int64_t>(pause, 0xFFFF));
        Word(out, static_cast<int64_t>(bytes.size()));
        out.insert(out.end(), bytes.begin(), bytes.end());
        Pause(out, pause - 0xFFFF);
        return;
    }
    const bool tail = t.tail > 0;
    const int64_t blockPause = tail || bytes.empty() ? 0 : std::min<int64_t>(pause, 0xFFFF);
    if (t.pilotCount > 0 && t.pilotCount <= 0xFFFF && t.sync.size() == 2 && even && !bytes.empty()) {
        Byte(out, 0x11);
        Word(out, Pulse(t.pilot));
        Word(out, Pulse(t.sync[0]));
        Word(out, Pulse(t.sync[1]));
        Word(out, Pulse(Mean(t.zero)));
        Word(out, Pulse(Mean(t.one)));
        Word(out, t.pilotCount);
        Byte(out, usedBits);
        Word(out, blockPause);
        Triple(out, static_cast<int64_t>(bytes.size()));
        out.insert(out.end(), bytes.begin(), bytes.end());
    } else {
        // A sync of other than two pulses (a composite sync, none at all) or a pilot too long for
        // 0x11: pilot and sync as a tone and a pulse sequence, then the bits alone.
        Tone(out, t.pilot, t.pilotCount);
        Pulses(out, t.sync);
        if (!bytes.empty() && even) {
            Byte(out, 0x14);
            Word(out, Pulse(Mean(t.zero)));
            Word(out, Pulse(Mean(t.one)));
            Byte(out, usedBits);
            Word(out, blockPause);
            Triple(out, static_cast<int64_t>(bytes.size()));
            out.insert(out.end(), bytes.begin(), bytes.end());
        } else if (!bytes.empty()) {
            // Generalized data with no pilot symbols and an alphabet of two symbols of two pulses
            // each: one bit a symbol, so the stream is the bytes themselves.
            const int64_t bits = static_cast<int64_t>(bytes.size()) * 8 - (8 - usedBits);
            Byte(out, 0x19);
            Dword(out, 2 + 4 + 1 + 1 + 4 + 1 + 1 + 2 * 5 + static_cast<int64_t>(bytes.size()));
            Word(out, blockPause);
            Dword(out, 0);  // pilot and sync symbols: none
            Byte(out, 0);
            Byte(out, 0);
            Dword(out, bits);
            Byte(out, 2);  // pulses a symbol
            Byte(out, 2);  // symbols
            for (const int* symbol : {t.zero, t.one}) {
                Byte(out, 0);  // each pulse flips the level, as a bit's edges do
                Word(out, Pulse(symbol[0]));
                Word(out, Pulse(symbol[1]));
            }
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
    }
    if (tail)
        Pulses(out, {t.tail});
    Pause(out, pause - blockPause);
}

void Direct(Image& out, const TapeItem& item)
{
    if (item.levels.empty() || !(item.directRate > 0)) {
        Pause(out, item.pauseMs);
        return;
    }
    const int perSample = static_cast<int>(std::clamp<long>(std::lround(kTStatesPerSecond / item.directRate), 1, 0xFFFF));
    // The length is three bytes: a longer stretch is split where a byte ends.
    const size_t most = static_cast<size_t>(0xFFFFFF) * 8;
    for (size_t at = 0; at < item.levels.size(); at += most) {
        const size_t n = std::min(item.levels.size() - at, most);
        const bool last = at + n == item.levels.size();
        Byte(out, 0x15);
        Word(out, perSample);
        Word(out, last ? std::clamp(item.pauseMs, 0, 0xFFFF) : 0);
        Byte(out, n % 8 == 0 ? 8 : static_cast<int64_t>(n % 8));
        Triple(out, static_cast<int64_t>((n + 7) / 8));
        uint8_t byte = 0;
        for (size_t i = 0; i < n; ++i) {
            byte = static_cast<uint8_t>(byte << 1 | (item.levels[at + i] ? 1 : 0));
            if (i % 8 == 7 || i + 1 == n) {
                out.push_back(static_cast<uint8_t>(byte << (7 - i % 8)));
                byte = 0;
            }
        }
        if (last)
            Pause(out, static_cast<int64_t>(item.pauseMs) - 0xFFFF);
    }
}

}  // namespace

std::vector<uint8_t> TzxImage(const Tape& tape, const std::string& creator)
{
    Image out = {'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20};
    Text(out, creator);
    for (const TapeItem& item : tape.items) {
        switch (item.kind) {
        case kItemData: Data(out, item); break;
        case kItemTone:
            Tone(out, item.pulse, item.count);
            Pause(out, item.pauseMs);
            break;
        case kItemPulses:
            Pulses(out, item.pulses);
            Pause(out, item.pauseMs);
            break;
        case kItemPause: Pause(out, item.pauseMs); break;
        case kItemDirect: Direct(out, item); break;
        }
    }
    return out;
}

bool WriteTzx(const std::string& path, const Tape& tape, const std::string& creator, std::string* error)
{
    const Image image = TzxImage(tape, creator);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = std::strerror(errno);
        return false;
    }
    errno = 0;
    bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    int cause = written ? 0 : errno;
    if (std::fclose(file) != 0 && written) {
        written = false;
        cause = errno;
    }
    if (!written)
        *error = std::strerror(cause ? cause : EIO);
    return written;
}
