// The user-interface seam of the Windows program: the core's messages land in the main dialog's
// panes and list box and in message boxes. Called from both threads; the decoder thread's calls are
// sent messages, carried out by the user-interface thread while the caller waits.
#include "report/ui.h"

#include <windows.h>

#include "app/app_win32.h"
#include "decoder/timing.h"
#include "resources/resource.h"

void UiStatusInsert(const char* text)
{
    SendDlgItemMessageA(MainDialog, IDC_STATUS, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

void UiHeaderInsert(const char* text)
{
    SendDlgItemMessageA(MainDialog, IDC_HEADERS, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

void UiCatalogueReset()
{
    // A rescan of hundreds of files would repaint the list after every line (Wine takes 10-20 ms a
    // line) and keep Stop and Exit waiting for it; the list is drawn again when the rescan selects
    // its last line.
    SendDlgItemMessageA(MainDialog, IDC_CATALOGUE, WM_SETREDRAW, FALSE, 0);
    SendDlgItemMessageA(MainDialog, IDC_CATALOGUE, LB_RESETCONTENT, 0, 0);
}

void UiCatalogueAppend(const char* line)
{
    SendDlgItemMessageA(MainDialog, IDC_CATALOGUE, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

void UiCatalogueSelectLast()
{
    const LRESULT count = SendDlgItemMessageA(MainDialog, IDC_CATALOGUE, LB_GETCOUNT, 0, 0);
    SendDlgItemMessageA(MainDialog, IDC_CATALOGUE, LB_SETCURSEL, count - 1, 0);
    SendDlgItemMessageA(MainDialog, IDC_CATALOGUE, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(GetDlgItem(MainDialog, IDC_CATALOGUE), nullptr, TRUE);
}

void UiRunControlsIdle()
{
    EnableWindow(GetDlgItem(MainDialog, IDC_START), TRUE);
    EnableWindow(GetDlgItem(MainDialog, IDC_STOP), FALSE);
    for (const TimingField& field : TimingFields)
        EnableWindow(GetDlgItem(SettingsDialog, field.fieldId), TRUE);
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
