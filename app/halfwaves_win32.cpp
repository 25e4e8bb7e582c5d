// The half-waves window. The picture is laid out by the core (report/histogram.h) for the control's
// size and painted here from that list of boxes and texts, into a bitmap first so that a redraw at
// every keystroke in a settings field does not flicker.
#include "app/halfwaves_win32.h"

#include <atomic>
#include <thread>
#include <vector>

#include "app/keep_win32.h"
#include "audio/format.h"
#include "report/histogram.h"
#include "report/status.h"
#include "report/ui_win32.h"
#include "rescue/measure.h"
#include "resources/resource.h"

namespace {

// Posted by the reading thread when it is done; wParam is the reading's number.
enum { WM_LOOKED = WM_APP + 6 };

HWND Window;
TimingRecord Fields;
std::string RunRecording;

// The recording shown, or being read, and whether it was chosen here (else it is the last run's).
std::string Shown;
bool Chosen = false;

// The reading: its thread and number, the request to stop it, and what it found, which this thread
// takes only once it has joined the reading thread.
std::thread Reader;
unsigned Reading = 0;
std::atomic<bool> StopReading{false};
RecordingLook Found;
bool FoundOk = false;
std::string FoundError;
uint8_t FoundBaseLine = 0;

// What the window shows.
RecordingLook Look;
bool HaveLook = false;
uint8_t LookBaseLine = 0;
std::string Problem;

void StopReader()
{
    if (Reader.joinable()) {
        StopReading = true;
        Reader.join();
    }
    StopReading = false;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void ShowText()
{
    std::string source;
    if (Shown.empty())
        source = RunRecording.empty() ? "The last run kept no recording: choose one." : "";
    else
        source = (Chosen ? "Chosen: " : "Last run: ") + BaseName(Shown);
    std::string text;
    if (Reader.joinable()) {
        text = "Reading...";
    } else if (HaveLook) {
        text = Look.description + "\r\n\r\n";
        for (const std::string& line : DescribeLook(Look.measure, SuggestThresholds(Look.measure, Fields)))
            text += line + "\r\n";
    } else {
        text = Problem;
    }
    SetDlgItemTextA(Window, IDC_HW_SOURCE, source.c_str());
    SetDlgItemTextA(Window, IDC_HW_TEXT, text.c_str());
    EnableWindow(GetDlgItem(Window, IDC_HW_SUGGEST), HaveLook && Look.measure.blocks > 0);
}

void Redraw()
{
    InvalidateRect(GetDlgItem(Window, IDC_HW_PICTURE), nullptr, FALSE);
}

void StartReading(const std::string& path, bool chosen)
{
    StopReader();
    Shown = path;
    Chosen = chosen;
    HaveLook = false;
    Problem.clear();
    FoundBaseLine = Fields.BaseLine;
    const unsigned number = ++Reading;
    const uint8_t baseLine = Fields.BaseLine;
    Reader = std::thread([path, baseLine, number] {
        FoundOk = LookAtRecording(path.c_str(), kMixChannels, baseLine, &Found, &FoundError, &StopReading);
        PostMessageA(Window, WM_LOOKED, number, 0);
    });
    ShowText();
    Redraw();
}

void TakeLook(unsigned number)
{
    // A reading stopped for another may have posted before it was joined.
    if (number != Reading || !Reader.joinable())
        return;
    Reader.join();
    HaveLook = FoundOk;
    if (FoundOk) {
        Look = Found;
        LookBaseLine = FoundBaseLine;
    } else {
        Problem = "Cannot read it: " + FoundError;
        if (Chosen)
            ShowInfo(FoundError.c_str());
    }
    ShowText();
    Redraw();
}

COLORREF Colour(uint32_t rgb)
{
    return RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF);
}

void Paint(const DRAWITEMSTRUCT& item)
{
    const int width = item.rcItem.right - item.rcItem.left, height = item.rcItem.bottom - item.rcItem.top;
    if (width <= 0 || height <= 0)
        return;
    const HistogramLayout layout = LayOutHistogram(HaveLook ? Look.histogram : HalfWaveHistogram(), Fields, width, height);
    HDC dc = CreateCompatibleDC(item.hDC);
    HBITMAP bitmap = CreateCompatibleBitmap(item.hDC, width, height);
    if (!dc || !bitmap) {
        if (bitmap)
            DeleteObject(bitmap);
        if (dc)
            DeleteDC(dc);
        return;
    }
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    std::vector<HistogramFill> fills = {{{0, 0, width, height}, kHistogramPaper}};
    fills.insert(fills.end(), layout.fills.begin(), layout.fills.end());
    for (const HistogramFill& fill : fills) {
        const RECT box = {fill.box.left, fill.box.top, fill.box.right, fill.box.bottom};
        HBRUSH brush = CreateSolidBrush(Colour(fill.colour));
        FillRect(dc, &box, brush);
        DeleteObject(brush);
    }
    HFONT font = CreateFontA(-kHistogramFontSize, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                             "Tahoma");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Colour(kHistogramInk));
    static const UINT kAlign[] = {TA_LEFT, TA_CENTER, TA_RIGHT};
    for (const HistogramText& text : layout.texts) {
        SetTextAlign(dc, TA_BASELINE | kAlign[text.align]);
        TextOutA(dc, text.x, text.y, text.text.c_str(), static_cast<int>(text.text.size()));
    }
    BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, width, height, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldFont);
    DeleteObject(font);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

