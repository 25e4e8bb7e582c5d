// quorvane-decode FILE [--rescue] [--channel C] [--report R.json] [--join J.tap] [--histogram H.svg] [--PilotMin N] ... [--BaseLine N]
// quorvane-decode --rescue PLAY1 PLAY2 ... [--channel C] [--report R.json] [--join J.tap] [--tzx T.tzx] [--csw C.csw]
// A file run of the decoder without the window: in the current directory it creates and enters
// TAPE, lists the TAP files there, takes the thresholds (defaults for the ones not given), decodes
// FILE to the end and writes each block into its own out%03i.tap, logging to status.log. Pane
// lines go to standard output.
// FILE is recognised by its contents. A file with no recognised header is a raw recording, read
// as the Windows program's raw-file run reads it, which it leaves the very same files and
// status.log bytes. An audio file is read at full precision through audio/ (channels mixed or one
// taken, any rate converted to 44100/s); positions are then samples at 44100/s. A build without
// the audio libraries refuses audio files by name.
// --rescue reads the recording with the rescue decoder (rescue/rescue.h) instead, for damaged
// tapes: same files, log lines of its own, the thresholds not used. Given several recordings, each
// a play of one tape, it reads them all before TAPE is made, matches their blocks and writes each
// block once, from the play that read it whole or rebuilt from every play's copy.
// A play in which no block was found, or whose blocks match none of the other plays', is named on
// standard error and in the log and left out; its blocks are placed by time where they fit. With
// --rescue, --tzx writes the whole tape as TZX (tape/tzx.h) and --csw the first play's half-waves as
// the rescue decoder cut them, as CSW (tape/csw.h).
// --histogram draws the recording's half-waves against the thresholds, with the rescue decoder's
// measurement and the thresholds it suggests (rescue/measure.h), as the window's picture does.
// Exit status: 0 the recording was decoded to its end; 1 FILE could not be opened or read, or was
// refused (nothing is created); 2 bad usage; 3 a TAP file could not be created; 4 the report, the
// joined TAP, the TZX, the CSW file or the histogram could not be written (the TAP files stay).

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/blockreport.h"
#include "app/console_ui.h"
#include "audio/audiofeed.h"
#include "audio/audiofile.h"
#include "audio/format.h"
#include "decoder/catalogue.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "decoder/timing.h"
#include "rescue/rescue.h"
#include "rescue/rescueinput.h"
#include "report/histogram.h"
#include "rescue/measure.h"
#include "tape/csw.h"
#include "tape/join.h"
#include "tape/report.h"
#include "tape/tzx.h"
#include "qv_version.h"

namespace fs = std::filesystem;

namespace {

void PrintUsage(std::FILE* out)
{
    std::fprintf(out, "usage: quorvane-decode FILE [--rescue] [--channel left|right|N] [--report FILE.json] [--join FILE.tap]"
                      " [--histogram FILE.svg]");
    for (const TimingField& field : TimingFields)
        std::fprintf(out, " [--%s N]", field.name);
    std::fprintf(out,
                 "\n       quorvane-decode --rescue PLAY1 PLAY2 ... [--channel C] [--report FILE.json] [--join FILE.tap]"
                 "\n                       [--tzx FILE.tzx] [--csw FILE.csw]"
                 "\n       quorvane-decode --help | --version\n"
                 "Decodes the ZX Spectrum tape in FILE into TAPE/out001.tap, out002.tap, ... (one block a file)\n"
                 "and appends its log to TAPE/status.log, TAPE being made in the current directory.\n"
                 "  FILE             an audio file (WAV, RF64, W64, FLAC, Ogg, AIFF, ... any depth, rate and\n"
                 "                   channel count), recognised by its contents, or a raw recording (unsigned\n"
                 "                   8-bit mono samples at 44100/s, no header)\n"
                 "  --rescue         decode a damaged tape: filters, measured timings, each failed block read\n"
                 "                   again with other settings (the thresholds below are not used); given\n"
                 "                   several plays of one tape, each block from the play that read it whole,\n"
                 "                   or rebuilt from all of them\n"
                 "  --channel C      take one channel (left, right or its number from 1) instead of mixing all\n"
                 "  --report R.json  write what was found, block by block, as JSON\n"
                 "  --join J.tap     write every block, good and bad, into one TAP file in tape order\n"
                 "  --tzx T.tzx      with --rescue: write the whole tape as TZX, every block with its timings\n"
                 "  --csw C.csw      with --rescue: write the recording's pulses (the first play's) as CSW\n"
                 "  --histogram H.svg  draw the half-waves' lengths against the thresholds, with the rescue\n"
                 "                   decoder's measurement and the thresholds suggested from it\n"
                 "  Thresholds (samples at 44100/s) default to:");
    for (const TimingField& field : TimingFields)
        std::fprintf(out, " %s=%i", field.name, static_cast<int>(field.defaultValue));
    std::fprintf(out,
                 "\nExit status: 0 decoded to the end, 1 FILE cannot be opened or read (nothing is created),\n"
                 "2 bad usage, 3 a TAP file could not be created, 4 the report, joined TAP, TZX, CSW or\n"
                 "histogram could not be written.\n");
}

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "quorvane-decode: %s\n", problem.c_str());
    PrintUsage(stderr);
    return 2;
}

