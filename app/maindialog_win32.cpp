// The main dialog (MyDialog): Start and Stop of a run from the sound card or from a raw recording,
// the rescue of a recording (Stop ends it too), Exit, Hide, Keep recordings, Half-waves..., Generate
// sound, and the routing of the timer. User-interface thread only.
// What the core queued for the panes, the list and the run controls is shown here from the timer on,
// one pane change at a time. The decoder thread never waits for this thread, so Stop simply raises
// the stop request, waits for that thread, and closes the run's files.
#include "app/maindialog_win32.h"

#include "app/halfwaves_win32.h"
#include "app/keep_win32.h"
#include "app/settings_win32.h"
#include "capture/soundcard_win32.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "report/panequeue.h"
#include "report/status.h"
#include "report/ui_win32.h"
#include "resources/resource.h"

namespace {

enum { kRawNameSize = 127 };

// Posted by the main dialog to itself: go on showing what is queued for the panes. Each dispatch
// makes at most one change of a pane, so that a command waiting meanwhile comes first.
enum { WM_SHOW_QUEUED = WM_APP + 2 };

// This thread's view of a run, the one place it is kept. Starting and Stopping cover the moments a
// box or a wave-input call may let another command in (a nested message loop, or a message sent
// from another process): a command that does not fit the state is ignored.
enum class Run { Idle, Starting, Recording, ReadingFile, Rescuing, Stopping };
Run RunState = Run::Idle;

// The raw file or the recording rescued has ended, as its decoder thread has told through the
// queue.
void EndRunByItself()
{
    if (RunState != Run::ReadingFile && RunState != Run::Rescuing)
        return;
    EndRun();
    ShowRunControlsIdle();
    RunState = Run::Idle;
}

// The step of the queued changes to be shown next; kShowSteps when none is due. Every timer tick
// starts them again from the first.
int NextShowStep = kShowSteps;

// Carries out the next step that has something to do, and posts the one after it.
void ShowQueued(HWND dialog)
{
    while (NextShowStep < kShowSteps) {
        if (ShowQueuedStep(dialog, NextShowStep++)) {
            if (NextShowStep < kShowSteps)
                PostMessageA(dialog, WM_SHOW_QUEUED, 0, 0);
            return;
        }
    }
}

// Exit, and closing the window: a recording is stopped first, so the device is reset and closed
// before the process ends.
void EndProgram(HWND dialog)
{
    RequestShutdown();
    if (RunState == Run::Recording)
        OnIDC_STOP(dialog);
    PostQuitMessage(0);
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        EndProgram(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_EXIT:
            EndProgram(dialog);
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
        case IDM_KEEP:
            ToggleKeepSetting(dialog);
            break;
        case IDM_RESCUE_LAST:
            OnIDM_RESCUE_LAST(dialog);
            break;
        case IDM_RESCUE_FILE:
            OnIDM_RESCUE_FILE(dialog);
            break;
        case IDM_HALFWAVES:
            ShowHalfWaves(TimingFieldsNow());
            break;
        case IDC_GENSOUND:
            MessageBoxA(dialog, "в процессе", "Генерация mp3 файла", MB_OK);
            break;
        }
        return FALSE;
    case WM_TIMER:
        ShowPosition();
        if (TakeRunEnded())
            EndRunByItself();
        NextShowStep = kShowStatus;
        ShowQueued(dialog);
        return FALSE;
    case WM_SHOW_QUEUED:
        ShowQueued(dialog);
        return TRUE;
    case WM_LONGEST_GAP:
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, static_cast<LONG_PTR>(LongestReturnGap(wParam != 0)));
        return TRUE;
    }
    return FALSE;
}

void OnIDC_START(HWND dialog)
{
    // Also a Start sent past the disabled button, or while a box of this one is open.
    if (RunState != Run::Idle)
        return;
    RunState = Run::Starting;
    Run running = Run::Recording;
    if (IsDlgButtonChecked(dialog, IDC_SRC_PCM) == BST_CHECKED) {
        char name[kRawNameSize];
        GetDlgItemTextA(dialog, IDC_RAWNAME, name, sizeof name);
        if (!BeginRun(name)) {
            ShowInfo("Невозможно открыть файл");
            RunState = Run::Idle;
            return;
        }
        running = Run::ReadingFile;
        KeepNothing();
        HalfWavesRunRecording(FullRecordingName(name));
    } else if (OpenSoundCard()) {
        BeginRun(nullptr);
        KeepSoundCardRun(dialog);
        HalfWavesRunRecording(LastRecording());
    } else {
        RunState = Run::Idle;
        return;
    }
    LockSettings(dialog);

    if (!StartDecoderThread()) {
        ShowInfo("CreateThread fails");
        ExitProcess(0);
    }
    RunState = running;
}

void OnIDC_STOP(HWND)
{
    // Idle is let through: after a failed device reset the controls stay locked, and a second Stop
    // unlocks them.
    if (RunState == Run::Starting || RunState == Run::Stopping)
        return;
    RunState = Run::Stopping;
    const bool closed = CloseSoundCard();
    EndRun();
    // An end its decoder told of just before Stop belongs to this run, which is over now.
    TakeRunEnded();
    if (closed)
        ShowRunControlsIdle();
    RunState = Run::Idle;
}

void OnIDM_RESCUE_LAST(HWND dialog)
{
    if (RunState == Run::Idle && !LastRecording().empty())
        StartRescue(dialog, LastRecording());
}

void OnIDM_RESCUE_FILE(HWND dialog)
{
    if (RunState != Run::Idle)
        return;
    // The open dialog runs a message loop of its own: Start and the menu are kept out meanwhile.
    RunState = Run::Starting;
    const std::string path = AskRecording(dialog, "Rescue recording");
    RunState = Run::Idle;
    if (!path.empty())
        StartRescue(dialog, path);
}

void StartRescue(HWND dialog, const std::string& path)
{
    RunState = Run::Starting;
    if (!PrepareRescue(path)) {
        RunState = Run::Idle;
        return;
    }
    BeginRunWith(RescueBody);
    HalfWavesRunRecording(FullRecordingName(path));
    LockSettings(dialog);
    if (!StartDecoderThread()) {
        ShowInfo("CreateThread fails");
        ExitProcess(0);
    }
    RunState = Run::Rescuing;
}

void LockSettings(HWND dialog)
{
    EnableWindow(GetDlgItem(dialog, IDC_START), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_STOP), TRUE);
    EnableTimingFields(false);
    LatchSettings();
}

void EndRunAtShutdown()
{
    RequestShutdown();
    EndRun();
}
