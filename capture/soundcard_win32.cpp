#include "capture/soundcard_win32.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

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

enum { kBufferCount = 3, kMinBufferLength = 256, kMaxBufferLength = 200000, kSampleRate = 44100 };

// "записывающие устройство" (the plural ending) is the program's own text, kept to the byte.
const char kCannotOpenDevice[] =
    "Невозможно открыть записывающие устройство!\r\nСкорее всего звуковая карта занята другим приложением.";

HWAVEIN Device;
HGLOBAL BufferBlock;
uint8_t* Buffers;
int32_t BufferLength;
WAVEHDR Headers[kBufferCount];
// Buffers handed to the device and not yet back. Every path that takes a buffer out of circulation
// lowers it. The capture thread keeps it while it runs, the user-interface thread before and after.
int32_t QueuedCount;
// The order buffers were queued in, kept in each header's dwUser: the device returns them in that
// order, and their bytes must reach the decoder in it.
DWORD_PTR QueueOrder;

// The device sets it whenever a buffer comes back; the capture thread waits on it.
HANDLE BufferEvent;
HANDLE CaptureThread;
std::atomic<bool> CaptureLeaving{false};

// The longest time between two returned buffers while recording, in counter ticks, and when the
// last came back (capture thread only).
std::atomic<LONGLONG> LongestGap{0};
LONGLONG LastReturn;

// The latest recorded buffer, for the strip: copied by the capture thread, drawn by the main
// dialog. A buffer that arrives before the last is drawn replaces it; the strip shows the latest.
std::mutex StripLock;
std::vector<uint8_t> StripSamples;
std::atomic<bool> StripPosted{false};

bool IsOurHeader(const WAVEHDR* header)
{
    for (const WAVEHDR& ours : Headers)
        if (header == &ours)
            return true;
    return false;
}

void FreeBufferBlock()
{
    if (!BufferBlock)
        return;
    GlobalUnlock(BufferBlock);
    GlobalFree(BufferBlock);
    BufferBlock = nullptr;
    Buffers = nullptr;
}

LONGLONG Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Every returned buffer, oldest first.
void TakeReturnedBuffers()
{
    for (;;) {
        WAVEHDR* oldest = nullptr;
        for (WAVEHDR& header : Headers)
            if ((header.dwFlags & WHDR_DONE) && (!oldest || header.dwUser < oldest->dwUser))
                oldest = &header;
        if (!oldest)
            return;
        OnBufferDone(MainDialog, oldest);
    }
}

DWORD WINAPI CaptureThreadMain(LPVOID)
{
    // On Windows this keeps the thread ahead of ordinary work; it waits nearly all the time.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    for (;;) {
        WaitForSingleObject(BufferEvent, INFINITE);
        TakeReturnedBuffers();
        if (CaptureLeaving.load())
            return 0;
    }
}

// The device, its event and its buffers, once no buffer is at the device any more and the capture
// thread has ended.
void CloseDevice()
{
    for (WAVEHDR& header : Headers)
        if (header.dwFlags & WHDR_PREPARED)
            waveInUnprepareHeader(Device, &header, sizeof header);
    QueuedCount = 0;
    if (waveInClose(Device) != MMSYSERR_NOERROR) {
        LogStatus("MM_WIM_DATA: Устройство записи невозможно закрыть");
        return;
    }
    Device = nullptr;
    LogStatus("WaveInClose: ok");
    FreeBufferBlock();
    CloseHandle(BufferEvent);
    BufferEvent = nullptr;
}

// After a failed waveInStart the run never began: the buffers are taken back and the device closed
// and the block freed at once, without a word in the log.
void AbandonDevice()
{
    waveInReset(Device);
    for (WAVEHDR& header : Headers)
        if (header.dwFlags & WHDR_PREPARED)
            waveInUnprepareHeader(Device, &header, sizeof header);
    QueuedCount = 0;
    waveInClose(Device);
    Device = nullptr;
    FreeBufferBlock();
    CloseHandle(BufferEvent);
    BufferEvent = nullptr;
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
    // A device whose reset failed at the last Stop is still open.
    if (Device) {
        ShowInfo(kCannotOpenDevice);
        return 0;
    }

    BufferBlock = GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(kBufferCount) * length);
    Buffers = BufferBlock ? static_cast<uint8_t*>(GlobalLock(BufferBlock)) : nullptr;
    if (!Buffers) {
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
        BufferEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!BufferEvent ||
            waveInOpen(&Device, 0, &format, reinterpret_cast<DWORD_PTR>(BufferEvent), 0, CALLBACK_EVENT) !=
                MMSYSERR_NOERROR) {
            Device = nullptr;
            if (BufferEvent)
                CloseHandle(BufferEvent);
            BufferEvent = nullptr;
            throw kCannotOpenDevice;
        }
        BufferLength = length;
        for (int i = 0; i < kBufferCount; ++i) {
            // Set up afresh: a flag left by an earlier run's failed unprepare belongs to a closed device.
            Headers[i] = WAVEHDR{};
            Headers[i].lpData = reinterpret_cast<LPSTR>(Buffers + i * length);
            Headers[i].dwBufferLength = length;
            AddBuffer(&Headers[i]);
        }
        LongestGap = 0;
        LastReturn = 0;
        if (waveInStart(Device) != MMSYSERR_NOERROR)
            throw B{"OnIDC_START Ошибка при попытке записи звука (функция waveInStart)"};
        CaptureState = 0;
        CaptureLeaving = false;
        CaptureThread = CreateThread(nullptr, 0, CaptureThreadMain, nullptr, 0, nullptr);
        if (!CaptureThread) {
            ShowInfo("CreateThread fails");
            ExitProcess(0);
        }
    } catch (const char* failure) {
        FreeBufferBlock();
        ShowInfo(failure);
        return 0;
    } catch (const B& failure) {
        AbandonDevice();
        ShowInfo(failure.text);
        return 0;
    }
    return 1;
}

