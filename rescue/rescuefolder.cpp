#include "rescue/rescuefolder.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "report/status.h"

namespace fs = std::filesystem;

namespace {

size_t ReadUntilStopped(void* context, float* out, size_t count)
{
    // The end of the recording, as far as the rescue is concerned: what it holds is still read.
    if (DecoderStopRequested())
        return 0;
    const RescueSource* source = static_cast<const RescueSource*>(context);
    return source->read(source->context, out, count);
}

std::vector<uint8_t> ReadBlockFile(const char* name)
{
    std::ifstream in(name, std::ios::in | std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Counts the block files written from out001.tap on and joins them into tape.tap.
void JoinBlocks(int32_t end, FolderRescue& result)
{
    std::ofstream joined("tape.tap", std::ios::out | std::ios::binary | std::ios::trunc);
    for (int32_t number = 1; number < end; ++number) {
        char name[32];
        TapeFileName(name, sizeof name, number);
        const std::vector<uint8_t> bytes = ReadBlockFile(name);
        if (bytes.size() <= 2)
            continue;
        ++result.blocks;
        uint8_t sum = 0;
        for (size_t i = 2; i < bytes.size(); ++i)
            sum ^= bytes[i];
        if (sum == 0)
            ++result.good;
        joined.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    joined.close();
    if (!joined)
        LogStatus("Write error: tape.tap is incomplete");
}

}  // namespace

std::string RescueFolderFor(const std::string& recording)
{
    const std::string stem = fs::path(recording).stem().string();
    std::string folder = stem.empty() ? std::string("rescue") : stem;
    std::error_code error;
    for (int n = 2; fs::exists(folder, error); ++n)
        folder = (stem.empty() ? std::string("rescue") : stem) + "-" + std::to_string(n);
    return folder;
}

std::string RescueSummary(int good, int blocks, int liveGood)
{
    std::string line = "Rescue: " + std::to_string(good) + " of " + std::to_string(blocks) + " blocks good";
    if (liveGood < 0)
        return line;
    const int more = good - liveGood;
    if (more == 0)
        return line + ", as many as the live run";
    return line + ", " + std::to_string(more > 0 ? more : -more) + (more > 0 ? " more" : " fewer") +
           " than the live run";
}

FolderRescue RescueIntoFolder(const RescueSource& recording, const std::string& folder, int liveGood)
{
    FolderRescue result;
    result.exitCode = kExitCannotCreate;
    std::error_code error;
    const fs::path from = fs::current_path(error);
    bool entered = !error && fs::create_directory(folder, error);
    if (entered) {
        fs::current_path(folder, error);
        entered = !error;
    }
    if (!entered) {
        LogStatusF("Can't create folder %s (%s). Rescue not started", folder.c_str(),
                   error ? error.message().c_str() : "it exists");
        return result;
    }
    const int32_t liveNumber = NextTapeNumber;
    NextTapeNumber = 1;
    RescueSource inner = recording;
    const RescueSource source{recording.channels, recording.rate, ReadUntilStopped, &inner};
    result.exitCode = RunRescue(source);
    if (DecoderStopRequested() && result.exitCode == kExitEndOfFile)
        result.exitCode = kExitStopped;
    JoinBlocks(NextTapeNumber, result);
    LogStatus(RescueSummary(result.good, result.blocks, liveGood).c_str());
    NextTapeNumber = liveNumber;
    fs::current_path(from, error);
    return result;
}
