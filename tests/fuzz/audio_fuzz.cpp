// Fuzz target: any file given to the console decoder's audio path, as quorvane-decode reads it:
// recognised by its contents, opened (or refused) through audio/audiofile.h, and decoded to its end
// through an audio run of the decoder.
// Input: three bytes of settings, then the file's contents. The first byte chooses the channel
// (its value modulo 4: 0 mixes, 1 to 3 take that channel), the second is BaseLine, the third
// PilotWait (small values let short pilots through, so blocks come out of small inputs).
// Besides the sanitizers, every run checks what a user relies on: recognition never reads outside
// the file; a refused file is refused by name and leaves nothing behind; an opened one is decoded
// to the end, and its TAP files are whole, as a raw run's are.
#include <cstdint>
#include <fstream>
#include <string>

#include "audio/audiofeed.h"
#include "audio/audiofile.h"
#include "audio/format.h"
#include "decoder/catalogue.h"
#include "decoder/halfperiod.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "decoder/timing.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const size_t kSettingsBytes = 3;
int64_t samplesRead;

void CountSamples(AudioFile* file)
{
    samplesRead = AudioSamplesRead(file);
    AudioDamage damage;
    while (TakeAudioDamage(file, &damage))
        if (damage.what.empty() || damage.from < 0 || (damage.to >= 0 && damage.to < damage.from))
            FuzzFailure("a damage report that names no stretch", damage.what);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    EnterScratchDirectory();
    AudioBatchRead = CountSamples;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    EmptyCurrentDirectory();
    ResetDecoder();
    const size_t skip = size < kSettingsBytes ? size : kSettingsBytes;
    const uint8_t* contents = data + skip;
    const size_t length = size - skip;

    const AudioFormat format = RecogniseAudioBytes(contents, length);
    DescribeAudioFormat(format);
    const std::string damage = AudioFormatDamage(format);
    if (format.kind == kRawRecording && !damage.empty())
        FuzzFailure("a raw recording found damaged", damage);

    {
        std::ofstream file("input.rec", std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(contents), static_cast<std::streamsize>(length));
        if (!file)
            FuzzFailure("cannot write the recording", "input.rec");
    }
    const int channel = size > 0 ? data[0] % 4 : kMixChannels;
    std::string error;
    AudioFile* file = OpenAudioFile("input.rec", channel, &error);
    if (!file) {
        if (error.find("'input.rec'") == std::string::npos)
            FuzzFailure("a refusal that does not name the file", error);
        return 0;
    }
    ScanTapeFiles();
    TimingSettings = DefaultTiming();
    if (size > 1)
        TimingSettings.BaseLine = data[1];
    if (size > 2)
        TimingSettings.PilotWait = data[2];
    samplesRead = 0;
    BeginAudioRun(file);
    const int exitCode = RunDecoderHere();
    if (exitCode != kExitEndOfFile)
        FuzzFailure("an audio run did not end at the end of its file", std::to_string(exitCode));
    CollectRunEndedByItself();
    CheckTapFiles(static_cast<size_t>(samplesRead));
    return 0;
}
