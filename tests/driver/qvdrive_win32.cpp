// qvdrive: the Wine harness's hands and eyes. A console program run in the same Wine prefix as
// quorvane.exe; it finds the program's dialogs by caption and acts on their controls the way a user
// would, through window messages that work across processes (SendMessageTimeout, PostMessage), and
// prints what it reads on standard output. Its stress commands (hammer, exit-during) press Start,
// Stop and Exit many times in one Wine process, so that a press costs a window message rather than a
// Wine start-up, and measure where it happens how long each press takes to be carried out.
//
// Usage: qvdrive COMMAND ARGS... [COMMAND ARGS...]...
// Every command takes a fixed number of arguments, so several can follow one another in one call
// (one Wine start instead of many); they run in order and the first failure ends the call. TITLE is a
// top-level dialog's caption (class #32770: the program's dialogs and its message boxes), ID a
// control id (decimal), MS a time limit in milliseconds. Texts go in and come out as the program's
// own ANSI bytes (Windows-1251 under a Russian locale); standard output is binary, so "\r\n" inside
// a text stays as it is and every printed value ends in one "\n".
//
// Single thread. Touches nothing but the windows it is pointed at (and, for freeze, the thread that
// owns one; for hammer and exit-during, reads TAPEDIR). Fails with exit status 1 and one line
// "qvdrive: COMMAND: why" on standard error (window missing, control missing or disabled, no answer
// in time, time limit reached, a stress run that had to give up); exit status 2 for a malformed
// command line. Every wait is bounded by its MS argument, every sent message by kSendLimitMs.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

// A program that cannot answer a sent message within this time is taken as hung.
const UINT kSendLimitMs = 10000;
// Polling interval of the waits: short against the program's 100 ms timer, long enough not to load
// the two cores the program and its decoder thread need.
const DWORD kPollMs = 10;
// How long one ask of a wait may take before it is given up and asked again.
const UINT kPollAskMs = 250;
// The program's private query of its capture: the longest time, in microseconds, between two sound
// buffers the device handed back since the last query that started a new measure (wParam 1) or since
// the device was opened. wParam 0 reads it without starting a new one. A program that does not know
// the message answers 0.
const UINT kGapQuery = WM_APP + 3;
const UINT kGapLimitMs = 5000;
const char kMainTitle[] = "Quorvane";
const char kSettingsTitle[] = "Quorvane Setting";
// A press on a program that works is carried out in milliseconds. The stress limits are far beyond
// that so that a slow press is measured whole rather than cut off.
const UINT kPressLimitMs = 30000;
// How long a planned line of the log may take to appear.
const DWORD kLogLimitMs = 10000;
const DWORD kPressPollMs = 2;

struct Failure {
    std::string why;
};

[[noreturn]] void Fail(const std::string& why)
{
    throw Failure{why};
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

long ParseNumber(const char* text, const char* what)
{
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0')
        Fail(Format("%s \"%s\" is not a number", what, text));
    return value;
}

DWORD Ms(long ms)
{
    return static_cast<DWORD>(ms < 0 ? 0 : ms);
}

double NowMs()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

HWND FindDialog(const char* title)
{
    return FindWindowA("#32770", title);
}

HWND NeedDialog(const char* title)
{
    HWND dialog = FindDialog(title);
    if (dialog == nullptr)
        Fail(Format("no window \"%s\"", title));
    return dialog;
}

HWND NeedControl(const char* title, const char* idText, bool enabled = false)
{
    int id = static_cast<int>(ParseNumber(idText, "ID"));
    HWND control = GetDlgItem(NeedDialog(title), id);
    if (control == nullptr)
        Fail(Format("\"%s\" has no control %d", title, id));
    if (enabled && !IsWindowEnabled(control))
        Fail(Format("control %d of \"%s\" is disabled", id, title));
    return control;
}

bool TrySend(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT limitMs, DWORD_PTR& result)
{
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_BLOCK | SMTO_ABORTIFHUNG, limitMs, &result) != 0;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT limitMs = kSendLimitMs)
{
    DWORD_PTR result = 0;
    if (!TrySend(window, message, wParam, lParam, limitMs, result))
        Fail(Format("message 0x%04x got no answer within %u ms (error %lu)", message, limitMs, GetLastError()));
    return static_cast<LRESULT>(result);
}

