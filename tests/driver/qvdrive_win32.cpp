// qvdrive: the Wine harness's hands and eyes. A console program run in the same Wine prefix as
// quorvane.exe; it finds the program's dialogs by caption and acts on their controls the way a user
// would, through window messages that work across processes (SendMessageTimeout, PostMessage), and
// prints what it reads on standard output. A whole session of presses runs in one Wine process, so
// that a press costs a window message rather than a Wine start-up: the stress's hundred Starts and
// Stops are one script of commands, timed where they happen (press, quit), with what the program
// logged and left in TAPE read between them (logged, snapshot).
//
// Usage: qvdrive COMMAND ARGS... [COMMAND ARGS...]...   or   qvdrive @FILE
// Every command takes a fixed number of arguments, so several can follow one another in one call;
// they run in order and the first failure ends the call. @FILE reads the commands and their
// arguments from FILE, one a line (for scripts too long for a command line). TITLE is a top-level
// dialog's caption (class #32770: the program's dialogs and its message boxes), ID a control id
// (decimal), MS a time limit in milliseconds. Texts go in and come out as the program's own ANSI
// bytes (Windows-1251 under a Russian locale; Wine converts a command line's UTF-8 to them, not a
// FILE's lines); standard output is binary, so "\r\n" inside a text stays as it is and every
// printed value ends in one "\n".
//
// Single thread. Touches nothing but the windows it is pointed at (and, for freeze, the thread that
// owns one) and reads the files it is given. Fails with exit status 1 and one line
// "qvdrive: COMMAND ARGS...: why" on standard error (window missing, control missing or disabled, no
// answer in time, time limit reached); exit status 2 for a malformed command line. Every wait is
// bounded by its MS argument, every sent message by kSendLimitMs.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A program that cannot answer a sent message within this time is taken as hung.
const UINT kSendLimitMs = 10000;
// Polling interval of the waits: short against the program's 100 ms timer, long enough not to load
// the two cores the program and its decoder thread need.
const DWORD kPollMs = 10;
// The log is polled faster, so that a press lands close behind the line it waits for.
const DWORD kLogPollMs = 2;
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

struct Failure {
    std::string why;
};

[[noreturn]] void Fail(const std::string& why)
{
    throw Failure{why};
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// A decimal argument; a negative time counts as none.
DWORD Number(const char* text)
{
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0')
        Fail(Format("\"%s\" is not a number", text));
    return static_cast<DWORD>(value < 0 ? 0 : value);
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
    HWND control = GetDlgItem(NeedDialog(title), static_cast<int>(Number(idText)));
    if (control == nullptr)
        Fail(Format("\"%s\" has no control %s", title, idText));
    if (enabled && !IsWindowEnabled(control))
        Fail(Format("control %s of \"%s\" is disabled", idText, title));
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

void PrintNumber(long value)
{
    Print(Format("%ld", value));
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
    HWND control = GetDlgItem(dialog, static_cast<int>(Number(idText)));
    if (control != nullptr && !IsWindowEnabled(control))
        Fail(Format("control %s of \"%s\" is disabled", idText, title));
    WPARAM wParam = MAKEWPARAM(Number(idText), BN_CLICKED);
    if (post)
        Post(dialog, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control));
    else
        Send(dialog, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control));
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

// Polls `done` every pollMs until it holds; false when ms milliseconds have passed first.
template <typename Done>
bool Within(DWORD ms, Done done, DWORD pollMs = kPollMs)
{
    const double deadline = NowMs() + ms;
    while (!done()) {
        if (NowMs() >= deadline)
            return false;
        Sleep(pollMs);
    }
    return true;
}

// A wait that fails plainly: the complaint names the command and its arguments.
template <typename Done>
void WaitUntil(const char* msText, Done done)
{
    if (!Within(Number(msText), done))
        Fail("timed out");
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
    if (!Within(Number(msText), [&] {
            if (IsWindow(box) && NowMs() >= again) {
                if (!PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0) && IsWindow(box))
                    Fail(Format("PostMessage failed (error %lu)", GetLastError()));
                ++presses;
                again = NowMs() + kRepressMs;
            }
            return !IsWindow(box);
        }))
        Fail(Format("still there after %d presses of OK", presses));
}

