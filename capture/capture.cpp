#include "capture/capture.h"

#include "decoder/halfperiod.h"
#include "report/status.h"
#include "report/ui.h"

std::atomic<int32_t> CaptureState{1};

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
