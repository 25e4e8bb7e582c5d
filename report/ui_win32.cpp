// The user-interface seam of the Windows program. What the core logs, reports and lists is queued
// (report/panequeue.h) and shown by the user-interface thread in batches, on its timer; only the
// boxes and the clock are immediate. Called from both threads; neither ever waits for the window.
#include "report/ui.h"

#include <windows.h>

#include <string>

#include "report/panequeue.h"
#include "report/ui_win32.h"
#include "resources/resource.h"
#include "resources/timing_fields.h"

HWND MainDialog;
HWND SettingsDialog;
std::atomic<bool> CatalogueHeld{false};

void UiStatusInsert(const char* text)
{
    QueueStatusText(text);
}

void UiHeaderInsert(const char* text)
{
    QueueHeaderText(text);
}

void UiCatalogueReset()
{
    if (CatalogueHeld.load())
        return;
    QueueCatalogueReset();
}

void UiCatalogueAppend(const char* line)
{
    if (CatalogueHeld.load())
        return;
    QueueCatalogueAppend(line);
}

void UiCatalogueSelectLast()
{
    if (CatalogueHeld.load())
        return;
    QueueCatalogueSelectLast();
}

void UiRunEnded()
{
    // The main dialog's timer collects the run and unlocks the controls.
    QueueRunEnded();
}

void ShowRunControlsIdle()
{
    EnableWindow(GetDlgItem(MainDialog, IDC_START), TRUE);
    EnableWindow(GetDlgItem(MainDialog, IDC_STOP), FALSE);
    EnableTimingFields(true);
}

void EnableTimingFields(bool enabled)
{
    for (const TimingFieldControl& field : kTimingFieldControls)
        EnableWindow(GetDlgItem(SettingsDialog, field.id), enabled);
}

namespace {

// All the text waiting for a pane goes in with one insertion: under Wine each change of a pane
// with a scroll bar costs 20 to 40 ms of painting whatever its length, so the five lines at the end
// of a block cost one change instead of ten.
bool InsertQueued(HWND dialog, int control, const std::string& text)
{
    if (text.empty())
        return false;
    SendDlgItemMessageA(dialog, control, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return true;
}

// The list is changed where it differs, with its drawing held, and drawn once: after a block only
// its last lines change, however many files TAPE holds.
bool ChangeCatalogue(HWND dialog)
{
    const CatalogueChange change = TakeCatalogueChange();
    if (!change.changed)
        return false;
    const HWND list = GetDlgItem(dialog, IDC_CATALOGUE);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (size_t i = 0; i < change.remove; ++i)
        SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(change.keep), 0);
    for (const std::string& line : change.add)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    if (change.reselect)
        SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(change.select), 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    return true;
}

}  // namespace

bool ShowQueuedStep(HWND dialog, int step)
{
    switch (step) {
    case kShowStatus:
        return InsertQueued(dialog, IDC_STATUS, TakeStatusText());
    case kShowHeaders:
        return InsertQueued(dialog, IDC_HEADERS, TakeHeaderText());
    case kShowCatalogue:
        return ChangeCatalogue(dialog);
    }
    return false;
}

void UiInfoBox(const char* text)
{
    MessageBoxA(nullptr, text, "Сообщение", MB_OK | MB_ICONINFORMATION);
}

void UiFatalBox(const char* text)
{
    MessageBoxA(nullptr, text, "FATAL ERROR", MB_OK);
}

void UiLocalTime(int* hour, int* minute, int* second)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    *hour = now.wHour;
    *minute = now.wMinute;
    *second = now.wSecond;
}
