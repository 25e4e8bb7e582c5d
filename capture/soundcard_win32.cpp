#include "capture/soundcard_win32.h"

#include <cstdint>
#include <cstdio>

#include "capture/capture.h"
#include "capture/pipe.h"
#include "decoder/timing.h"
#include "report/status.h"
#include "report/ui.h"
#include "report/ui_win32.h"
#include "report/waveform_win32.h"
#include "resources/resource.h"

// A refused device start, as Start reports it.
struct B {
    const char* text;
};

namespace {

enum { kMinBufferLength = 256, kMaxBufferLength = 200000, kSampleRate = 44100 };

// "записывающие устройство" (the plural ending) is the program's own text, kept to the byte.
const char kCannotOpenDevice[] =
    "Невозможно открыть записывающие устройство!\r\nСкорее всего звуковая карта занята другим приложением.";

HWAVEIN Device;
// One block per start: the headers, then their buffers, HeaderCount of each.
HGLOBAL BufferBlock;
WAVEHDR* Headers;
int32_t HeaderCount;
int32_t BufferLength;
// When the last buffer came back while recording, and the longest time between two, in counter
// ticks: how long this thread kept the device waiting.
LONGLONG LastReturn;
LONGLONG LongestGap;
// Buffers handed to the device and not yet back. Every path that takes a buffer out of circulation
// lowers it, so that after Stop the last buffer to return still finds 0 and closes the device.
int32_t QueuedCount;

// The index of one of this start's headers; -1 for any other address (a message left over from an
// earlier block).
int32_t HeaderIndex(const WAVEHDR* header)
{
    const uintptr_t first = reinterpret_cast<uintptr_t>(Headers);
    const uintptr_t address = reinterpret_cast<uintptr_t>(header);
    if (!Headers || address < first || (address - first) % sizeof(WAVEHDR) != 0)
        return -1;
    const uintptr_t index = (address - first) / sizeof(WAVEHDR);
    return index < static_cast<uintptr_t>(HeaderCount) ? static_cast<int32_t>(index) : -1;
}

// Back from the device and not yet handled.
bool IsReturned(const WAVEHDR& header)
{
    return (header.dwFlags & (WHDR_PREPARED | WHDR_DONE | WHDR_INQUEUE)) == (WHDR_PREPARED | WHDR_DONE);
}

void FreeBufferBlock()
{
    if (!BufferBlock)
        return;
    GlobalUnlock(BufferBlock);
    GlobalFree(BufferBlock);
    BufferBlock = nullptr;
    Headers = nullptr;
    HeaderCount = 0;
}

// Stopped with every buffer back: the device is closed and only then is the block freed, since
// until the close the device may still own a buffer.
void CloseIfDrained()
{
    if (!Device || CaptureState != 1 || QueuedCount != 0)
        return;
    if (waveInClose(Device) != MMSYSERR_NOERROR) {
        LogStatus("MM_WIM_DATA: Устройство записи невозможно закрыть");
        return;
    }
    Device = nullptr;
    LogStatus("WaveInClose: ok");
    FreeBufferBlock();
}

// waveInReset posts the returned buffers as MM_WIM_DATA before it comes back; handling them here
// rather than in the message loop closes the device before Stop returns.
void TakeReturnedBuffers()
{
    MSG message;
    while (Device && PeekMessageA(&message, MainDialog, MM_WIM_DATA, MM_WIM_DATA, PM_REMOVE))
        OnBufferDone(MainDialog, reinterpret_cast<WAVEHDR*>(message.lParam));
}

// A Start soon after a Stop may find the stopped device still waiting for buffers the system has
// not returned yet. Not recording, so a short wait costs nothing.
bool SettleEarlierDevice()
{
    if (CaptureState == 0)
        return false;
    for (int attempt = 0; Device && attempt < 10; ++attempt) {
        TakeReturnedBuffers();
        CloseIfDrained();
        if (Device)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_POSTMESSAGE | QS_SENDMESSAGE);
    }
    return Device == nullptr;
}

// After a failed waveInStart the queued buffers would never come back through a Stop (the run never
// began), so they are taken back here and the device closed and the block freed at once. The
// MM_WIM_DATA the reset posts arrive with no device open and are ignored.
void AbandonDevice()
{
    waveInReset(Device);
    for (int32_t i = 0; i < HeaderCount; ++i)
        if (Headers[i].dwFlags & WHDR_PREPARED)
            waveInUnprepareHeader(Device, &Headers[i], sizeof Headers[i]);
    QueuedCount = 0;
    waveInClose(Device);
    Device = nullptr;
    FreeBufferBlock();
}

LONGLONG Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