// A window's text, or false when it does not answer within limitMs.
bool TryWindowText(HWND window, UINT limitMs, std::string& text)
{
    DWORD_PTR length = 0, got = 0;
    if (!TrySend(window, WM_GETTEXTLENGTH, 0, 0, limitMs, length))
        return false;
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    bool answered = TrySend(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), limitMs, got);
    text.assign(buffer.data(), static_cast<size_t>(got));
    return answered;
}

std::string WindowText(HWND window)
{
    std::string text;
    if (!TryWindowText(window, kSendLimitMs, text))
        Fail(Format("the text got no answer within %u ms (error %lu)", kSendLimitMs, GetLastError()));
    return text;
}

// Wine carries LB_GETTEXT across processes only in its Unicode form (the ANSI form hands the
// program the caller's own pointer, and the program faults writing to it), so the line is fetched
// as UTF-16 and turned back into the ANSI code page the program itself uses.
LRESULT SendWide(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_BLOCK | SMTO_ABORTIFHUNG, kSendLimitMs,
                            &result) == 0 ||
        static_cast<LRESULT>(result) == LB_ERR) {
        Fail(Format("line %ld vanished while reading, or message 0x%04x got no answer (error %lu)",
                    static_cast<long>(wParam), message, GetLastError()));
    }
    return static_cast<LRESULT>(result);
}

std::string ListLine(HWND list, LRESULT index)
{
    std::vector<wchar_t> wide(static_cast<size_t>(SendWide(list, LB_GETTEXTLEN, index, 0)) + 1, L'\0');
    int got = static_cast<int>(SendWide(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(wide.data())));
    int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), got, nullptr, 0, nullptr, nullptr);
    std::string line(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), got, &line[0], size, nullptr, nullptr);
    return line;
}

void Print(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!PostMessageA(window, message, wParam, lParam))
        Fail(Format("PostMessage failed (error %lu)", GetLastError()));
}

// WM_COMMAND as a click on the control produces it: the control's handle in lParam. Menu commands
// (Exit, Hide) have no control, so lParam is 0 for an id the dialog has no control for.
void Command(const char* title, const char* idText, bool post)
{
    HWND dialog = NeedDialog(title);
    int id = static_cast<int>(ParseNumber(idText, "ID"));
    HWND control = GetDlgItem(dialog, id);
    if (control != nullptr && !IsWindowEnabled(control))
        Fail(Format("control %d of \"%s\" is disabled", id, title));
    WPARAM wParam = MAKEWPARAM(id, BN_CLICKED);
    if (post) {
        Post(dialog, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control));
    } else {
        Send(dialog, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control));
    }
}

// An automatic radio button clicked by the user becomes checked and its group's others unchecked.
void CheckRadio(const char* title, const char* idText)
{
    HWND dialog = NeedDialog(title);
    HWND chosen = NeedControl(title, idText, true);
    HWND start = GetNextDlgGroupItem(dialog, chosen, FALSE);
    HWND item = start;
    do {
        if (item != chosen)
            Send(item, BM_SETCHECK, BST_UNCHECKED, 0);
        item = GetNextDlgGroupItem(dialog, item, FALSE);
    } while (item != nullptr && item != start);
    Send(chosen, BM_SETCHECK, BST_CHECKED, 0);
}

// Polls `done` every kPollMs until it holds; past msText milliseconds fails with what `why` says.
template <typename Done, typename Why>
void WaitFor(const char* msText, Done done, Why why)
{
    long ms = ParseNumber(msText, "MS");
    double deadline = NowMs() + static_cast<double>(Ms(ms));
    while (!done()) {
        if (NowMs() >= deadline)
            Fail(why(ms));
        Sleep(kPollMs);
    }
}

