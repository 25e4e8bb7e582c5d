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

void UiStatusInsert(const char* text)
{
    SendDlgItemMessageA(MainDialog, IDC_STATUS, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

void UiHeaderInsert(const char* text)
{
    SendDlgItemMessageA(MainDialog, IDC_HEADERS, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
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
        SendDlgItemMessageA(MainDialog, IDC_CATALOGUE, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
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
