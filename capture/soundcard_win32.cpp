#include "capture/soundcard_win32.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "capture/capture.h"
#include "capture/pipe.h"
#include "decoder/timing.h"
#include "report/status.h"
#include "report/ui_win32.h"
#include "report/waveform.h"
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
// One block per start: the headers, then their buffers, HeaderCount of each, then the copy of the
// newest buffer for the strip.
HGLOBAL BufferBlock;
WAVEHDR* Headers;
int32_t HeaderCount;
int32_t BufferLength;
// Buffers handed to the device and not yet back. Every path that takes a buffer out of circulation
// lowers it, so that after Stop the last buffer to return still finds 0 and closes the device.
// Kept by the capture thread while it runs and by the user-interface thread otherwise.
int32_t QueuedCount;
// The header the device returns next: it returns them in the order they were queued.
int32_t NextHeader;

// The device signals this event for every buffer it returns. Under Wine every wave-input call
// takes the device's lock in user space, which the device's own thread needs to pull the sound: a
// window's thread stopped inside one (suspended, or preempted on a loaded machine) held the sound
// up for as long and lost it. So while recording only the capture thread makes those calls, and it
// never calls a window nor waits for one.
HANDLE DoneEvent;
HANDLE CaptureThread;
std::atomic<bool> CaptureQuit{false};

// When the last buffer came back while recording, and the longest time between two, in counter
// ticks: how long the device waited for this program.
std::atomic<LONGLONG> LastReturn{0};
std::atomic<LONGLONG> LongestGap{0};
// The device's position in bytes, read on the capture thread (the device's lock is never taken on
// the window's thread while recording).
std::atomic<uint32_t> Position{0};
// An error of the capture thread whose system text is still to be shown: the capture thread never
// opens a box, which would stop the recording until it is closed.
std::atomic<MMRESULT> PendingError{MMSYSERR_NOERROR};

// The newest recorded buffer, copied for the strip. The capture thread only tries the lock: it
// skips a copy rather than wait for a window that is drawing (or stopped while drawing).
std::mutex NewestLock;
uint8_t* Newest;
int32_t NewestLength;
bool NewestFresh;

// A sample at 0 or 255 came back since the strip was last drawn: the input level is too high. Set
// by the capture thread, which sees every buffer; the strip and the status pane say so.
std::atomic<bool> Clipped{false};
bool StripClipped;
// The status pane has said so in this recording.
bool ClipsTold;

// The device's thread sets a header's flags while this one reads them.
DWORD HeaderFlags(const WAVEHDR& header)
{
    return *static_cast<const volatile DWORD*>(&header.dwFlags);
}

// Back from the device and not yet handled.
bool IsReturned(const WAVEHDR& header)
{
    return (HeaderFlags(header) & (WHDR_PREPARED | WHDR_DONE | WHDR_INQUEUE)) == (WHDR_PREPARED | WHDR_DONE);
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
    Newest = nullptr;
    NewestFresh = false;
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

// Every header the device has finished with, in the order it returned them: up to the first one
// still at the device, passing over those out of circulation (a failed queueing or unpreparing).
// The device is never closed here, as the capture thread may be the caller.
void TakeReturnedBuffers()
{
    const int32_t count = HeaderCount;
    const int32_t oldest = NextHeader;
    for (int32_t step = 0; Headers && step < count; ++step) {
        WAVEHDR& header = Headers[(oldest + step) % count];
        if (HeaderFlags(header) & WHDR_INQUEUE)
            return;
        if (!IsReturned(header))
            continue;
        NextHeader = (oldest + step + 1) % count;
        OnBufferDone(&header);
    }
}

// The timer shows the position ten times a second; asking for it takes the device's lock, which
// the system's own capture thread needs to fill the buffers, so it is asked no more often than it
// is shown rather than for every buffer.
void ReadPosition(DWORD& asked)
{
    const DWORD now = GetTickCount();
    if (now - asked < 100)
        return;
    asked = now;
    MMTIME position = {};
    position.wType = TIME_BYTES;
    if (waveInGetPosition(Device, &position, sizeof position) == MMSYSERR_NOERROR && position.wType == TIME_BYTES)
        Position.store(position.u.cb);
}

DWORD WINAPI CaptureThreadProc(void*)
{
    DWORD asked = GetTickCount();
    while (WaitForSingleObject(DoneEvent, INFINITE) == WAIT_OBJECT_0 && !CaptureQuit.load()) {
        TakeReturnedBuffers();
        ReadPosition(asked);
    }
    return 0;
}

// The capture thread ends before the device is reset or closed, so that from then on only the
// user-interface thread touches the device and the buffers.
void EndCaptureThread()
{
    if (!CaptureThread)
        return;
    CaptureQuit.store(true);
    SetEvent(DoneEvent);
    WaitForSingleObject(CaptureThread, INFINITE);
    CloseHandle(CaptureThread);
    CaptureThread = nullptr;
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
            Sleep(20);
    }
    return Device == nullptr;
}