// Under Wine a box once stayed after its OK had been posted (a whole check run on a fresh machine
// failed on it; forty tries here did not repeat it). A user whose press was lost presses again, and
// so does the driver: once a second until the box has gone or the time is up.
void PressOk(const char* title, const char* msText)
{
    const double kRepressMs = 1000;
    // Only this box: the next one with the same caption may already be up, and is not ours to close.
    HWND box = NeedDialog(title);
    int presses = 0;
    double again = 0;
    WaitFor(
        msText,
        [&] {
            if (IsWindow(box) && NowMs() >= again) {
                if (!PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0) && IsWindow(box))
                    Fail(Format("PostMessage failed (error %lu)", GetLastError()));
                ++presses;
                again = NowMs() + kRepressMs;
            }
            return !IsWindow(box);
        },
        [&](long ms) { return Format("window \"%s\" still there after %ld ms and %d presses of OK", title, ms, presses); });
}

// Milliseconds with one decimal, rounded to the nearest tenth; the query starts a new measure.
void PrintGap(char** a)
{
    ULONGLONG micros = static_cast<DWORD_PTR>(Send(NeedDialog(a[0]), kGapQuery, 1, 0, kGapLimitMs));
    ULONGLONG tenths = (micros + 50) / 100;
    Print(Format("%llu.%llu", tenths / 10, tenths % 10));
}

// Stops the thread that owns the dialog for ms milliseconds, as a disk, a virus scanner or a slow
// paint may stall a window on a real machine: whatever that thread alone does (messages, the sound
// card's returned buffers) waits, while the process's other threads run on. The driver ends at a
// failure, which closes the thread's handle.
void Freeze(const char* title, long ms)
{
    DWORD threadId = GetWindowThreadProcessId(NeedDialog(title), nullptr);
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId);
    if (thread == nullptr || SuspendThread(thread) == static_cast<DWORD>(-1))
        Fail(Format("suspending thread %lu failed (error %lu)", threadId, GetLastError()));
    Sleep(Ms(ms));
    if (ResumeThread(thread) == static_cast<DWORD>(-1))
        Fail(Format("ResumeThread(%lu) failed (error %lu)", threadId, GetLastError()));
    CloseHandle(thread);
}

// The program's process, opened from its dialog: it must be opened while the window still exists,
// so that the command making it quit and the wait for its end can be one step.
HANDLE OpenProgram(HWND dialog)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        Fail(Format("OpenProcess(%lu) failed (error %lu)", pid, GetLastError()));
    return process;
}

// Posts the message, waits for the process to end; its exit code, and the milliseconds it took.
DWORD QuitAndWait(HWND dialog, UINT message, WPARAM wParam, long ms, double& tookMs)
{
    HANDLE process = OpenProgram(dialog);
    const double posted = NowMs();
    Post(dialog, message, wParam, 0);
    DWORD waited = WaitForSingleObject(process, Ms(ms));
    tookMs = NowMs() - posted;
    DWORD code = 0;
    if (waited != WAIT_OBJECT_0)
        Fail(Format("the program still runs %ld ms after it was told to end", ms));
    if (!GetExitCodeProcess(process, &code))
        Fail(Format("GetExitCodeProcess failed (error %lu)", GetLastError()));
    CloseHandle(process);
    return code;
}

// ---- the stress commands: records on standard output, judged by the caller

// "problem I WHY": a box other than the two dialogs, a press not carried out within kPressLimitMs, a
// wait run out, the program gone. A problem does not end a command unless it cannot go on.
void Problem(size_t press, const std::string& why)
{
    Print(Format("problem %u ", static_cast<unsigned>(press)) + why);
}

// The whole of a file the program may be writing at the same moment.
bool ReadShared(const std::string& path, std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    content.clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        content.append(buffer, got);
    CloseHandle(file);
    return true;
}

std::string LastLine(const std::string& path)
{
    std::string log;
    ReadShared(path, log);
    size_t end = log.find_last_not_of("\r\n");
    if (end == std::string::npos)
        return "";
    size_t start = log.find_last_of('\n', end);
    start = start == std::string::npos ? 0 : start + 1;
    return log.substr(start, end + 1 - start);
}

uint64_t Fnv1a(const std::string& bytes)
{
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    return hash;
}