int Refuse(const std::string& why)
{
    std::fprintf(stderr, "quorvane-decode: %s\n", why.c_str());
    return 1;
}

std::string Clock(int64_t samples)
{
    const double seconds = static_cast<double>(samples) / kDecoderRate;
    const int64_t whole = static_cast<int64_t>(seconds);
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02i:%04.1f", whole / 3600, static_cast<int>(whole / 60 % 60),
                  seconds - static_cast<double>(whole - whole % 60));
    return text;
}

// The input as the run reads it: the audio file's own name and reading, for the report and the
// progress line.
struct Input {
    const char* name = nullptr;
    std::string play;  // "play 2: " while one of several plays is read
    Tape* tape = nullptr;  // where the damaged stretches go
    int64_t samples = 0;
    bool progress = false;
    std::chrono::steady_clock::time_point started, shown;
} input;

void AfterBatch(AudioFile* file)
{
    AudioDamage damage;
    while (TakeAudioDamage(file, &damage)) {
        damage.what = input.play + damage.what;
        if (damage.to < 0)
            std::fprintf(stderr, "quorvane-decode: '%s': at %s: %s\n", input.name, Clock(damage.from).c_str(),
                         damage.what.c_str());
        else
            std::fprintf(stderr, "quorvane-decode: '%s': %s to %s %s; read as silence\n", input.name,
                         Clock(damage.from).c_str(), Clock(damage.to).c_str(), damage.what.c_str());
        input.tape->damaged.push_back({damage.from, damage.to, damage.what});
    }
    input.samples = AudioSamplesRead(file);
    if (!input.progress)
        return;
    // Only a run long enough to wait for shows its progress, a few times a second.
    const auto now = std::chrono::steady_clock::now();
    if (now - input.started < std::chrono::seconds(1) || now - input.shown < std::chrono::milliseconds(250))
        return;
    input.shown = now;
    const int64_t expected = AudioSamplesExpected(file);
    char text[96];
    if (expected > 0)
        std::snprintf(text, sizeof text, "%s%s of %s (%.0f%%)", input.play.c_str(), Clock(input.samples).c_str(),
                      Clock(expected).c_str(),
                      100.0 * static_cast<double>(input.samples) / static_cast<double>(expected));
    else
        std::snprintf(text, sizeof text, "%s%s", input.play.c_str(), Clock(input.samples).c_str());
    ShowProgress(text);
}

// The picture of FILE's half-waves against the thresholds, with the rescue decoder's measurement and
// its suggestion beside it. False, after saying why, when it cannot be made or written.
bool WriteHistogram(const std::string& path, const char* recording, int channel, const TimingRecord& settings)
{
    RecordingLook look;
    std::string error;
    if (!LookAtRecording(recording, channel, settings.BaseLine, &look, &error, nullptr)) {
        std::fprintf(stderr, "quorvane-decode: --histogram: %s\n", error.c_str());
        return false;
    }
    const HistogramLayout layout = LayOutHistogram(look.histogram, settings, 612, 330);
    const std::string svg =
        HistogramSvg(layout, DescribeLook(look.measure, SuggestThresholds(look.measure, settings)), 250);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool written =
        file && std::fwrite(svg.data(), 1, svg.size(), file) == svg.size() && std::fclose(file) == 0;
    if (!written) {
        std::fprintf(stderr, "quorvane-decode: cannot write the histogram '%s': %s\n", path.c_str(),
                     std::strerror(errno));
        if (file)
            std::fclose(file);
    }
    return written;
}

