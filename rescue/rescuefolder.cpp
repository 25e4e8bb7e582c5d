#include "rescue/rescuefolder.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "report/status.h"
#include "tape/join.h"
#include "tape/tzx.h"

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

FolderRescue RescueIntoFolder(const RescueSource& recording, const std::string& folder, int liveGood,
                              const std::string& creator)
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
    RescueSource source = recording;
    source.read = ReadUntilStopped;
    source.context = &inner;
    Tape tape;
    result.exitCode = RunRescue(source, tape);
    if (DecoderStopRequested() && result.exitCode == kExitEndOfFile)
        result.exitCode = kExitStopped;
    for (const TapeItem& item : tape.items) {
        if (item.kind != kItemData)
            continue;
        ++result.blocks;
        result.good += item.verdict == kVerdictOk || item.verdict == kVerdictRepaired;
    }
    std::string why;
    if (!WriteJoinedTap("tape.tap", tape, &why))
        LogStatusF("Write error: tape.tap is incomplete (%s)", why.c_str());
    if (!WriteTzx("tape.tzx", tape, creator, &why))
        LogStatusF("Write error: tape.tzx is incomplete (%s)", why.c_str());
    LogStatus(RescueSummary(result.good, result.blocks, liveGood).c_str());
    NextTapeNumber = liveNumber;
    fs::current_path(from, error);
    return result;
}