// "file I NAME SIZE KIND MTIME HASH": TAPEDIR after press I; KIND u when the length field still
// holds the placeholder, c otherwise; MTIME the last write in 100 ns units; HASH FNV-1a 64 in hex.
void Snapshot(size_t press, const std::string& tape)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((tape + "\\out*.tap").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string content;
        if (!ReadShared(tape + "\\" + found.cFileName, content)) {
            Problem(press, std::string("cannot read ") + found.cFileName);
            continue;
        }
        const bool placeholder = content.size() >= 2 && content[0] == 0x20 && content[1] == 0x20;
        const unsigned long long written =
            static_cast<unsigned long long>(found.ftLastWriteTime.dwHighDateTime) << 32 | found.ftLastWriteTime.dwLowDateTime;
        Print(Format("file %u %s %u %c %llu %016llx", static_cast<unsigned>(press), found.cFileName,
                     static_cast<unsigned>(content.size()), placeholder ? 'u' : 'c', written,
                     static_cast<unsigned long long>(Fnv1a(content))));
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Any visible dialog-class window but the program's two is a box nobody asked for: an error the
// program shows, or a crash report.
BOOL CALLBACK ReportBox(HWND window, LPARAM press)
{
    char className[64] = "";
    char title[256] = "";
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window) || std::strcmp(title, kMainTitle) == 0 ||
        std::strcmp(title, kSettingsTitle) == 0)
        return TRUE;
    char text[512] = "";
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    for (char* c = text; *c; ++c)
        if (*c == '\r' || *c == '\n')
            *c = ' ';
    Problem(static_cast<size_t>(press), std::string("box \"") + title + "\": " + text);
    return TRUE;
}

void ReportBoxes(size_t press)
{
    EnumWindows(ReportBox, static_cast<LPARAM>(press));
}

// A click as the button sends it, with the milliseconds it took to be carried out; false when it
// was not within kPressLimitMs.
bool Press(HWND dialog, int id, double& tookMs)
{
    DWORD_PTR result = 0;
    const double began = NowMs();
    const bool done = TrySend(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                              reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)), kPressLimitMs, result);
    tookMs = NowMs() - began;
    return done;
}

// Starts a raw-file run of rawFile (the caller has chosen Source .PCM) and waits until status.log
// has gained `text` since the click (empty: at once), then delayMs more: waiting for a line of the
// program's own log lands a press in the phase that line opens (pilot, block, rescan) however fast
// or slow the machine is. Returns the log's last line at that moment and the time Start took.
std::string StartRun(HWND dialog, size_t press, const std::string& rawFile, const std::string& text, long delayMs,
                     const std::string& log, double& startMs)
{
    DWORD_PTR set = 0;
    if (!TrySend(GetDlgItem(dialog, IDC_RAWNAME), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(rawFile.c_str()),
                 kPressLimitMs, set) ||
        set == 0)
        Problem(press, "the raw file name field refused " + rawFile);
    std::string before;
    ReadShared(log, before);
    if (!Press(dialog, IDC_START, startMs))
        Problem(press, "Start not carried out within the limit");
    const double deadline = NowMs() + kLogLimitMs;
    std::string content;
    while (!text.empty() && !(ReadShared(log, content) && content.size() > before.size() &&
                              content.find(text, before.size()) != std::string::npos)) {
        if (NowMs() >= deadline) {
            Problem(press, "no \"" + text + "\" in status.log after Start");
            break;
        }
        Sleep(kPressPollMs);
    }
    Sleep(Ms(delayMs));
    return LastLine(log);
}