void OnCommand(int id)
{
    switch (id) {
    case IDC_HW_CHOOSE: {
        const std::string path = AskRecording(Window, "Half-waves of a recording");
        if (!path.empty())
            StartReading(path, true);
        break;
    }
    case IDC_HW_LASTRUN:
        if (RunRecording.empty()) {
            StopReader();
            Shown.clear();
            HaveLook = false;
            Problem.clear();
            ShowText();
            Redraw();
        } else {
            StartReading(RunRecording, false);
        }
        break;
    case IDC_HW_SUGGEST:
        if (HaveLook && Look.measure.blocks > 0) {
            TimingRecord suggested = SuggestThresholds(Look.measure, Fields);
            SendMessageA(SettingsDialog, WM_PUT_THRESHOLDS, 0, reinterpret_cast<LPARAM>(&suggested));
        }
        break;
    case IDCANCEL:
        ShowWindow(Window, SW_HIDE);
        break;
    }
}

INT_PTR CALLBACK HalfWavesProc(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        ShowWindow(Window, SW_HIDE);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED)
            OnCommand(LOWORD(wParam));
        return TRUE;
    case WM_DRAWITEM:
        if (wParam == IDC_HW_PICTURE) {
            Paint(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        return FALSE;
    case WM_LOOKED:
        TakeLook(static_cast<unsigned>(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void ShowHalfWaves(const TimingRecord& fields)
{
    Fields = fields;
    if (!Window) {
        Window = CreateDialogParamA(GetModuleHandleA(nullptr), "DIALOG_3", MainDialog, HalfWavesProc, 0);
        if (!Window)
            return;
    }
    ShowWindow(Window, SW_SHOW);
    SetForegroundWindow(Window);
    if (!Chosen && Shown != RunRecording && !RunRecording.empty())
        StartReading(RunRecording, false);
    else
        ShowText();
    Redraw();
}

void HalfWavesThresholds(const TimingRecord& fields)
{
    Fields = fields;
    if (!Window)
        return;
    // The half-waves themselves depend on the base line alone.
    const bool otherBaseLine = Reader.joinable() ? fields.BaseLine != FoundBaseLine
                                                 : HaveLook && fields.BaseLine != LookBaseLine;
    if (otherBaseLine) {
        StartReading(Shown, Chosen);
        return;
    }
    ShowText();
    Redraw();
}

void HalfWavesRunRecording(const std::string& path)
{
    RunRecording = path;
}

bool HalfWavesDialogMessage(MSG* message)
{
    return Window && IsDialogMessageA(Window, message);
}

void EndHalfWaves()
{
    StopReader();
    if (Window)
        DestroyWindow(Window);
    Window = nullptr;
}
