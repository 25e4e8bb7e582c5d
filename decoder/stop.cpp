#include "decoder/stop.h"

#include <atomic>

#include "capture/pipe.h"

namespace {
std::atomic<bool> stopRequested{false};
std::atomic<int> stopCode{kExitStopped};
std::atomic<bool> shutdownRequested{false};
}

void RequestDecoderStop(int exitCode)
{
    stopCode.store(exitCode);
    stopRequested.store(true);
    // The decoder may be asleep on an empty queue; only the queue's event wakes it.
    SamplePipe.Wake();
}

void ClearDecoderStop()
{
    stopRequested.store(false);
    stopCode.store(kExitStopped);
}

bool DecoderStopRequested()
{
    return stopRequested.load(std::memory_order_relaxed);
}

void ThrowIfDecoderStopRequested()
{
    if (stopRequested.load())
        throw DecoderStopped{stopCode.load()};
}

void RequestShutdown()
{
    shutdownRequested.store(true);
}

bool ShutdownRequested()
{
    return shutdownRequested.load(std::memory_order_relaxed);
}