// PLAN holds one run a line, "DELAY_MS RAWFILE TEXT", each ended by Stop. Records per run:
//   press I START_MS STOP_MS<TAB>AT<TAB>LAST  the milliseconds the Start and the Stop click took to be
//                                  carried out; the last line of status.log when Stop was clicked
//                                  (where the run was) and when it had been carried out
// then the boxes and a snapshot of TAPEDIR. Gives up (fails) when the program has gone, Start stays
// disabled or the budget is used up.
void Hammer(const char* planName, const std::string& tape, double budgetS)
{
    std::FILE* plan = std::fopen(planName, "rb");
    if (plan == nullptr)
        Fail(Format("cannot open the plan %s", planName));
    const std::string log = tape + "\\status.log";
    const double budgetEnd = NowMs() + 1000.0 * budgetS;
    HWND dialog = NeedDialog(kMainTitle);
    HANDLE process = OpenProgram(dialog);
    char line[256], rawFile[128];
    for (size_t press = 1; std::fgets(line, sizeof line, plan); ++press) {
        line[std::strcspn(line, "\r\n")] = '\0';
        int used = -1;
        long delayMs = 0;
        if (std::sscanf(line, "%ld %127s %n", &delayMs, rawFile, &used) < 2 || used < 0)
            Fail(std::string("a malformed line in the plan: ") + line);
        if (NowMs() > budgetEnd)
            Fail("time budget used up");
        WaitFor(
            "30000", [&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_START)) != FALSE; },
            [&](long) { return Format("Start not enabled before press %u", static_cast<unsigned>(press)); });
        double startMs = 0, stopMs = 0;
        const std::string at = StartRun(dialog, press, rawFile, line + used, delayMs, log, startMs);
        if (!IsWindowEnabled(GetDlgItem(dialog, IDC_STOP)))
            Problem(press, "the run had ended before Stop");
        else if (!Press(dialog, IDC_STOP, stopMs))
            Problem(press, "Stop not carried out within the limit");
        Print(Format("press %u %.1f %.1f\t", static_cast<unsigned>(press), startMs, stopMs) + at + "\t" + LastLine(log));
        ReportBoxes(press);
        DWORD code = 0;
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code))
            Fail(Format("the program ended with code %ld after press %u", static_cast<long>(code), static_cast<unsigned>(press)));
        Snapshot(press, tape);
    }
    std::fclose(plan);
    CloseHandle(process);
}

// One run ended by Exit from the menu; waits for the process to end. Record:
//   exit CODE MS LINES<TAB>AT      the process's exit code, the milliseconds from posting Exit to the
//                                  end of the process, the catalogue's line count and the last line
//                                  of status.log when Exit was posted
void ExitDuringRun(const std::string& tape, long delayMs, const char* rawFile, const char* text)
{
    HWND dialog = NeedDialog(kMainTitle);
    double startMs = 0, tookMs = 0;
    const std::string at = StartRun(dialog, 1, rawFile, text, delayMs, tape + "\\status.log", startMs);
    DWORD_PTR lines = 0;
    TrySend(GetDlgItem(dialog, IDC_CATALOGUE), LB_GETCOUNT, 0, 0, kPressLimitMs, lines);
    ReportBoxes(1);
    DWORD code = QuitAndWait(dialog, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), kPressLimitMs, tookMs);
    Print(Format("exit %ld %.1f %ld\t", static_cast<long>(code), tookMs, static_cast<long>(lines)) + at);
}

// Time stamp for mark/since: lets the harness time a step without counting Wine's start-up.
double gMark = 0;

void PrintFlag(bool flag)
{
    Print(flag ? "1" : "0");
}

void Wait(const char* title, const char* msText, bool present)
{
    WaitFor(
        msText,
        [&] {
            HWND dialog = FindDialog(title);
            return present ? dialog != nullptr && IsWindowVisible(dialog) : dialog == nullptr;
        },
        [&](long ms) {
            return Format(present ? "no window \"%s\" within %ld ms" : "window \"%s\" still there after %ld ms", title, ms);
        });
}

// For counters the program shows as decimal text (the recording position). Under Wine a program
// still starting up (before its message loop, opening the sound device) was seen to stay blocked for
// as long as a message from here waited on it: short asks, tried again, keep such a wait short.
void WaitNumber(char** a)
{
    const long minimum = ParseNumber(a[2], "MIN");
    std::string text;
    WaitFor(
        a[3],
        [&] {
            return TryWindowText(NeedControl(a[0], a[1]), kPollAskMs, text) && !text.empty() &&
                   std::strtol(text.c_str(), nullptr, 10) >= minimum;
        },
        [&](long ms) {
            return Format("control %s of \"%s\" shows \"%s\", not %ld or more, after %ld ms", a[1], a[0], text.c_str(),
                          minimum, ms);
        });
}