void AddBuffer(WAVEHDR* header)
{
    if (waveInPrepareHeader(Device, header, sizeof *header) != MMSYSERR_NOERROR) {
        LogStatus("AddBuffer: Ошибка при вызове функции waveInPrepareHeader");
        return;
    }
    ++QueuedCount;
    header->dwUser = ++QueueOrder;
    if (waveInAddBuffer(Device, header, sizeof *header) != MMSYSERR_NOERROR) {
        LogStatus("AddBuffer: Ошибка при вызове функции waveInAddBuffer");
        // The device never took it, so it will never come back.
        --QueuedCount;
        waveInUnprepareHeader(Device, header, sizeof *header);
    }
}

void OnBufferDone(HWND dialog, WAVEHDR* header)
{
    if (!Device || !IsOurHeader(header) ||
        (header->dwFlags & (WHDR_PREPARED | WHDR_DONE | WHDR_INQUEUE)) != (WHDR_PREPARED | WHDR_DONE))
        return;
    const MMRESULT unprepared = waveInUnprepareHeader(Device, header, sizeof *header);
    --QueuedCount;
    // Handled: whatever happens next, this return is not taken again.
    header->dwFlags &= ~WHDR_DONE;
    if (unprepared != MMSYSERR_NOERROR) {
        // It is back but cannot be reused: out of circulation. The box is the main dialog's to
        // show; this thread must not stop for it.
        LogStatus("MM_WIM_DATA: Ошибка функции waveInUnprepareHeader");
        PostMessageA(dialog, WM_WAVE_ERROR, static_cast<WPARAM>(unprepared), 0);
        return;
    }
    if (CaptureState != 0)
        return;
    const LONGLONG now = Now();
    if (LastReturn && now - LastReturn > LongestGap.load())
        LongestGap = now - LastReturn;
    LastReturn = now;
    // Only the bytes the device recorded are queued, not the buffer's whole length: a buffer
    // returned short (a reset, a driver that fills in packets) would otherwise hand the decoder
    // stale bytes from an earlier round as if they were signal.
    int32_t recorded = static_cast<int32_t>(header->dwBytesRecorded);
    if (recorded > BufferLength)
        recorded = BufferLength;
    const uint8_t* samples = reinterpret_cast<const uint8_t*>(header->lpData);
    if (recorded > 0) {
        SamplePipe.add(samples, recorded);
        {
            std::lock_guard<std::mutex> hold(StripLock);
            StripSamples.assign(samples, samples + recorded);
        }
    }
    // Back to the device before anything else: it fills the other two meanwhile.
    AddBuffer(header);
    if (recorded > 0 && !StripPosted.exchange(true))
        PostMessageA(dialog, WM_BUFFER_TO_DRAW, 0, 0);
}

void DrawRecordedBuffer(HWND dialog)
{
    StripPosted = false;
    std::vector<uint8_t> samples;
    {
        std::lock_guard<std::mutex> hold(StripLock);
        samples = StripSamples;
    }
    if (!samples.empty())
        DrawWaveform(dialog, samples.data(), static_cast<int32_t>(samples.size()));
}

long LongestReturnGap(bool restart)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const LONGLONG longest = restart ? LongestGap.exchange(0) : LongestGap.load();
    return static_cast<long>(longest * 1000000 / frequency.QuadPart);
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
    // Every buffer is back now. The capture thread takes them (stopped: none goes back to the
    // device) and leaves; then nothing is at the device and it can be closed.
    if (CaptureThread) {
        CaptureLeaving = true;
        SetEvent(BufferEvent);
        WaitForSingleObject(CaptureThread, INFINITE);
        CloseHandle(CaptureThread);
        CaptureThread = nullptr;
    }
    TakeReturnedBuffers();
    CloseDevice();
    return true;
}

void ShowWaveError(MMRESULT code)
{
    char text[1024];
    if (waveInGetErrorTextA(code, text, sizeof text) != MMSYSERR_NOERROR)
        std::snprintf(text, sizeof text, "Wave input error %u", static_cast<unsigned>(code));
    ShowInfo(text);
}