int OpenSoundCard()
{
    char text[9];
    GetDlgItemTextA(MainDialog, IDC_BUFLEN, text, sizeof text);
    const int32_t length = FieldToInt(text);
    if (length < kMinBufferLength || length > kMaxBufferLength) {
        ShowInfo("Значение поля Buffer Len \nдолжно быть в пределах 256..200000");
        return 0;
    }
    if (Device && !SettleEarlierDevice()) {
        ShowInfo(kCannotOpenDevice);
        return 0;
    }

    const int32_t count = SoundBufferCount(length);
    BufferBlock = GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(count) * (sizeof(WAVEHDR) + length));
    Headers = BufferBlock ? static_cast<WAVEHDR*>(GlobalLock(BufferBlock)) : nullptr;
    if (!Headers) {
        FreeBufferBlock();
        ShowInfo("Out of Memory");
        return 0;
    }
    SetDlgItemInt(MainDialog, IDC_SAMPLERATE, kSampleRate, FALSE);

    try {
        WAVEFORMATEX format = {};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 1;
        format.nSamplesPerSec = kSampleRate;
        format.nAvgBytesPerSec = kSampleRate;
        format.nBlockAlign = 1;
        format.wBitsPerSample = 8;
        if (waveInOpen(&Device, 0, &format, reinterpret_cast<DWORD_PTR>(MainDialog), 0, CALLBACK_WINDOW) !=
            MMSYSERR_NOERROR) {
            Device = nullptr;
            throw kCannotOpenDevice;
        }
        BufferLength = length;
        HeaderCount = count;
        uint8_t* const buffers = reinterpret_cast<uint8_t*>(Headers + count);
        for (int32_t i = 0; i < count; ++i) {
            // The block comes uncleared.
            Headers[i] = WAVEHDR{};
            Headers[i].lpData = reinterpret_cast<LPSTR>(buffers + static_cast<SIZE_T>(i) * length);
            Headers[i].dwBufferLength = length;
            AddBuffer(&Headers[i]);
        }
        if (waveInStart(Device) != MMSYSERR_NOERROR)
            throw B{"OnIDC_START Ошибка при попытке записи звука (функция waveInStart)"};
    } catch (const char* failure) {
        FreeBufferBlock();
        ShowInfo(failure);
        return 0;
    } catch (const B& failure) {
        AbandonDevice();
        ShowInfo(failure.text);
        return 0;
    }
    LastReturn = 0;
    LongestGap = 0;
    CaptureState = 0;
    return 1;
}

void AddBuffer(WAVEHDR* header)
{
    if (waveInPrepareHeader(Device, header, sizeof *header) != MMSYSERR_NOERROR) {
        LogStatus("AddBuffer: Ошибка при вызове функции waveInPrepareHeader");
        return;
    }
    ++QueuedCount;
    if (waveInAddBuffer(Device, header, sizeof *header) != MMSYSERR_NOERROR) {
        LogStatus("AddBuffer: Ошибка при вызове функции waveInAddBuffer");
        // The device never took it, so it will never come back.
        --QueuedCount;
        waveInUnprepareHeader(Device, header, sizeof *header);
    }
}

void OnBufferDone(HWND dialog, WAVEHDR* header)
{
    // Only a buffer the device has finished with counts: stale messages (after a failed start, or
    // for a header already handled) must not move the count.
    const int32_t index = HeaderIndex(header);
    if (!Device || index < 0 || !IsReturned(*header))
        return;
    const MMRESULT unprepared = waveInUnprepareHeader(Device, header, sizeof *header);
    --QueuedCount;
    if (unprepared != MMSYSERR_NOERROR) {
        // It is back but cannot be reused: out of circulation, and never counted again.
        header->dwFlags &= ~WHDR_DONE;
        LogStatus("MM_WIM_DATA: Ошибка функции waveInUnprepareHeader");
        ShowWaveError(unprepared);
        CloseIfDrained();
        return;
    }
    if (CaptureState != 0) {
        CloseIfDrained();
        return;
    }
    const LONGLONG now = Now();
    if (LastReturn && now - LastReturn > LongestGap)
        LongestGap = now - LastReturn;
    LastReturn = now;
    // Only the bytes the device recorded are queued, not the buffer's whole length: a buffer
    // returned short (a reset, a driver that fills in packets) would otherwise hand the decoder
    // stale bytes from an earlier round as if they were signal.
    int32_t recorded = static_cast<int32_t>(header->dwBytesRecorded);
    if (recorded > BufferLength)
        recorded = BufferLength;
    const uint8_t* samples = reinterpret_cast<const uint8_t*>(header->lpData);
    if (recorded > 0)
        SamplePipe.add(samples, recorded);
    // Back to the device before drawing: it fills the others meanwhile, so this one is not written
    // again until they are done.
    AddBuffer(header);
    // The buffers come back in the order they were queued. After a stall they come in a burst, and
    // only the newest is worth drawing: the strip shows one buffer, and drawing each of the others
    // would only hold up the hand-back of the rest.
    if (recorded > 0 && !IsReturned(Headers[(index + 1) % HeaderCount]))
        DrawWaveform(dialog, samples, recorded);
}

long LongestReturnGap(bool restart)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const long microseconds = static_cast<long>(LongestGap * 1000000 / frequency.QuadPart);
    if (restart) {
        LongestGap = 0;
        LastReturn = 0;
    }
    return microseconds;
}

void ShowPosition()
{
    if (CaptureState != 0 || !Device)
        return;
    MMTIME position = {};
    position.wType = TIME_BYTES;
    if (waveInGetPosition(Device, &position, sizeof position) != MMSYSERR_NOERROR ||
        position.wType != TIME_BYTES)
        return;
    SetDlgItemInt(MainDialog, IDC_RECPOS, position.u.cb, FALSE);
}

bool ResetSoundDevice()
{
    if (!Device)
        return true;
    if (waveInReset(Device) != MMSYSERR_NOERROR)
        return false;
    TakeReturnedBuffers();
    // No buffer may have been out at all (every queueing failed); then nothing else would close it.
    CloseIfDrained();
    return true;
}

void ShowWaveError(MMRESULT code)
{
    char text[1024];
    if (waveInGetErrorTextA(code, text, sizeof text) != MMSYSERR_NOERROR)
        std::snprintf(text, sizeof text, "Wave input error %u", static_cast<unsigned>(code));
    ShowInfo(text);
}
