// Fuzz target: any file contents (up to 70000 bytes) under a TAP file's name, through the catalogue:
// the line of one file, the list entry, and a scan of a directory holding it among other entries.
// Input: byte 0 picks the file's name (low two bits), the neighbours the scan meets (bits 2 and 3)
// and the size of the buffer the line is composed into (high four bits); the rest is the contents.
// Checked besides the sanitizers: a line always fits and is terminated in any buffer, names the
// file and ends with its size; the scan lists every readable TAP file once and continues after
// the highest number.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "decoder/catalogue.h"
#include "decoder/tapfile.h"
#include "tests/fuzz/fuzz_support.h"

namespace fs = std::filesystem;

namespace {

struct Placement {
    const char* name;
    int32_t number;
};

// Near the ends of the numbering: the first file, the old scan's last, the first four-digit one, the
// largest the scan counts.
const Placement kPlacements[4] = {
    {"out001.tap", 1}, {"out998.tap", 998}, {"out1000.tap", 1000}, {"out999999999.tap", 999999999}};

const int kLineSizes[16] = {1, 2, 3, 8, 11, 12, 16, 20, 24, 32, 40, 48, 64, 96, 128, 256};

void Write(const char* name, const uint8_t* data, size_t size)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out)
        FuzzFailure("cannot write", name);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    EnterScratchDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    EmptyCurrentDirectory();
    const uint8_t layout = data[0];
    const Placement& file = kPlacements[layout & 3];
    const uint8_t* contents = data + 1;
    const size_t length = size - 1;
    Write(file.name, contents, length);

    // The line in a buffer of exactly its size, so that any byte written past it is caught.
    const int lineSize = kLineSizes[layout >> 4];
    std::unique_ptr<char[]> small(new char[lineSize]);
    DescribeTapeLine(file.name, small.get(), lineSize);
    if (std::strlen(small.get()) >= static_cast<size_t>(lineSize))
        FuzzFailure("an unterminated catalogue line", file.name);

    char line[256];
    DescribeTapeLine(file.name, line, sizeof line);
    const std::string text = line;
    const std::string sizeText = " (" + std::to_string(static_cast<long>(length) - 2) + ")";
    if (text.rfind(std::string(file.name) + " ", 0) != 0 || text.size() < sizeText.size() ||
        text.compare(text.size() - sizeText.size(), sizeText.size(), sizeText) != 0)
        FuzzFailure("a catalogue line without the file's name or size", text);
    if (std::strncmp(small.get(), line, static_cast<size_t>(lineSize) - 1) != 0)
        FuzzFailure("a short buffer got other text than the start of the line", small.get());

    FuzzUiState.catalogue.clear();
    DescribeTapeFile(file.name);
    if (FuzzUiState.catalogue.size() != 1 || FuzzUiState.catalogue[0] != text)
        FuzzFailure("the list entry differs from the line", text);

    // Neighbours: a directory taking a higher number, which blocks it without being listed, and a
    // file of the same contents under an upper-case name.
    size_t listed = 1;
    int32_t highest = file.number;
    if (layout & 4) {
        fs::create_directory("out1000000.tap");
        highest = std::max(highest, 1000000);
    }
    if (layout & 8) {
        Write("OUT000.TAP", contents, length);
        ++listed;
    }
    NextTapeNumber = 7;
    ScanTapeFiles();
    if (FuzzUiState.catalogue.size() != listed)
        FuzzFailure("the scan did not list every readable TAP file once", std::to_string(FuzzUiState.catalogue.size()));
    if (NextTapeNumber != highest + 1)
        FuzzFailure("the scan did not continue after the highest number", std::to_string(NextTapeNumber));
    return 0;
}
