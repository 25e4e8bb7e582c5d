#include "tape/join.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool JoinableBlock(const TapeItem& item)
{
    return item.kind == kItemData && !item.bytes.empty() && RomLoadable(item.timings);
}

bool WriteJoinedTap(const std::string& path, const Tape& tape, std::string* error, int* blocks, int* good)
{
    int written = 0, sound = 0;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    bool ok = out != nullptr;
    for (const TapeItem& item : tape.items) {
        if (!ok || !JoinableBlock(item))
            continue;
        // The low 16 bits, as every TAP length field, for a block past 64 KiB.
        const size_t length = item.bytes.size();
        const unsigned char field[2] = {static_cast<unsigned char>(length & 0xFF),
                                        static_cast<unsigned char>(length >> 8 & 0xFF)};
        ok = std::fwrite(field, 1, 2, out) == 2 && std::fwrite(item.bytes.data(), 1, length, out) == length;
        ++written;
        sound += item.verdict == kVerdictOk || item.verdict == kVerdictRepaired;
    }
    const int saved = errno;
    if (out && std::fclose(out) != 0)
        ok = false;
    if (!ok) {
        *error = std::strerror(errno ? errno : saved);
        return false;
    }
    if (blocks)
        *blocks = written;
    if (good)
        *good = sound;
    return true;
}
