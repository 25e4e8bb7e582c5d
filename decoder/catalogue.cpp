#include "decoder/catalogue.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "report/ui.h"

namespace fs = std::filesystem;

namespace {

// Room for a name of nine digits, a ten-letter header name and both lengths.
enum { kLineSize = 128 };

bool SameLetters(const char* text, const char* lower, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i])
            return false;
    return true;
}

// The lines of the files already described, so that a rescan after each block opens only the files
// that are new or have changed since: with hundreds of files in TAPE, opening every one after every
// block cost the decoder thread more than the block took to play. A file counts as unchanged while
// its directory, name, size and time of last writing are; the file a block has just been written to
// is forgotten outright, however coarse the clock. Only the scanning thread touches it (one thread
// at a time, handed over by the start and end of the decoder thread).
struct Described {
    uintmax_t size;
    fs::file_time_type written;
    std::string line;
};
std::map<std::string, Described> described;

const char* HeaderLabel(int type)
{
    switch (type) {
    case 0: return "Head(Program):";
    case 1:
    case 2: return "Head(Array):";
    case 3: return "Head(Bytes):";
    default: return "Data:";
    }
}

}  // namespace

int64_t TapeFileNumber(const char* name)
{
    const size_t n = std::strlen(name);
    if (n < 3 + 3 + 4 || !SameLetters(name, "out", 3) || !SameLetters(name + n - 4, ".tap", 4))
        return -1;
    const size_t digits = n - 7;
    // Longer numbers are left alone: the decoder never writes past kHighestTapeNumber.
    if (digits > 9)
        return -1;
    // "%03i" pads to three digits and never writes a leading zero beyond that.
    if (digits > 3 && name[3] == '0')
        return -1;
    int64_t number = 0;
    for (size_t i = 3; i < 3 + digits; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

bool DescribeTapeLine(const char* name, char* out, int size)
{
    std::ifstream in(name, std::ios::in | std::ios::binary);
    const bool opened = in.is_open();
    in.seekg(0, std::ios::end);
    const long length = in.good() ? static_cast<long>(in.tellg()) : 0;
    in.seekg(0, std::ios::beg);

    uint8_t bytes[21];
    in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    TapHeader header;
    std::string label = "Data:";
    std::string lengthText;
    if (ReadTapHeader(bytes, static_cast<long>(in.gcount()), length, &header)) {
        label = HeaderLabel(header.type);
        label += header.name;  // up to its first zero byte
        lengthText = std::to_string(header.dataLength);
    }
    std::snprintf(out, size, "%s %s %s (%ld)", name, label.c_str(), lengthText.c_str(), length - 2);
    return opened;
}

void DescribeTapeFile(const char* name)
{
    char line[kLineSize];
    DescribeTapeLine(name, line, sizeof line);
    UiCatalogueAppend(line);
    UiCatalogueSelectLast();
}

void TapeFileChanged(const char* name)
{
    std::error_code error;
    described.erase((fs::current_path(error) / name).string());
}

void ScanTapeFiles()
{
    // One pass over the directory instead of trying every number: files of any number are found,
    // and a name is counted even when it cannot be read, so it is never chosen for a new block.
    std::vector<std::pair<int64_t, fs::directory_entry>> found;
    std::error_code error;
    for (fs::directory_iterator it(".", error), end; !error && it != end; it.increment(error)) {
        const int64_t number = TapeFileNumber(it->path().filename().string().c_str());
        if (number >= 0)
            found.emplace_back(number, *it);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.path() < b.second.path();
    });

    // The number is settled before the list is filled, so that a fill cut short by the program's
    // end still leaves no file's number to the next block.
    NextTapeNumber = found.empty() ? NextTapeNumber + 1 : static_cast<int32_t>(found.back().first + 1);

    const fs::path directory = fs::current_path(error);
    std::map<std::string, Described> kept;
    UiCatalogueReset();
    for (const auto& entry : found) {
        // Nobody will see the rest of the list once the program is ending.
        if (ShutdownRequested())
            break;
        std::error_code typeError;
        if (!entry.second.is_regular_file(typeError))
            continue;
        const std::string name = entry.second.path().filename().string();
        std::error_code sizeError, timeError;
        Described file{entry.second.file_size(sizeError), entry.second.last_write_time(timeError), {}};
        const std::string key = (directory / name).string();
        const auto known = described.find(key);
        if (!sizeError && !timeError && known != described.end() && known->second.size == file.size &&
            known->second.written == file.written) {
            file.line = known->second.line;
        } else {
            char line[kLineSize];
            if (!DescribeTapeLine(name.c_str(), line, sizeof line))
                continue;
            file.line = line;
        }
        UiCatalogueAppend(file.line.c_str());
        if (!sizeError && !timeError)
            kept.emplace(key, std::move(file));
    }
    described.swap(kept);
    // Selecting once at the end instead of after every line leaves the same selection (the last
    // line described) and lets the list be drawn once for the whole rebuild.
    UiCatalogueSelectLast();
}
