// quorvane-decode RAWFILE [--PilotMin N] ... [--BaseLine N]
// A raw-file run of the decoder without the window: in the current directory it creates and enters
// TAPE, lists the TAP files there, takes the thresholds (defaults for the ones not given), decodes
// RAWFILE to the end and leaves in TAPE what the Windows program's raw-file run leaves: the same
// out%03i.tap files and the same status.log bytes. Pane lines go to standard output.
// Exit status: 0 the recording was decoded to its end; 1 RAWFILE could not be opened (nothing is
// created); 2 bad usage; 3 a TAP file could not be created.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/console_ui.h"
#include "decoder/catalogue.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "decoder/timing.h"

namespace fs = std::filesystem;

namespace {

int Usage(const char* problem)
{
    if (problem)
        std::fprintf(stderr, "quorvane-decode: %s\n", problem);
    std::fprintf(stderr, "usage: quorvane-decode RAWFILE");
    for (const TimingField& field : TimingFields)
        std::fprintf(stderr, " [--%s N]", field.name);
    std::fprintf(stderr,
                 "\n  RAWFILE: unsigned 8-bit mono samples at 44100/s, no header.\n"
                 "  Thresholds default to:");
    for (const TimingField& field : TimingFields)
        std::fprintf(stderr, " %s=%i", field.name, static_cast<int>(field.defaultValue));
    std::fprintf(stderr, "\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    TimingRecord settings = DefaultTiming();
    const char* rawFile = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return Usage(nullptr), 0;
        if (arg.rfind("--", 0) != 0) {
            if (rawFile)
                return Usage(("more than one RAWFILE: " + arg).c_str());
            rawFile = argv[i];
            continue;
        }
        std::string name = arg.substr(2), value;
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.erase(equals);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return Usage(("no value after " + arg).c_str());
        }
        const TimingField* field = FindTimingField(name.c_str());
        if (!field)
            return Usage(("unknown option " + arg).c_str());
        // The same conversion the settings fields get, so a value means here what it means there.
        SetTimingValue(settings, *field, FieldToInt(value.c_str()));
    }
    if (!rawFile)
        return Usage("no RAWFILE given");

    std::error_code error;
    if (fs::is_directory(rawFile, error)) {
        std::fprintf(stderr, "quorvane-decode: cannot read the raw recording '%s': it is a directory\n",
                     rawFile);
        return 1;
    }
    // Opened before TAPE is entered: the name is relative to where the program was started.
    errno = 0;
    if (!BeginRun(rawFile)) {
        std::fprintf(stderr, "quorvane-decode: cannot open the raw recording '%s': %s\n", rawFile,
                     errno ? std::strerror(errno) : "open failed");
        return 1;
    }

    // As the program's start-up: an existing TAPE is simply entered.
    fs::create_directory("TAPE", error);
    fs::current_path("TAPE", error);
    if (error)
        std::fprintf(stderr, "quorvane-decode: cannot enter TAPE (%s); writing here\n",
                     error.message().c_str());

    ScanTapeFiles();
    TimingSettings = settings;
    const int exitCode = RunDecoderHere();
    EndRun();

    PrintCatalogue();
    return exitCode == kExitCannotCreate ? 3 : 0;
}
