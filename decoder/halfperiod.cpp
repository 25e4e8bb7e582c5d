#include "decoder/halfperiod.h"

#include <fstream>

#include "capture/capture.h"
#include "capture/keeper.h"
#include "capture/pipe.h"
#include "decoder/scan.h"
#include "decoder/stop.h"
#include "decoder/timing.h"

namespace {

HalfPeriodState state;
std::ifstream rawInput;
// Set while a reader other than the raw file is the input.
FileReader reader;
bool readerOpen = false;

// The raw file is read in batches, each measured at once by the scanner; the stop request is looked
// at once per batch, which keeps it out of the per-sample path and still stops within a fraction of
// a millisecond.
enum { kBatch = kScanBatch };
uint8_t batch[kBatch];
int32_t batchFill = 0;
int32_t batchPos = 0;
// Raw-file offset of batch[0]: 64-bit, since a recording of 13.5 hours passes 2 GiB.
int64_t batchStart = 0;

// The batch's results, handed out one a call. They hold for the base line in scannedFor; -1 when
// they are to be made again from batchPos because the state or the batch changed under them.
SideMap sides;
HalfPeriodList halves;
int32_t nextHalf = 0;
int32_t scannedFor = -1;
// The state once the batch's last sample is taken.
HalfPeriodState batchEnd;

void ScanBatch(uint8_t baseLine)
{
    MapSides(batch, batchFill, baseLine, sides);
    batchEnd = state;
    ScanHalfPeriods(sides, batchPos, batchEnd, halves);
    nextHalf = 0;
    scannedFor = baseLine;
}

[[noreturn]] void EndOfRawFile()
{
    throw DecoderStopped{kExitEndOfFile};
}

void RefillFromFile(uint8_t baseLine)
{
    ThrowIfDecoderStopRequested();
    batchStart += batchFill;
    batchPos = 0;
    batchFill = 0;
    if (readerOpen) {
        batchFill = reader.read(reader.context, batch, kBatch, baseLine);
    } else if (rawInput.is_open() && rawInput.good()) {
        rawInput.read(reinterpret_cast<char*>(batch), kBatch);
        batchFill = static_cast<int32_t>(rawInput.gcount());
    }
    // A file that cannot be read further (shrunk, vanished, a read error) has ended.
    if (batchFill == 0)
        EndOfRawFile();
    ScanBatch(baseLine);
}

void ForgetBatch()
{
    batchStart = batchFill = batchPos = 0;
    scannedFor = -1;
}

inline int32_t TakeHalf()
{
    const HalfPeriod half = halves.items[nextHalf++];
    batchPos = half.end;
    state.runCount = half.length < 0 ? 0 : 1;
    state.polarity = half.polarity;
    return half.length;
}

// Out of line, like the queue's loop, so that handing out a result stays a few instructions.
[[gnu::noinline]] int32_t TakeHalfFromNextBatch(uint8_t baseLine)
{
    if (scannedFor != baseLine)
        ScanBatch(baseLine);
    while (nextHalf == halves.count) {
        // No half-wave ends in the rest of the batch: its samples all go into the count.
        state = batchEnd;
        batchPos = batchFill;
        RefillFromFile(baseLine);
    }
    return TakeHalf();
}

// The sound card delivers 44100 samples a second: one at a time is fast enough, and the state stays
// current whenever PIPE::Read leaves with a stop.
[[gnu::noinline]] int32_t ReadFromQueue(uint8_t baseLine)
{
    // The state moves on under whatever a raw file's batch still holds, so that is measured again
    // should file mode come back to it.
    scannedFor = -1;
    while (state.runCount <= kHalfPeriodTimeout) {
        // Queued bytes stay queued across a stop: the next run reads them first. A wake-up that
        // finds the queue empty (a stop request, another instance's signal, a stale one) waits
        // again unless a stop has been asked for.
        uint8_t byte;
        do
            ThrowIfDecoderStopRequested();
        while (!SamplePipe.Read(&byte));
        KeepSample(byte);
        const int32_t side = byte < baseLine ? -1 : 1;
        if (side != state.polarity) {
            const int32_t result = state.runCount;
            state.runCount = 1;  // the new sample is the first of the new half-wave
            state.polarity = -state.polarity;
            return result;
        }
        ++state.runCount;
    }
    state.runCount = 0;
    return -1;
}

}  // namespace

int32_t ReadHalfPeriod()
{
    const uint8_t baseLine = TimingSettings.BaseLine;
    if (!FileMode())
        return ReadFromQueue(baseLine);
    // Each sample is compared with the base line of the call that takes it.
    if (scannedFor == baseLine && nextHalf < halves.count)
        return TakeHalf();
    return TakeHalfFromNextBatch(baseLine);
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
    ForgetBatch();
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
    ForgetBatch();
}

bool RawInputOpen()
{
    return readerOpen || rawInput.is_open();
}

void ResetHalfPeriodState()
{
    state = HalfPeriodState();
    scannedFor = -1;
}