// After a failed waveInStart the queued buffers would never come back through a Stop (the run never
// began), so they are taken back here and the device closed and the block freed at once.
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
    if (!DoneEvent)
        DoneEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);

    const int32_t count = SoundBufferCount(length);
    BufferBlock = GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(count) * (sizeof(WAVEHDR) + length) + length);
    Headers = BufferBlock ? static_cast<WAVEHDR*>(GlobalLock(BufferBlock)) : nullptr;
    if (!Headers || !DoneEvent) {
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
        if (waveInOpen(&Device, 0, &format, reinterpret_cast<DWORD_PTR>(DoneEvent), 0, CALLBACK_EVENT) !=
            MMSYSERR_NOERROR) {
            Device = nullptr;
            throw kCannotOpenDevice;
        }
        BufferLength = length;
        HeaderCount = count;
        NextHeader = 0;
        uint8_t* const buffers = reinterpret_cast<uint8_t*>(Headers + count);
        Newest = buffers + static_cast<SIZE_T>(count) * length;
        for (int32_t i = 0; i < count; ++i) {
            // The block comes uncleared.
            Headers[i] = WAVEHDR{};
            Headers[i].lpData = reinterpret_cast<LPSTR>(buffers + static_cast<SIZE_T>(i) * length);
            Headers[i].dwBufferLength = length;
            AddBuffer(&Headers[i]);
        }
        if (waveInStart(Device) != MMSYSERR_NOERROR)
            throw B{"OnIDC_START Ошибка при попытке записи звука (функция waveInStart)"};
        LastReturn = 0;
        LongestGap = 0;
        Position = 0;
        Clipped = false;
        StripClipped = false;
        ClipsTold = false;
        CaptureState = 0;
        CaptureQuit = false;
        CaptureThread = CreateThread(nullptr, 0, CaptureThreadProc, nullptr, 0, nullptr);
        if (!CaptureThread) {
            CaptureState = 1;
            throw B{"CreateThread fails"};
        }
        SetThreadPriority(CaptureThread, THREAD_PRIORITY_TIME_CRITICAL);
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
    if (waveInAddBuffer(Device, header, sizeof *header) != MMSYSERR_NOERROR) {
        LogStatus("AddBuffer: Ошибка при вызове функции waveInAddBuffer");
        // The device never took it, so it will never come back.
        --QueuedCount;
        waveInUnprepareHeader(Device, header, sizeof *header);
    }
}

void OnBufferDone(WAVEHDR* header)
{
    const MMRESULT unprepared = waveInUnprepareHeader(Device, header, sizeof *header);
    --QueuedCount;
    if (unprepared != MMSYSERR_NOERROR) {
        // It is back but cannot be reused: out of circulation, and never counted again.
        header->dwFlags &= ~WHDR_DONE;
        LogStatus("MM_WIM_DATA: Ошибка функции waveInUnprepareHeader");
        PendingError.store(unprepared);
        return;
    }
    // Stopped: the user-interface thread closes the device once the last one is back.
    if (CaptureState != 0)
        return;
    const LONGLONG now = Now();
    const LONGLONG last = LastReturn.exchange(now);
    if (last && now - last > LongestGap.load())
        LongestGap.store(now - last);
    // Only the bytes the device recorded are queued, not the buffer's whole length: a buffer
    // returned short (a reset, a driver that fills in packets) would otherwise hand the decoder
    // stale bytes from an earlier round as if they were signal.
    int32_t recorded = static_cast<int32_t>(header->dwBytesRecorded);
    if (recorded > BufferLength)
        recorded = BufferLength;
    if (recorded <= 0) {
        AddBuffer(header);
        return;
    }
    SamplePipe.add(reinterpret_cast<const uint8_t*>(header->lpData), recorded);
    if (InputClips(reinterpret_cast<const uint8_t*>(header->lpData), recorded))
        Clipped.store(true);
    if (NewestLock.try_lock()) {
        std::memcpy(Newest, header->lpData, static_cast<size_t>(recorded));
        NewestLength = recorded;
        NewestFresh = true;
        NewestLock.unlock();
    }
    AddBuffer(header);
}

long LongestReturnGap(bool restart)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const long microseconds = static_cast<long>(LongestGap.load() * 1000000 / frequency.QuadPart);
    if (restart) {
        LongestGap = 0;
        LastReturn = 0;
    }
    return microseconds;
}

void ShowPosition()
{
    const MMRESULT error = PendingError.exchange(MMSYSERR_NOERROR);
    if (error != MMSYSERR_NOERROR)
        ShowWaveError(error);
    if (CaptureState != 0 || !Device)
        return;
    SetDlgItemInt(MainDialog, IDC_RECPOS, Position.load(), FALSE);
    if (Clipped.exchange(false)) {
        StripClipped = true;
        if (!ClipsTold)
            LogStatus("Input clips: lower the recording level");
        ClipsTold = true;
    }
    std::lock_guard<std::mutex> hold(NewestLock);
    if (NewestFresh) {
        DrawWaveform(MainDialog, Newest, NewestLength, StripClipped);
        StripClipped = false;
    }
    NewestFresh = false;
}

bool CloseSoundCard()
{
    // Not recording (a raw-file run, a rescue, or a second Stop after a failed reset): nothing to do.
    if (CaptureState.exchange(1) != 0 || !Device)
        return true;
    EndCaptureThread();
    if (waveInReset(Device) != MMSYSERR_NOERROR) {
        LogStatus("OnIDC_STOP -> ошибка функции waveInReset");
        return false;
    }
    TakeReturnedBuffers();
    // The reset has returned every buffer; with none out (every queueing may have failed) the device
    // is closed all the same.
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
