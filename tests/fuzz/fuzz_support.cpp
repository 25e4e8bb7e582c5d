// The seam reads every text it gets to its terminator, so an unterminated or overlong line shows
// up under AddressSanitizer. A fatal box means a broken invariant of the core, which is a finding:
// it aborts instead of ending the process quietly.
#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>
#include <system_error>

#include "capture/capture.h"
#include "decoder/catalogue.h"
#include "decoder/halfperiod.h"
#include "decoder/run.h"
#include "decoder/tapfile.h"
#include "report/ui.h"

namespace fs = std::filesystem;

FuzzUi FuzzUiState;

namespace {

fs::path scratch;

void RemoveScratch()
{
    std::error_code ignored;
    fs::current_path(fs::temp_directory_path(ignored), ignored);
    fs::remove_all(scratch, ignored);
}

// Every pane line the core composes fits 255 characters; a longer one would have overrun its buffer.
void TakeText(const char* text)
{
    if (std::strlen(text) > 255)
        FuzzFailure("a text longer than a pane line", text);
}

}  // namespace

void UiStatusInsert(const char* text)
{
    TakeText(text);
}

void UiHeaderInsert(const char* text)
{
    TakeText(text);
}

void UiCatalogueReset()
{
    FuzzUiState.catalogue.clear();
}

void UiCatalogueAppend(const char* line)
{
    TakeText(line);
    FuzzUiState.catalogue.push_back(line);
}

void UiCatalogueSelectLast() {}

void UiRunEnded()
{
    ++FuzzUiState.runEndedCalls;
}

void UiInfoBox(const char* text)
{
    TakeText(text);
}

void UiFatalBox(const char* text)
{
    std::fprintf(stderr, "FATAL ERROR: %s\n", text);
    std::abort();
}

void UiLocalTime(int* hour, int* minute, int* second)
{
    *hour = 23;
    *minute = 59;
    *second = 59;
}

void EnterScratchDirectory()
{
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "quorvane-fuzz-XXXXXX").string();
    if (error || !mkdtemp(pattern.data()))
        FuzzFailure("cannot create a scratch directory", pattern);
    scratch = pattern;
    fs::current_path(scratch, error);
    if (error)
        FuzzFailure("cannot enter the scratch directory", error.message());
    std::atexit(RemoveScratch);
}

void EmptyCurrentDirectory()
{
    std::error_code error;
    for (fs::directory_iterator it(".", error), end; !error && it != end; it.increment(error))
        fs::remove_all(it->path(), error);
}

void CollectRunEndedByItself()
{
    if (RawInputOpen() || TapOutputOpen())
        FuzzFailure("the end of the file left the run half open", "");
    if (FuzzUiState.runEndedCalls != 1)
        FuzzFailure("the end of the run was told to the front end other than once", "");
    FuzzUiState.runEndedCalls = 0;
    EndRun();
    if (FileMode())
        FuzzFailure("the run was still in file mode after it was collected", "");
}

void CheckTapFiles(size_t sampleCount)
{
    char unfinished[32];
    TapeFileName(unfinished, sizeof unfinished, NextTapeNumber);
    bool unfinishedSeen = false;
    size_t blockBytes = 0;
    std::error_code error;
    for (fs::directory_iterator it(".", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const int64_t number = TapeFileNumber(name.c_str());
        if (number < 0)
            continue;
        if (number > NextTapeNumber)
            FuzzFailure("a TAP file numbered past NextTapeNumber", name);
        std::ifstream in(name, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (bytes.size() < 2)
            FuzzFailure("a TAP file without its length field", name);
        blockBytes += bytes.size() - 2;
        const unsigned field = bytes[0] | bytes[1] << 8;
        if (name == unfinished) {
            // The block the end of the file interrupted: it keeps the two placeholder blanks.
            unfinishedSeen = true;
            if (bytes[0] != 0x20 || bytes[1] != 0x20)
                FuzzFailure("the interrupted block's file has no placeholder", name);
        } else if (bytes.size() < 3 || field != ((bytes.size() - 2) & 0xFFFF)) {
            FuzzFailure("a finished block's length field does not match its file", name);
        }
    }
    if (!unfinishedSeen)
        FuzzFailure("no file for the block the end of the recording interrupted", unfinished);
    // Every half-period takes at least one sample and a byte takes sixteen of them.
    if (blockBytes > sampleCount / 16)
        FuzzFailure("more block bytes than the samples could carry", std::to_string(blockBytes));
}

void FuzzFailure(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "quorvane fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}
