// Fuzz target: any recording under any thresholds through a raw-file run of the decoder, as the
// program's Start with a raw file does it: OpenRawInput, file mode, DecoderThread to the end of the
// file, then what Stop leaves behind closed.
// Input: the first 40 bytes are the ten thresholds, each a little-endian signed 32-bit number in the
// order of TimingFields (missing ones keep their defaults; BaseLine keeps its low 8 bits, as the
// settings field does); the rest is the recording, one unsigned sample per byte.
// Besides the sanitizers, every run checks what a user relies on: the run ends at the end of the
// file, every finished block's file carries its true length, only the file the next run would
// reuse is unfinished, and no block holds more bytes than the samples could carry.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "decoder/catalogue.h"
#include "decoder/halfperiod.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "decoder/timing.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const size_t kSettingsBytes = 4 * kTimingFieldCount;

TimingRecord SettingsFrom(const uint8_t* data, size_t size)
{
    TimingRecord settings = DefaultTiming();
    for (int i = 0; i < kTimingFieldCount; ++i) {
        const size_t at = 4 * static_cast<size_t>(i);
        if (at + 4 > size)
            break;
        const uint32_t value = data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
                               static_cast<uint32_t>(data[at + 3]) << 24;
        SetTimingValue(settings, TimingFields[i], static_cast<int32_t>(value));
    }
    return settings;
}

// The state of a fresh process, so that each input is decoded as the first run after start-up.
void FreshProcess()
{
    EmptyCurrentDirectory();
    ResetDecoder();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    EnterScratchDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FreshProcess();
    const size_t skip = size < kSettingsBytes ? size : kSettingsBytes;
    const size_t sampleCount = size - skip;
    {
        std::ofstream raw("input.pcm", std::ios::binary | std::ios::trunc);
        raw.write(reinterpret_cast<const char*>(data + skip), static_cast<std::streamsize>(sampleCount));
        if (!raw)
            FuzzFailure("cannot write the recording", "input.pcm");
    }

    ScanTapeFiles();  // start-up, in the empty TAPE directory
    TimingSettings = SettingsFrom(data, size);
    if (!BeginRun("input.pcm"))
        FuzzFailure("cannot open the recording", "input.pcm");
    const int exitCode = RunDecoderHere();
    if (exitCode != kExitEndOfFile)
        FuzzFailure("a raw-file run did not end at the end of its file", std::to_string(exitCode));
    CollectRunEndedByItself();
    CheckTapFiles(sampleCount);
    return 0;
}
