#include "decoder/catalogue.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "decoder/stop.h"
#include "decoder/tape.h"
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

    // Bytes past the end of a short file read as end-of-file values, which no header has.
    int bytes[16];
    uint8_t raw[16];
    in.read(reinterpret_cast<char*>(raw), sizeof raw);
    const long got = in.gcount();
    for (int i = 0; i < 16; ++i)
        bytes[i] = i < got ? raw[i] : EOF;

    std::string label = "Data:";
    std::string lengthText;
    if (length == 21 && bytes[2] == 0x00) {
        label = HeaderLabel(bytes[3]);
        for (int i = 4; i < 14 && bytes[i] != 0; ++i)
            label += static_cast<char>(bytes[i]);
        lengthText = std::to_string(bytes[14] | bytes[15] << 8);
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

void ScanTapeFiles()
{
    // One pass over the directory instead of trying every number: files of any number are found,
    // and a name is counted even when it cannot be read, so it is never chosen for a new block.
    std::vector<std::pair<int64_t, std::string>> found;
    std::error_code error;
    for (fs::directory_iterator it(".", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const int64_t number = TapeFileNumber(name.c_str());
        if (number >= 0)
            found.emplace_back(number, name);
    }
    std::sort(found.begin(), found.end());

    // The number is settled before the list is filled, so that a fill cut short by the program's
    // end still leaves no file's number to the next block.
    NextTapeNumber = found.empty() ? NextTapeNumber + 1 : static_cast<int32_t>(found.back().first + 1);

    UiCatalogueReset();
    for (const auto& entry : found) {
        // Nobody will see the rest of the list once the program is ending.
        if (ShutdownRequested())
            break;
        const std::string& name = entry.second;
        std::error_code typeError;
        if (!fs::is_regular_file(name, typeError))
            continue;
        // Opening a file costs Wine about a third of a millisecond, and a rescan of hundreds keeps
        // Stop waiting: each is opened once.
        char line[kLineSize];
        if (DescribeTapeLine(name.c_str(), line, sizeof line))
            UiCatalogueAppend(line);
    }
    // Selecting once at the end instead of after every line leaves the same selection (the last
    // line described) and lets the list be drawn once for the whole rebuild.
    UiCatalogueSelectLast();
}