// For counters the program shows as decimal text (the recording position). Under Wine a program
// still starting up (before its message loop, opening the sound device) was seen to stay blocked for
// as long as a message from here waited on it: short asks, tried again, keep such a wait short.
void WaitNumber(char** a)
{
    const long minimum = static_cast<long>(Number(a[2]));
    std::string text;
    if (!Within(Number(a[3]), [&] {
            return TryWindowText(NeedControl(a[0], a[1]), kPollAskMs, text) && !text.empty() &&
                   std::strtol(text.c_str(), nullptr, 10) >= minimum;
        }))
        Fail(Format("shows \"%s\"", text.c_str()));
}

// Stops the thread that owns the dialog for ms milliseconds, as a disk, a virus scanner or a slow
// paint may stall a window on a real machine: whatever that thread alone does (messages, the sound
// card's returned buffers) waits, while the process's other threads run on. The driver ends at a
// failure, which closes the thread's handle.
void Freeze(const char* title, DWORD ms)
{
    DWORD threadId = GetWindowThreadProcessId(NeedDialog(title), nullptr);
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId);
    if (thread == nullptr || SuspendThread(thread) == static_cast<DWORD>(-1))
        Fail(Format("suspending thread %lu failed (error %lu)", threadId, GetLastError()));
    Sleep(ms);
    if (ResumeThread(thread) == static_cast<DWORD>(-1))
        Fail(Format("ResumeThread(%lu) failed (error %lu)", threadId, GetLastError()));
    CloseHandle(thread);
}

// Posts the message and waits for the program's process to end; prints "CODE MS", its exit code and
// the milliseconds from the post to its end. The process is opened while the window still exists,
// so that the command making it quit and the wait for its end are one step.
void QuitAndWait(const char* title, UINT message, WPARAM wParam, const char* msText)
{
    HWND dialog = NeedDialog(title);
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        Fail(Format("OpenProcess(%lu) failed (error %lu)", pid, GetLastError()));
    const double posted = NowMs();
    Post(dialog, message, wParam, 0);
    if (WaitForSingleObject(process, Number(msText)) != WAIT_OBJECT_0)
        Fail("the program still runs");
    const double tookMs = NowMs() - posted;
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code))
        Fail(Format("GetExitCodeProcess failed (error %lu)", GetLastError()));
    CloseHandle(process);
    Print(Format("%ld %.1f", static_cast<long>(code), tookMs));
}

// The whole of a file the program may be writing at the same moment. Shared for deletion too: the
// program removes a file it has just opened when its block comes to nothing, and must not fail
// because the driver is reading it.
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

// The log of `log`, and its length then: wait-log looks for its text only in what came after.
std::string gLog;
size_t gLogFrom = 0;

void WaitLog(const char* text, const char* msText)
{
    std::string content;
    auto found = [&] { return ReadShared(gLog, content) && content.find(text, gLogFrom) != std::string::npos; };
    if (!Within(Number(msText), found, kLogPollMs))
        Fail("not in the log");
}

