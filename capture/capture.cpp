#include "capture/capture.h"

#include "report/status.h"
#include "report/ui.h"

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

void StopCapture()
{
    const bool wasRecording = CaptureState.exchange(1) == 0;
    // Only a sound-card recording has a device to reset: a raw-file run (its end of file arrives on
    // the decoder thread, possibly while Stop runs on the other) never touches one.
    if (wasRecording && !FileMode() && !ResetSoundDevice()) {
        LogStatus("OnIDC_STOP -> ошибка функции waveInReset");
        return;
    }
    UiRunControlsIdle();
}

int32_t SoundBufferCount(int32_t length)
{
    const int32_t heldBytes = 44100 * 3 / 2;
    const int32_t count = (heldBytes + length - 1) / length;
    return count < 3 ? 3 : count;
}
