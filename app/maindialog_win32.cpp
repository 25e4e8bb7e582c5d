// The main dialog (MyDialog): Start and Stop of a run from the sound card or from a raw recording,
// Exit, Hide, Generate sound, and the routing of the timer and of the sound card's returned
// buffers. User-interface thread only.
// Stopping is cooperative: Stop raises the decoder's stop request and waits for its thread while
// still dispatching messages, because that thread's pane, list and control updates are sent to
// this one; only then are the run's files closed.
#include <windows.h>

#include <utility>
#include <vector>

#include "app/app_win32.h"
#include "capture/capture.h"
#include "capture/soundcard_win32.h"
#include "decoder/halfperiod.h"
#include "decoder/stop.h"
#include "decoder/tape.h"
#include "decoder/timing.h"
#include "report/status.h"
#include "resources/resource.h"

namespace {

enum { kRawNameSize = 127 };

HANDLE DecoderThreadHandle;
// Set while the user-interface thread waits for the decoder: the messages dispatched meanwhile may
// carry another Start or Stop, which must not begin a second run or a nested wait.
bool WaitingForDecoder;
// A Start pressed during that wait (Stop has already unlocked the button): carried out once the
// wait is over rather than dropped.
bool StartAfterWait;

// Set while the dialog hands the device its waiting buffers before a pane change the decoder thread
// has sent: the message checks in there also carry out messages sent from other threads, and a
// Start, Stop or Exit among them would wait for the decoder thread while that thread waits for this
// change. Such commands are kept and posted once the buffers are back.
bool ServingPaneChange;
std::vector<std::pair<WPARAM, LPARAM>> HeldCommands;

void AddForDecoder(HWND dialog, int control, const char* text)
{
    ServingPaneChange = true;
    TakeWaitingBuffers();
    ServingPaneChange = false;
    AddToPaneNow(dialog, control, text);
    for (const auto& [wParam, lParam] : HeldCommands)
        PostMessageA(dialog, WM_COMMAND, wParam, lParam);
    HeldCommands.clear();
}

DWORD WINAPI DecoderThreadMain(LPVOID)
{
    return static_cast<DWORD>(DecoderThread());
}

// Waits for the thread to end, dispatching every message meanwhile (the decoder's sent messages are
// carried out inside PeekMessage). A quit message that arrives is kept for the main loop.
void WaitDispatching(HANDLE thread)
{
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken != WAIT_OBJECT_0 + 1)
            break;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = message.wParam;
            } else {
                OfferToDialogs(&message);
            }
        }
    }
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
}

// Asks the decoder thread to stop and waits for it. A thread that has already ended by itself (end
// of the raw file, a TAP file that cannot be created) is simply collected.
void EndDecoderThread()
{
    if (!DecoderThreadHandle)
        return;
    RequestDecoderStop(kExitStopped);
    WaitingForDecoder = true;
    WaitDispatching(DecoderThreadHandle);
    WaitingForDecoder = false;
    CloseHandle(DecoderThreadHandle);
    DecoderThreadHandle = nullptr;
    if (StartAfterWait) {
        StartAfterWait = false;
        if (!ShutdownRequested())
            PostMessageA(MainDialog, WM_COMMAND, IDC_START, 0);
    }
}

void CloseRunFiles()
{
    CloseTapOutput();
    CloseRawInput();
    SetFileMode(false);
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        PostQuitMessage(0);
        return TRUE;
    case WM_COMMAND:
        if (ServingPaneChange) {
            HeldCommands.emplace_back(wParam, lParam);
            return FALSE;
        }
        switch (LOWORD(wParam)) {
        case IDM_EXIT:
            RequestShutdown();
            if (CaptureState == 0)
                SendMessageA(dialog, WM_COMMAND, IDC_STOP, 0);
            PostQuitMessage(0);
            break;
        case IDC_START:
            OnIDC_START(dialog);
            break;
        case IDC_STOP:
            OnIDC_STOP(dialog);
            break;
        case IDM_HIDE:
            ShowWindow(dialog, SW_HIDE);
            break;
        case IDC_GENSOUND:
            MessageBoxA(dialog, "в процессе", "Генерация mp3 файла", MB_OK);
            break;
        }
        return FALSE;
    case WM_TIMER:
        ShowPosition();
        return FALSE;
    case WM_CATALOGUE_LINES:
        FillCatalogue(dialog, *reinterpret_cast<const std::vector<std::string>*>(lParam));
        return TRUE;
    case WM_PANE_ADD:
        AddForDecoder(dialog, static_cast<int>(wParam), reinterpret_cast<const char*>(lParam));
        return TRUE;
    case MM_WIM_DATA:
        OnBufferDone(dialog, reinterpret_cast<WAVEHDR*>(lParam));
        return FALSE;
    }
    return FALSE;
}

void OnIDC_START(HWND dialog)
{
    // Start is disabled while a run is on; a command sent past the button must not begin a second.
    if (!IsWindowEnabled(GetDlgItem(dialog, IDC_START)))
        return;
    if (WaitingForDecoder) {
        StartAfterWait = true;
        return;
    }
    // The end of the raw file unlocks Start while its thread is still closing the files; it must be
    // gone before a new run opens them.
    EndDecoderThread();

    if (IsDlgButtonChecked(dialog, IDC_SRC_PCM) == BST_CHECKED) {
        char name[kRawNameSize];
        GetDlgItemTextA(dialog, IDC_RAWNAME, name, sizeof name);
        if (!OpenRawInput(name)) {
            ShowInfo("Невозможно открыть файл");
            return;
        }
        SetFileMode(true);
        LockSettings(dialog);
    } else {
        if (!OpenSoundCard())
            return;
        LockSettings(dialog);
    }

    ClearDecoderStop();
    DecoderThreadHandle = CreateThread(nullptr, 0, DecoderThreadMain, nullptr, 0, nullptr);
    if (!DecoderThreadHandle) {
        ShowInfo("CreateThread fails");
        ExitProcess(0);
    }
}

void OnIDC_STOP(HWND)
{
    if (WaitingForDecoder)
        return;
    StopCapture();
    EndDecoderThread();
    CloseRunFiles();
}

void LockSettings(HWND dialog)
{
    EnableWindow(GetDlgItem(dialog, IDC_START), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_STOP), TRUE);
    for (const TimingField& field : TimingFields)
        EnableWindow(GetDlgItem(SettingsDialog, field.fieldId), FALSE);
    LatchSettings();
}

void EndRunAtShutdown()
{
    RequestShutdown();
    if (!DecoderThreadHandle)
        return;
    EndDecoderThread();
    CloseRunFiles();
}
