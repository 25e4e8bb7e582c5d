#include "capture/capture.h"

std::atomic<int32_t> CaptureState{1};

namespace {
std::atomic<bool> fileMode{false};
}

void SetFileMode(bool on)
{
    fileMode.store(on);
}

bool FileMode()
{
    // Read by the decoder at every half-period: no ordering is needed beyond the thread's start.
    return fileMode.load(std::memory_order_relaxed);
}

int32_t SoundBufferCount(int32_t length)
{
    const int32_t heldBytes = 44100 * 3 / 2;
    const int32_t count = (heldBytes + length - 1) / length;
    return count < 3 ? 3 : count;
}
