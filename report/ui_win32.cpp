// The user-interface seam of the Windows program: the core's messages land in the main dialog's
// panes and list box and in message boxes. Called from both threads; the decoder thread's calls are
// sent messages, carried out by the user-interface thread while the caller waits.
#include "report/ui.h"

#include <windows.h>

#include <string>
#include <vector>

#include "app/app_win32.h"
#include "decoder/timing.h"
#include "resources/resource.h"

namespace {

// The decoder thread's pane changes go through the main dialog, which first hands the device the
// buffers waiting in its queue: sent messages are served before any posted MM_WIM_DATA, and under
// Wine each change of a pane with a scroll bar costs 20 to 40 ms of painting. The lines at the end
// of a block kept the buffers waiting past the 70 ms that three of 1024 bytes hold, and the device
// dropped what found no buffer; with the hand-over the wait is one change at most.
void AddToPane(int control, const char* text)
{
    if (GetWindowThreadProcessId(MainDialog, nullptr) == GetCurrentThreadId())
        AddToPaneNow(MainDialog, control, text);
    else
        SendMessageA(MainDialog, WM_PANE_ADD, static_cast<WPARAM>(control), reinterpret_cast<LPARAM>(text));
}

}  // namespace

void AddToPaneNow(HWND dialog, int control, const char* text)
{
    const UINT message = control == IDC_CATALOGUE ? LB_ADDSTRING : EM_REPLACESEL;
    SendDlgItemMessageA(dialog, control, message, 0, reinterpret_cast<LPARAM>(text));
}

void UiStatusInsert(const char* text)
{
    AddToPane(IDC_STATUS, text);
}

void UiHeaderInsert(const char* text)
{
    AddToPane(IDC_HEADERS, text);
}

namespace {

// The lines of a rebuild, from its reset to its selection. Only one thread rebuilds at a time: the
// user-interface thread at start-up, before the decoder thread exists, then the decoder thread.
std::vector<std::string> RebuiltLines;
bool Rebuilding;

}  // namespace

// A rebuild's lines travel to the list in one message at its end: each message sent from the
// decoder thread costs Wine about half a millisecond, and a list box that repaints after every line
// 10 to 20 ms, which kept Stop and Exit waiting for a rescan of hundreds of files.
void UiCatalogueReset()
{
    RebuiltLines.clear();
    Rebuilding = true;
}

void UiCatalogueAppend(const char* line)
{
    if (Rebuilding)
        RebuiltLines.emplace_back(line);
    else
        AddToPane(IDC_CATALOGUE, line);
}

void UiCatalogueSelectLast()
{
    if (Rebuilding) {
        Rebuilding = false;
        SendMessageA(MainDialog, WM_CATALOGUE_LINES, 0, reinterpret_cast<LPARAM>(&RebuiltLines));
        RebuiltLines.clear();
        return;
    }
    const LRESULT count = SendDlgItemMessageA(MainDialog, IDC_CATALOGUE, LB_GETCOUNT, 0, 0);
    SendDlgItemMessageA(MainDialog, IDC_CATALOGUE, LB_SETCURSEL, count - 1, 0);
}

void FillCatalogue(HWND dialog, const std::vector<std::string>& lines)
{
    const HWND list = GetDlgItem(dialog, IDC_CATALOGUE);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const std::string& line : lines)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(lines.size()) - 1, 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
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
