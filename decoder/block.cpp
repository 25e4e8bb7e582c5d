#include "decoder/block.h"

#include "capture/capture.h"
#include "decoder/halfperiod.h"
#include "decoder/tapfile.h"
#include "decoder/timing.h"
#include "report/status.h"

int32_t BlockSize = 0;
BlockFacts CurrentBlock;

namespace {

inline bool InRange(int32_t value, int32_t low, int32_t high)
{
    return low <= value && value <= high;
}

void CountPilotHalfPeriod(int32_t h)
{
    ++CurrentBlock.pilotHalfPeriods;
    CurrentBlock.pilotSamples += h;
}

void WaitForStablePilot(const TimingRecord& t)
{
    LogStatus("Wait pilot...");
    int32_t count = 0;
    do {
        const int32_t h = ReadHalfPeriod();
        count = InRange(h, t.PilotMin, t.PilotMax) ? count + 1 : 0;
        if (count == 1) {
            // The sample that ended this half-wave has been taken already.
            CurrentBlock.pilotStart = FileSamplesTaken() - 1 - h;
            CurrentBlock.pilotHalfPeriods = 0;
            CurrentBlock.pilotSamples = 0;
        }
        if (count > 0)
            CountPilotHalfPeriod(h);
    } while (count < t.PilotWait);
    LogStatus("Pilot stable.");
}

// Reads past the rest of the pilot up to the sync pulse; false when the pilot broke off or the sync
// pulse was malformed (both logged), true when both sync halves fit.
bool ReadSync(const TimingRecord& t)
{
    for (;;) {
        const int32_t h = ReadHalfPeriod();
        if (InRange(h, t.SyncMin, t.SyncMax))
            break;
        if (InRange(h, t.PilotMin, t.PilotMax)) {
            CountPilotHalfPeriod(h);
            continue;
        }
        if (FileMode())
            LogStatusF("Pilot break (%i), addr=%i", h, RawPosition());
        else
            LogStatusF("Pilot break (%i)", h);
        return false;
    }
    const int32_t a = ReadHalfPeriod();
    if (InRange(a, t.SyncMin, t.SyncMax))
        return true;
    LogStatusF("Sync bad (%i)", a);
    return false;
}

}  // namespace

int32_t DecodeBlock()
{
    const TimingRecord& t = TimingSettings;
    CurrentBlock = BlockFacts{0, 0, 0, false, 0, -1};
    do
        WaitForStablePilot(t);
    while (!ReadSync(t));

    LogStatus("Sync ok. Read data...");
    CurrentBlock.dataBegun = true;
    BlockSize = 0;
    uint8_t checksum = 0;
    for (;;) {
        uint8_t byte = 0;
        int32_t bit = 0, b = 0, c = 0, d = 0;
        for (; bit < 8; ++bit) {
            b = ReadHalfPeriod();
            c = ReadHalfPeriod();
            d = b + c;  // a -1 time-out takes part in the sum as it is
            if (InRange(d, t.OneMin, t.OneMax))
                byte = static_cast<uint8_t>(byte << 1 | 1);
            else if (InRange(d, t.ZeroMin, t.ZeroMax))
                byte = static_cast<uint8_t>(byte << 1);
            else
                break;
        }
        if (bit < 8) {
            // The first pair that fits no bit class ends the block; the unfinished byte is dropped.
            LogStatusF("end at %i bit", bit);
            LogStatusF("fr1=%i fr2=%i sum=%i", b, c, d);
            if (FileMode())
                LogStatusF("File position=%i", RawPosition());
            LogStatusF("Read %i bytes", BlockSize);
            CurrentBlock.end = FileSamplesTaken();
            CurrentBlock.verdict = checksum != 0;
            // "summ", "okey" and the blank at the end of the error are the program's own texts,
            // kept to the byte: status.log files and the scripts that read them depend on them.
            if (checksum != 0) {
                LogStatus("Warning! CRC summ error ");
                return 1;
            }
            LogStatus("CRC summ ok");
            ShowTextF("Read %i bytes okey", BlockSize);
            return 0;
        }
        WriteTapByte(byte);
        checksum ^= byte;
        ++BlockSize;
        if (BlockSize % 1024 == 0)
            LogStatusF("Read %i Kb", BlockSize / 1024);
    }
}