void Quit(const char* title, UINT message, WPARAM wParam, const char* msText)
{
    double tookMs = 0;
    Print(Format("%ld", static_cast<long>(QuitAndWait(NeedDialog(title), message, wParam, ParseNumber(msText, "MS"), tookMs))));
}

void Rect(char** a)
{
    RECT r;
    if (!GetWindowRect(std::strcmp(a[1], "0") == 0 ? NeedDialog(a[0]) : NeedControl(a[0], a[1]), &r))
        Fail(Format("GetWindowRect failed (error %lu)", GetLastError()));
    Print(Format("%ld %ld %ld %ld", r.left, r.top, r.right, r.bottom));
}

void Move(char** a)
{
    if (!SetWindowPos(NeedDialog(a[0]), nullptr, static_cast<int>(ParseNumber(a[1], "X")),
                      static_cast<int>(ParseNumber(a[2], "Y")), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
        Fail(Format("SetWindowPos failed (error %lu)", GetLastError()));
}

void ListLines(char** a)
{
    HWND list = NeedControl(a[0], a[1]);
    LRESULT count = Send(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        Print(ListLine(list, i));
}

// As Alt and the letter do; WM_CANCELMODE ends the menu's loop in the program's thread.
void Menu(char** a)
{
    if (a[1][0] == '-')
        Post(NeedDialog(a[0]), WM_CANCELMODE, 0, 0);
    else
        Post(NeedDialog(a[0]), WM_SYSCOMMAND, SC_KEYMENU, static_cast<unsigned char>(a[1][0]));
}

struct CommandInfo {
    const char* name;
    int arity;
    const char* args;
    const char* meaning;
    void (*run)(char** a);
};

const CommandInfo kCommands[] = {
    {"wait", 2, "TITLE MS", "wait until the dialog exists and is visible", [](char** a) { Wait(a[0], a[1], true); }},
    {"gone", 2, "TITLE MS", "wait until no dialog of that caption exists", [](char** a) { Wait(a[0], a[1], false); }},
    {"visible", 1, "TITLE", "print 1 if the dialog is visible, else 0",
     [](char** a) { PrintFlag(IsWindowVisible(NeedDialog(a[0]))); }},
    {"click", 2, "TITLE ID", "send the click command of an enabled control (or a menu command)",
     [](char** a) { Command(a[0], a[1], false); }},
    {"post", 2, "TITLE ID", "post it instead: for handlers that open a modal box", [](char** a) { Command(a[0], a[1], true); }},
    {"settext", 3, "TITLE ID TEXT", "set an enabled control's text",
     [](char** a) {
         if (!Send(NeedControl(a[0], a[1], true), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[2])))
             Fail("the control refused the text");
     }},
    {"text", 2, "TITLE ID", "print a control's text", [](char** a) { Print(WindowText(NeedControl(a[0], a[1]))); }},
    {"enabled", 2, "TITLE ID", "print 1 if the control is enabled, else 0",
     [](char** a) { PrintFlag(IsWindowEnabled(NeedControl(a[0], a[1]))); }},
    {"wait-enabled", 3, "TITLE ID MS", "wait until the control is enabled",
     [](char** a) {
         WaitFor(
             a[2], [&] { return IsWindowEnabled(NeedControl(a[0], a[1])) != FALSE; },
             [&](long ms) { return Format("control %s of \"%s\" not enabled within %ld ms", a[1], a[0], ms); });
     }},
    {"wait-text", 4, "TITLE ID TEXT MS", "wait until the control's text contains TEXT",
     [](char** a) {
         WaitFor(
             a[3], [&] { return WindowText(NeedControl(a[0], a[1])).find(a[2]) != std::string::npos; },
             [&](long ms) { return Format("control %s of \"%s\" shows no \"%s\" within %ld ms", a[1], a[0], a[2], ms); });
     }},
    {"wait-number", 4, "TITLE ID MIN MS", "wait until the control shows a number of at least MIN", WaitNumber},
    {"radio", 2, "TITLE ID", "check a radio button, unchecking the rest of its group", [](char** a) { CheckRadio(a[0], a[1]); }},
    {"checked", 2, "TITLE ID", "print 1 if the button is checked, else 0",
     [](char** a) { PrintFlag(Send(NeedControl(a[0], a[1]), BM_GETCHECK, 0, 0) == BST_CHECKED); }},
    {"lbcount", 2, "TITLE ID", "print a list box's line count",
     [](char** a) { Print(Format("%ld", static_cast<long>(Send(NeedControl(a[0], a[1]), LB_GETCOUNT, 0, 0)))); }},
    {"lblines", 2, "TITLE ID", "print a list box's lines, one a line", ListLines},
    {"lbsel", 2, "TITLE ID", "print a list box's selected index (-1: none)",
     [](char** a) { Print(Format("%ld", static_cast<long>(Send(NeedControl(a[0], a[1]), LB_GETCURSEL, 0, 0)))); }},
    {"ok", 2, "TITLE MS", "press OK of a message box and wait until it is gone", [](char** a) { PressOk(a[0], a[1]); }},
    {"rect", 2, "TITLE ID", "print the screen rectangle \"left top right bottom\" (ID 0: the dialog)", Rect},
    {"move", 3, "TITLE X Y", "move the dialog to screen position X, Y", Move},
    {"quit", 3, "TITLE ID MS", "post a command, wait for the process to end, print its exit code",
     [](char** a) { Quit(a[0], WM_COMMAND, MAKEWPARAM(static_cast<WORD>(ParseNumber(a[1], "ID")), 0), a[2]); }},
    {"close", 2, "TITLE MS", "post WM_CLOSE, wait for the process to end, print its exit code",
     [](char** a) { Quit(a[0], WM_CLOSE, 0, a[1]); }},
    {"gap", 1, "TITLE", "print the longest gap between returned sound buffers (ms) and start a new measure", PrintGap},
    {"freeze", 2, "TITLE MS", "suspend the thread that owns the dialog for MS ms",
     [](char** a) { Freeze(a[0], ParseNumber(a[1], "MS")); }},
    {"menu", 2, "TITLE KEY", "open the dialog's menu whose mnemonic is KEY (a letter), or close it (-)", Menu},
    {"sleep", 1, "MS", "pause", [](char** a) { Sleep(Ms(ParseNumber(a[0], "MS"))); }},
    {"mark", 0, "", "remember the time", [](char**) { gMark = NowMs(); }},
    {"since", 0, "", "print the milliseconds since the last mark (or the start)",
     [](char**) { Print(Format("%.0f", NowMs() - gMark)); }},
    {"hammer", 3, "PLAN TAPEDIR BUDGET_S", "Start and Stop the runs of PLAN on the main dialog, with records",
     [](char** a) { Hammer(a[0], a[1], std::atof(a[2])); }},
    {"exit-during", 4, "TAPEDIR MS RAWFILE TEXT", "start a run, Exit MS ms after TEXT is logged, a record",
     [](char** a) { ExitDuringRun(a[0], ParseNumber(a[1], "MS"), a[2], a[3]); }},
    {"boxes", 0, "", "print a problem record for every box on the screen but the two dialogs", [](char**) { ReportBoxes(0); }},
};

void Usage()
{
    std::fprintf(stderr, "usage: qvdrive COMMAND ARGS... [COMMAND ARGS...]...\n");
    for (const CommandInfo& command : kCommands)
        std::fprintf(stderr, "  %-13s %-23s %s\n", command.name, command.args, command.meaning);
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    gMark = NowMs();
    if (argc < 2) {
        Usage();
        return 2;
    }
    for (int i = 1; i < argc;) {
        const CommandInfo* info = nullptr;
        for (const CommandInfo& candidate : kCommands) {
            if (std::strcmp(candidate.name, argv[i]) == 0)
                info = &candidate;
        }
        if (info == nullptr || argc - i - 1 < info->arity) {
            std::fprintf(stderr, info ? "qvdrive: %s needs %s\n" : "qvdrive: unknown command \"%s\"%s\n", argv[i],
                         info ? info->args : "");
            Usage();
            return 2;
        }
        try {
            info->run(argv + i + 1);
        } catch (const Failure& failure) {
            std::fprintf(stderr, "qvdrive: %s: %s\n", info->name, failure.why.c_str());
            return 1;
        }
        i += 1 + info->arity;
    }
    return 0;
}