// An output named on the command line must be writable where it is named: its directory exists.
bool OutputPlace(const char* option, const std::string& name, std::string* absolute, std::string* problem)
{
    std::error_code error;
    const fs::path path = fs::absolute(name, error);
    const fs::path parent = path.parent_path();
    if (error || name.empty() || fs::is_directory(path, error) || !fs::is_directory(parent, error)) {
        *problem = std::string(option) + " '" + name + "': not a file in an existing directory";
        return false;
    }
    *absolute = path.string();
    return true;
}

// An output's writer's verdict, said on standard error by the output's name when it failed.
bool Written(const char* what, const std::string& path, bool ok, const std::string& why)
{
    if (!ok)
        std::fprintf(stderr, "quorvane-decode: cannot write %s '%s': %s\n", what, path.c_str(), why.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    TimingRecord settings = DefaultTiming();
    std::vector<const char*> files;
    int channel = kMixChannels;
    std::string channelText = "mix", reportName, joinName, tzxName, cswName, histogramName;
    bool rescue = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("quorvane-decode %s", QV_VERSION);
            if (QV_COMMIT[0])
                std::printf(", commit %s", QV_COMMIT);
            std::printf(" (%s)\n", AudioLibraryVersion().c_str());
            return 0;
        }
        if (arg == "--rescue") {
            rescue = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            files.push_back(argv[i]);
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
            return Usage("no value after " + arg);
        }
        if (name == "channel") {
            if (!ParseAudioChannel(value.c_str(), &channel))
                return Usage("unknown channel '" + value + "' (left, right or a number from 1)");
            channelText = value;
            continue;
        }
        if (name == "report" || name == "join" || name == "tzx" || name == "csw" || name == "histogram") {
            (name == "report"  ? reportName
             : name == "join"  ? joinName
             : name == "tzx"   ? tzxName
             : name == "csw"   ? cswName
                               : histogramName) = value;
            continue;
        }
        const TimingField* field = FindTimingField(name.c_str());
        if (!field)
            return Usage("unknown option " + arg);
        // The same conversion the settings fields get, so a value means here what it means there.
        SetTimingValue(settings, *field, FieldToInt(value.c_str()));
    }
    if (files.empty())
        return Usage("no FILE given");
    // Several recordings are several plays of one tape, which only the rescue decoder combines.
    if (files.size() > 1 && !rescue)
        return Usage(std::string("more than one FILE: ") + files[1]);
    // The timings of a TZX and the pulses of a CSW are the rescue decoder's measurements.
    if (!rescue && !(tzxName.empty() && cswName.empty()))
        return Usage(std::string(tzxName.empty() ? "--csw" : "--tzx") + " needs --rescue");
    const char* fileName = files[0];
    std::string reportPath, joinPath, tzxPath, cswPath, histogramPath, problem;
    if ((!reportName.empty() && !OutputPlace("--report", reportName, &reportPath, &problem)) ||
        (!joinName.empty() && !OutputPlace("--join", joinName, &joinPath, &problem)) ||
        (!tzxName.empty() && !OutputPlace("--tzx", tzxName, &tzxPath, &problem)) ||
        (!cswName.empty() && !OutputPlace("--csw", cswName, &cswPath, &problem)) ||
        (!histogramName.empty() && !OutputPlace("--histogram", histogramName, &histogramPath, &problem)))
        return Usage(problem);

    // Checked and opened before TAPE is made: the names are relative to where the program was
    // started, and a file that cannot be decoded leaves nothing behind.
    std::error_code error;
    // Read again after the run, from inside TAPE.
    const std::string histogramSource = fs::absolute(fileName, error).string();
    AudioFormat format;
    for (const char* name : files) {
        if (fs::is_directory(name, error))
            return Refuse(std::string("cannot read the recording '") + name + "': it is a directory");
        errno = 0;
        if (!RecogniseAudioFile(name, &format))
            return Refuse(std::string("cannot open the recording '") + name + "': " +
                          (errno ? std::strerror(errno) : "open failed"));
    }
    if (files.size() > 1)
        RecogniseAudioFile(fileName, &format);
    input.name = fileName;
    Tape tape;
    input.tape = &tape;
    if (!rescue)
        RecordBlocks(&tape);
    std::string described = AudioKindName(kRawRecording);
    std::vector<RescueInput*> rescueInputs;
    std::vector<Play> plays;
    std::vector<PlayFacts> playFacts;
    if (rescue) {
        for (const char* name : files) {
            std::string why;
            RescueInput* opened = OpenRescueInput(name, channel, &why);
            if (!opened) {
                for (RescueInput* open : rescueInputs)
                    CloseRescueInput(open);
                return Refuse(why);
            }
            rescueInputs.push_back(opened);
        }
        described = RescueInputDescription(rescueInputs[0]);
        input.progress = isatty(2);
        input.started = std::chrono::steady_clock::now();
        AudioBatchRead = AfterBatch;
    } else if (format.kind == kRawRecording && channel <= 1) {
        errno = 0;
        if (!BeginRun(fileName))
            return Refuse(std::string("cannot open the raw recording '") + fileName + "': " +
                          (errno ? std::strerror(errno) : "open failed"));
        input.samples = format.fileSize;
    } else {
        std::string why;
        AudioFile* audio = OpenAudioFile(fileName, channel, &why);
        if (!audio)
            return Refuse(why);
        described = AudioFileDescription(audio);
        input.progress = isatty(2);
        input.started = std::chrono::steady_clock::now();
        AudioBatchRead = AfterBatch;
        BeginAudioRun(audio);
    }

    // The CSW takes the half-waves of the first (or only) play as they are cut. One that cannot be
    // written is said at once; the run goes on, and ends with 4.
    std::string why;
    CswWriter* csw = nullptr;
    bool written = true;
    if (!cswPath.empty()) {
        csw = CswOpen(cswPath, kDecoderRate, false, &why);
        written = Written("the CSW file", cswPath, csw != nullptr, why);
    }

    // Several plays are read whole before anything is made. A play that shares no block with the
    // others (of another tape, or holding none) is named and left out; the tape is written from
    // the plays that match.
    PlayedTape sorted;
    if (rescueInputs.size() > 1) {
        plays.resize(rescueInputs.size());
        for (size_t p = 0; p < rescueInputs.size(); ++p) {
            input.name = files[p];
            input.play = "play " + std::to_string(p + 1) + ": ";
            input.samples = 0;
            plays[p].name = files[p];
            ReadRescuePlay(rescueInputs[p], plays[p], p == 0 ? csw : nullptr);
            playFacts.push_back({files[p], RescueInputDescription(rescueInputs[p]), input.samples});
            CloseRescueInput(rescueInputs[p]);
            rescueInputs[p] = nullptr;
        }
        ClearProgress();
        input.name = fileName;
        input.play.clear();
        input.samples = playFacts[0].samples;
        sorted = SortPlays(plays);
        for (const std::string& line : sorted.leftOut)
            std::fprintf(stderr, "quorvane-decode: %s\n", line.c_str());
    }

    // As the program's start-up: an existing TAPE is simply entered.
    fs::create_directory("TAPE", error);
    fs::current_path("TAPE", error);
    if (error)
        std::fprintf(stderr, "quorvane-decode: cannot enter TAPE (%s); writing here\n", error.message().c_str());

    ScanTapeFiles();
    TimingSettings = settings;
    int exitCode;
    if (!plays.empty())
        exitCode = WritePlays(plays, sorted, tape);
    else if (!rescueInputs.empty())
        exitCode = RunRescueInput(rescueInputs[0], tape, csw);
    else
        exitCode = RunDecoderHere();
    EndRun();
    if (plays.empty() && !rescueInputs.empty())
        CloseRescueInput(rescueInputs[0]);
    ClearProgress();
    RecordUnfinishedBlock(input.samples);

    PrintCatalogue();
    if (csw)
        written = Written("the CSW file", cswPath, CswClose(csw, &why), why) && written;
    if (!tzxPath.empty())
        written = Written("the TZX file", tzxPath, WriteTzx(tzxPath, tape, std::string("Quorvane ") + QV_VERSION, &why),
                          why) && written;
    if (!reportPath.empty()) {
        RunFacts run;
        run.input = fileName;
        run.format = described;
        run.channel = channelText;
        run.tapeDirectory = fs::current_path(error).string();
        run.samples = input.samples;
        run.plays = playFacts;
        written = Written("the report", reportPath, WriteJsonReport(reportPath, run, tape, &why), why) && written;
    }
    if (!joinPath.empty())
        written = Written("the joined TAP file", joinPath, WriteJoinedTap(joinPath, tape, &why), why) && written;
    if (!histogramPath.empty())
        written = WriteHistogram(histogramPath, histogramSource.c_str(), channel, settings) && written;
    if (exitCode == kExitCannotCreate)
        return 3;
    return written ? 0 : 4;
}
