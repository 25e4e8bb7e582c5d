#include "decoder/halfperiod.h"

#include <atomic>
#include <fstream>

#include "capture/capture.h"
#include "capture/pipe.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "decoder/timing.h"
#include "report/status.h"

namespace {

int32_t polarity = 1;
int32_t runCount = 0;
std::ifstream rawInput;
// Set while a reader other than the raw file is the input.
FileReader reader;
bool readerOpen = false;

// The raw file is read in batches; the stop request is looked at once per batch, which keeps the
// per-sample path to one comparison and still stops within a fraction of a millisecond.
enum { kBatch = 16384 };
uint8_t batch[kBatch];
int32_t batchFill = 0;
int32_t batchPos = 0;
// Raw-file offset of batch[0]: 64-bit, since a recording of 13.5 hours passes 2 GiB.
int64_t batchStart = 0;

[[noreturn]] void EndOfRawFile()
{
    StopCapture();
    SetFileMode(false);
    CloseRawInput();
    LogStatus(".PCM file closed");
    // The block in progress keeps its placeholder length: it is unfinished.
    CloseTapOutput();
    throw DecoderStopped{kExitEndOfFile};
}

uint8_t RefillFromFile()
{
    ThrowIfDecoderStopRequested();
    batchStart += batchFill;
    batchPos = 0;
    batchFill = 0;
    if (readerOpen) {
        batchFill = reader.read(reader.context, batch, kBatch, TimingSettings.BaseLine);
    } else if (rawInput.is_open() && rawInput.good()) {
        rawInput.read(reinterpret_cast<char*>(batch), kBatch);
        batchFill = static_cast<int32_t>(rawInput.gcount());
    }
    // A file that cannot be read further (shrunk, vanished, a read error) has ended.
    if (batchFill == 0)
        EndOfRawFile();
    return batch[batchPos++];
}

inline uint8_t NextSample()
{
    if (FileMode()) {
        if (batchPos < batchFill)
            return batch[batchPos++];
        return RefillFromFile();
    }
    // Queued bytes stay queued across a stop: the next run reads them first. A wake-up that finds
    // the queue empty (a stop request, another instance's signal, a stale one) waits again unless
    // a stop has been asked for.
    uint8_t byte;
    do
        ThrowIfDecoderStopRequested();
    while (!SamplePipe.Read(&byte));
    return byte;
}

}  // namespace

int32_t ReadHalfPeriod()
{
    const int baseLine = TimingSettings.BaseLine;
    while (runCount <= kHalfPeriodTimeout) {
        const int32_t side = NextSample() < baseLine ? -1 : 1;
        if (side != polarity) {
            const int32_t result = runCount;
            runCount = 1;  // the new sample is the first of the new half-wave
            polarity = -polarity;
            return result;
        }
        ++runCount;
    }
    runCount = 0;
    return -1;
}

int32_t RawPosition()
{
    // The log prints a 32-bit offset; past 2 GiB it wraps rather than overflows.
    return static_cast<int32_t>(static_cast<uint32_t>(batchStart + batchPos));
}

bool OpenRawInput(const char* name)
{
    CloseRawInput();
    rawInput.open(name, std::ios::in | std::ios::binary);
    batchStart = batchFill = batchPos = 0;
    return rawInput.is_open();
}

void OpenReaderInput(const FileReader& opened)
{
    CloseRawInput();
    reader = opened;
    readerOpen = true;
}

int64_t FileSamplesTaken()
{
    return batchStart + batchPos;
}

void CloseRawInput()
{
    if (readerOpen) {
        readerOpen = false;
        reader.close(reader.context);
    }
    if (rawInput.is_open())
        rawInput.close();
    rawInput.clear();
    batchStart = batchFill = batchPos = 0;
}

bool RawInputOpen()
{
    return readerOpen || rawInput.is_open();
}

void ResetHalfPeriodState()
{
    polarity = 1;
    runCount = 0;
}