std::string LastLine()
{
    std::string log;
    ReadShared(gLog, log);
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

// "file NAME SIZE KIND MTIME HASH" for every out*.tap of the directory; KIND u when the length field
// still holds the placeholder, c otherwise; MTIME the last write in 100 ns units; HASH FNV-1a 64 in
// hex. A file gone between the listing and the reading is left out.
void Snapshot(const std::string& tape)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((tape + "\\out*.tap").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string content;
        if (!ReadShared(tape + "\\" + found.cFileName, content))
            continue;
        const bool placeholder = content.size() >= 2 && content[0] == 0x20 && content[1] == 0x20;
        const unsigned long long written =
            static_cast<unsigned long long>(found.ftLastWriteTime.dwHighDateTime) << 32 | found.ftLastWriteTime.dwLowDateTime;
        Print(Format("file %s %u %c %llu %016llx", found.cFileName, static_cast<unsigned>(content.size()),
                     placeholder ? 'u' : 'c', written, static_cast<unsigned long long>(Fnv1a(content))));
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Any visible dialog-class window but the program's two is a box nobody asked for: an error the
// program shows, or a crash report. Each is printed as "problem box "CAPTION": TEXT".
BOOL CALLBACK ReportBox(HWND window, LPARAM)
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
    Print(std::string("problem box \"") + title + "\": " + text);
    return TRUE;
}

// Time stamp for mark/since: lets the harness time a step without counting Wine's start-up.
double gMark = 0;

struct CommandInfo {
    const char* name;
    int arity;
    const char* args;
    const char* meaning;
    void (*run)(char** a);
};

const CommandInfo kCommands[] = {
    {"wait", 2, "TITLE MS", "wait until the dialog exists and is visible",
     [](char** a) { WaitUntil(a[1], [&] { return IsWindowVisible(FindDialog(a[0])) != FALSE; }); }},
    {"gone", 2, "TITLE MS", "wait until no dialog of that caption exists",
     [](char** a) { WaitUntil(a[1], [&] { return FindDialog(a[0]) == nullptr; }); }},
    {"visible", 1, "TITLE", "print 1 if the dialog is visible, else 0",
     [](char** a) { PrintNumber(IsWindowVisible(NeedDialog(a[0])) != FALSE); }},
    {"click", 2, "TITLE ID", "send the click command of an enabled control (or a menu command)",
     [](char** a) { Command(a[0], a[1], false); }},
    {"post", 2, "TITLE ID", "post it instead: for handlers that open a modal box", [](char** a) { Command(a[0], a[1], true); }},
    {"press", 2, "TITLE ID", "click, and print \"press MS\": the milliseconds it took to be carried out",
     [](char** a) {
         const double began = NowMs();
         Command(a[0], a[1], false);
         Print(Format("press %.1f", NowMs() - began));
     }},
    {"settext", 3, "TITLE ID TEXT", "set an enabled control's text",
     [](char** a) {
         if (!Send(NeedControl(a[0], a[1], true), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[2])))
             Fail("the control refused the text");
     }},
    {"text", 2, "TITLE ID", "print a control's text", [](char** a) { Print(WindowText(NeedControl(a[0], a[1]))); }},
    {"enabled", 2, "TITLE ID", "print 1 if the control is enabled, else 0",
     [](char** a) { PrintNumber(IsWindowEnabled(NeedControl(a[0], a[1])) != FALSE); }},
    {"wait-enabled", 3, "TITLE ID MS", "wait until the control is enabled",
     [](char** a) { WaitUntil(a[2], [&] { return IsWindowEnabled(NeedControl(a[0], a[1])) != FALSE; }); }},
    {"wait-text", 4, "TITLE ID TEXT MS", "wait until the control's text contains TEXT",
     [](char** a) { WaitUntil(a[3], [&] { return WindowText(NeedControl(a[0], a[1])).find(a[2]) != std::string::npos; }); }},
    {"wait-number", 4, "TITLE ID MIN MS", "wait until the control shows a number of at least MIN", WaitNumber},
    {"radio", 2, "TITLE ID", "check a radio button, unchecking the rest of its group", [](char** a) { CheckRadio(a[0], a[1]); }},
    {"checked", 2, "TITLE ID", "print 1 if the button is checked, else 0",
     [](char** a) { PrintNumber(Send(NeedControl(a[0], a[1]), BM_GETCHECK, 0, 0) == BST_CHECKED); }},
    {"lbcount", 2, "TITLE ID", "print a list box's line count",
     [](char** a) { PrintNumber(static_cast<long>(Send(NeedControl(a[0], a[1]), LB_GETCOUNT, 0, 0))); }},
    {"lblines", 2, "TITLE ID", "print a list box's lines, one a line",
     [](char** a) {
         HWND list = NeedControl(a[0], a[1]);
         for (LRESULT i = 0, count = Send(list, LB_GETCOUNT, 0, 0); i < count; ++i)
             Print(ListLine(list, i));
     }},
    {"lbsel", 2, "TITLE ID", "print a list box's selected index (-1: none)",
     [](char** a) { PrintNumber(static_cast<long>(Send(NeedControl(a[0], a[1]), LB_GETCURSEL, 0, 0))); }},
    {"ok", 2, "TITLE MS", "press OK of a message box and wait until it is gone", [](char** a) { PressOk(a[0], a[1]); }},
    {"rect", 2, "TITLE ID", "print the screen rectangle \"left top right bottom\" (ID 0: the dialog)",
     [](char** a) {
         RECT r;
         if (!GetWindowRect(std::strcmp(a[1], "0") == 0 ? NeedDialog(a[0]) : NeedControl(a[0], a[1]), &r))
             Fail(Format("GetWindowRect failed (error %lu)", GetLastError()));
         Print(Format("%ld %ld %ld %ld", r.left, r.top, r.right, r.bottom));
     }},
    {"move", 3, "TITLE X Y", "move the dialog to screen position X, Y",
     [](char** a) {
         if (!SetWindowPos(NeedDialog(a[0]), nullptr, static_cast<int>(Number(a[1])), static_cast<int>(Number(a[2])), 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
             Fail(Format("SetWindowPos failed (error %lu)", GetLastError()));
     }},
    {"quit", 3, "TITLE ID MS", "post a command, wait for the process to end, print \"CODE MS\"",
     [](char** a) { QuitAndWait(a[0], WM_COMMAND, MAKEWPARAM(Number(a[1]), 0), a[2]); }},
    {"close", 2, "TITLE MS", "post WM_CLOSE, wait for the process to end, print \"CODE MS\"",
     [](char** a) { QuitAndWait(a[0], WM_CLOSE, 0, a[1]); }},
    // Milliseconds with one decimal, rounded to the nearest tenth.
    {"gap", 1, "TITLE", "print the longest gap between returned sound buffers (ms) and start a new measure",
     [](char** a) {
         ULONGLONG tenths = (static_cast<DWORD_PTR>(Send(NeedDialog(a[0]), kGapQuery, 1, 0, kGapLimitMs)) + 50) / 100;
         Print(Format("%llu.%llu", tenths / 10, tenths % 10));
     }},
    {"freeze", 2, "TITLE MS", "suspend the thread that owns the dialog for MS ms", [](char** a) { Freeze(a[0], Number(a[1])); }},
    // As Alt and the letter do; WM_CANCELMODE ends the menu's loop in the program's thread.
    {"menu", 2, "TITLE KEY", "open the dialog's menu whose mnemonic is KEY (a letter), or close it (-)",
     [](char** a) {
         if (a[1][0] == '-')
             Post(NeedDialog(a[0]), WM_CANCELMODE, 0, 0);
         else
             Post(NeedDialog(a[0]), WM_SYSCOMMAND, SC_KEYMENU, static_cast<unsigned char>(a[1][0]));
     }},
    {"sleep", 1, "MS", "pause", [](char** a) { Sleep(Number(a[0])); }},
    {"mark", 0, "", "remember the time", [](char**) { gMark = NowMs(); }},
    {"since", 0, "", "print the milliseconds since the last mark (or the start)",
     [](char**) { Print(Format("%.0f", NowMs() - gMark)); }},
    {"log", 1, "FILE", "take FILE as the log, and remember how long it is now",
     [](char** a) {
         std::string content;
         gLog = a[0];
         gLogFrom = ReadShared(gLog, content) ? content.size() : 0;
     }},
    {"wait-log", 2, "TEXT MS", "wait until the log has gained TEXT since log", [](char** a) { WaitLog(a[0], a[1]); }},
    {"logged", 0, "", "print \"log \" and the log's last line", [](char**) { Print("log " + LastLine()); }},
    {"snapshot", 1, "TAPEDIR", "print a \"file\" record for every out*.tap there", [](char** a) { Snapshot(a[0]); }},
    {"boxes", 0, "", "print a \"problem\" record for every box on the screen but the two dialogs",
     [](char**) { EnumWindows(ReportBox, 0); }},
};

void Usage()
{
    std::fprintf(stderr, "usage: qvdrive COMMAND ARGS... [COMMAND ARGS...]...  or  qvdrive @FILE\n");
    for (const CommandInfo& command : kCommands)
        std::fprintf(stderr, "  %-13s %-23s %s\n", command.name, command.args, command.meaning);
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    gMark = NowMs();
    std::vector<std::string> words(argv + 1, argv + argc);
    if (argc == 2 && argv[1][0] == '@') {
        std::ifstream script(argv[1] + 1);
        words.clear();
        for (std::string line; std::getline(script, line);)
            words.push_back(line);
    }
    std::vector<char*> args;
    for (std::string& word : words)
        args.push_back(&word[0]);
    if (args.empty()) {
        Usage();
        return 2;
    }
    for (size_t i = 0; i < args.size();) {
        const CommandInfo* info = nullptr;
        for (const CommandInfo& candidate : kCommands) {
            if (std::strcmp(candidate.name, args[i]) == 0)
                info = &candidate;
        }
        if (info == nullptr || args.size() - i - 1 < static_cast<size_t>(info->arity)) {
            std::fprintf(stderr, info ? "qvdrive: %s needs %s\n" : "qvdrive: unknown command \"%s\"%s\n", args[i],
                         info ? info->args : "");
            Usage();
            return 2;
        }
        try {
            info->run(&args[i + 1]);
        } catch (const Failure& failure) {
            std::string command = info->name;
            for (int k = 1; k <= info->arity; ++k)
                command += std::string(" ") + args[i + k];
            std::fprintf(stderr, "qvdrive: %s: %s\n", command.c_str(), failure.why.c_str());
            return 1;
        }
        i += 1 + info->arity;
    }
    return 0;
}
