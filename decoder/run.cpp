#include "decoder/run.h"

#include <atomic>
#include <system_error>
#include <thread>

#include "capture/capture.h"
#include "capture/keeper.h"
#include "decoder/decoderthread.h"
#include "decoder/halfperiod.h"
#include "decoder/stop.h"
#include "decoder/tapfile.h"

namespace {

// Never destroyed while joinable: a thread still running when the process ends (a box of the
// other thread open at exit) must not take the process down with it.
std::thread* decoderThread;
std::atomic<int> exitCode{kExitStopped};
int (*runBody)() = DecoderThread;

}  // namespace

bool BeginRun(const char* rawName)
{
    if (rawName) {
        if (!OpenRawInput(rawName))
            return false;
        SetFileMode(true);
    } else {
        SetFileMode(false);
    }
    runBody = DecoderThread;
    exitCode.store(kExitStopped);
    ClearDecoderStop();
    return true;
}

void BeginRun(const FileReader& reader)
{
    OpenReaderInput(reader);
    SetFileMode(true);
    runBody = DecoderThread;
    exitCode.store(kExitStopped);
    ClearDecoderStop();
}

void BeginRunWith(int (*body)())
{
    SetFileMode(true);
    runBody = body;
    exitCode.store(kExitStopped);
    ClearDecoderStop();
}

int RunDecoderHere()
{
    exitCode.store(runBody());
    return exitCode.load();
}

bool StartDecoderThread()
{
    try {
        decoderThread = new std::thread([body = runBody] { exitCode.store(body()); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

int EndRun()
{
    if (decoderThread) {
        // A thread that has already ended by itself (end of the raw file, a TAP file that cannot
        // be created) is simply collected; the request is then left for the next BeginRun.
        RequestDecoderStop(kExitStopped);
        decoderThread->join();
        delete decoderThread;
        decoderThread = nullptr;
    }
    StopKeeping();
    CloseTapOutput();
    CloseRawInput();
    SetFileMode(false);
    return exitCode.load();
}

void ResetDecoder()
{
    EndRun();
    ResetHalfPeriodState();
    NextTapeNumber = 0;
    ClearDecoderStop();
}
