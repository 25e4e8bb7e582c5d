// qvdrive: the Wine harness's hands and eyes. A console program run in the same Wine prefix as
// quorvane.exe; it finds the program's dialogs by caption and acts on their controls the way a user
// would, through window messages that work across processes (SendMessageTimeout, PostMessage), and
// prints what it reads on standard output.
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
// owns one). Fails with exit status 1 and one line "qvdrive: COMMAND: why" on standard error (window
// missing, control missing or disabled, no answer in time, time limit reached); exit status 2 for a
// malformed command line. Every wait is bounded by its MS argument, every sent message by
// kSendLimitMs.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
    if (end == text || *end != '\0') {
        Fail(Format("%s \"%s\" is not a number", what, text));
    }
    return value;
}

ULONGLONG Deadline(long ms)
{
    return GetTickCount64() + static_cast<ULONGLONG>(ms < 0 ? 0 : ms);
}

bool Expired(ULONGLONG deadline)
{
    return GetTickCount64() >= deadline;
}

HWND FindDialog(const char* title)
{
    return FindWindowA("#32770", title);
}

HWND NeedDialog(const char* title)
{
    HWND dialog = FindDialog(title);
    if (dialog == nullptr) {
        Fail(Format("no window \"%s\"", title));
    }
    return dialog;
}

HWND NeedControl(HWND dialog, const char* title, int id)
{
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) {
        Fail(Format("\"%s\" has no control %d", title, id));
    }
    return control;
}

HWND NeedEnabledControl(HWND dialog, const char* title, int id)
{
    HWND control = NeedControl(dialog, title, id);
    if (!IsWindowEnabled(control)) {
        Fail(Format("control %d of \"%s\" is disabled", id, title));
    }
    return control;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT limitMs = kSendLimitMs)
{
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_BLOCK | SMTO_ABORTIFHUNG, limitMs, &result) ==
        0) {
        Fail(Format("message 0x%04x got no answer within %u ms (error %lu)", message, limitMs, GetLastError()));
    }
    return static_cast<LRESULT>(result);
}

// A window's text, or false when it does not answer within limitMs.
bool TryWindowText(HWND window, UINT limitMs, std::string& text)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, limitMs, &length))
        return false;
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_BLOCK | SMTO_ABORTIFHUNG, limitMs, &got))
        return false;
    text.assign(buffer.data(), static_cast<size_t>(got));
    return true;
}

std::string WindowText(HWND window)
{
    LRESULT length = Send(window, WM_GETTEXTLENGTH, 0, 0);
    std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
    LRESULT got = Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return std::string(text.data(), static_cast<size_t>(got));
}

// Wine carries LB_GETTEXT across processes only in its Unicode form (the ANSI form hands the
// program the caller's own pointer, and the program faults writing to it), so the line is fetched
// as UTF-16 and turned back into the ANSI code page the program itself uses.
LRESULT SendWide(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_BLOCK | SMTO_ABORTIFHUNG, kSendLimitMs,
                            &result) == 0) {
        Fail(Format("message 0x%04x got no answer within %u ms (error %lu)", message, kSendLimitMs,
                    GetLastError()));
    }
    return static_cast<LRESULT>(result);
}

std::string ListLine(HWND list, LRESULT index)
{
    LRESULT length = SendWide(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR) {
        Fail(Format("line %ld vanished while reading", static_cast<long>(index)));
    }
    std::vector<wchar_t> wide(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = SendWide(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(wide.data()));
    if (got == LB_ERR) {
        Fail(Format("line %ld vanished while reading", static_cast<long>(index)));
    }
    int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(got), nullptr, 0, nullptr, nullptr);
    std::string line(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(got), &line[0], size, nullptr, nullptr);
    return line;
}

void Print(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// WM_COMMAND as a click on the control produces it: the control's handle in lParam. Menu commands
// (Exit, Hide) have no control, so lParam is 0 for an id the dialog has no control for.
void Command(const char* title, int id, bool post)
{
    HWND dialog = NeedDialog(title);
    HWND control = GetDlgItem(dialog, id);
    if (control != nullptr && !IsWindowEnabled(control)) {
        Fail(Format("control %d of \"%s\" is disabled", id, title));
    }
    WPARAM wParam = MAKEWPARAM(id, BN_CLICKED);
    if (post) {
        if (!PostMessageA(dialog, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control))) {
            Fail(Format("PostMessage failed (error %lu)", GetLastError()));
        }
    } else {
        Send(dialog, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control));
    }
}

// An automatic radio button clicked by the user becomes checked and its group's others unchecked.
void CheckRadio(const char* title, int id)
{
    HWND dialog = NeedDialog(title);
    HWND chosen = NeedEnabledControl(dialog, title, id);
    HWND start = GetNextDlgGroupItem(dialog, chosen, FALSE);
    HWND item = start;
    do {
        if (item != chosen) {
            Send(item, BM_SETCHECK, BST_UNCHECKED, 0);
        }
        item = GetNextDlgGroupItem(dialog, item, FALSE);
    } while (item != nullptr && item != start);
    Send(chosen, BM_SETCHECK, BST_CHECKED, 0);
}

void WaitWindow(const char* title, long ms, bool present)
{
    ULONGLONG deadline = Deadline(ms);
    for (;;) {
        HWND dialog = FindDialog(title);
        bool shown = dialog != nullptr && IsWindowVisible(dialog);
        if (present ? shown : dialog == nullptr) {
            return;
        }
        if (Expired(deadline)) {
            Fail(Format(present ? "no window \"%s\" within %ld ms" : "window \"%s\" still there after %ld ms",
                        title, ms));
        }
        Sleep(kPollMs);
    }
}

// Under Wine a box once stayed after its OK had been posted (a whole check run on a fresh machine
// failed on it; forty tries here did not repeat it). A user whose press was lost presses again, and
// so does the driver: once a second until the box has gone or the time is up.
void PressOk(const char* title, long ms)
{
    const ULONGLONG deadline = Deadline(ms);
    const DWORD kRepressMs = 1000;
    // Only this box: the next one with the same caption may already be up, and is not ours to close.
    HWND box = NeedDialog(title);
    for (int presses = 1;; ++presses) {
        if (!PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0)) {
            if (!IsWindow(box)) {
                return;
            }
            Fail(Format("PostMessage failed (error %lu)", GetLastError()));
        }
        const ULONGLONG again = GetTickCount64() + kRepressMs;
        while (IsWindow(box)) {
            if (Expired(deadline)) {
                Fail(Format("window \"%s\" still there after %ld ms and %d presses of OK", title, ms, presses));
            }
            if (GetTickCount64() >= again) {
                break;
            }
            Sleep(kPollMs);
        }
        if (!IsWindow(box)) {
            return;
        }
    }
}

void WaitEnabled(const char* title, int id, long ms, bool enabled)
{
    ULONGLONG deadline = Deadline(ms);
    for (;;) {
        HWND control = NeedControl(NeedDialog(title), title, id);
        if ((IsWindowEnabled(control) != FALSE) == enabled) {
            return;
        }
        if (Expired(deadline)) {
            Fail(Format("control %d of \"%s\" not %s within %ld ms", id, title, enabled ? "enabled" : "disabled",
                        ms));
        }
        Sleep(kPollMs);
    }
}

void WaitText(const char* title, int id, const char* wanted, long ms)
{
    ULONGLONG deadline = Deadline(ms);
    for (;;) {
        HWND control = NeedControl(NeedDialog(title), title, id);
        if (WindowText(control).find(wanted) != std::string::npos) {
            return;
        }
        if (Expired(deadline)) {
            Fail(Format("control %d of \"%s\" shows no \"%s\" within %ld ms", id, title, wanted, ms));
        }
        Sleep(kPollMs);
    }
}

// For counters the program shows as decimal text (the recording position).
void WaitNumber(const char* title, int id, long minimum, long ms)
{
    ULONGLONG deadline = Deadline(ms);
    for (;;) {
        HWND control = NeedControl(NeedDialog(title), title, id);
        // Under Wine a program still starting up (before its message loop, opening the sound
        // device) was seen to stay blocked for as long as a message from here waited on it: short
        // asks, tried again, keep such a wait short.
        std::string text;
        if (TryWindowText(control, kPollAskMs, text) && !text.empty() &&
            std::strtol(text.c_str(), nullptr, 10) >= minimum) {
            return;
        }
        if (Expired(deadline)) {
            Fail(Format("control %d of \"%s\" shows \"%s\", not %ld or more, after %ld ms", id, title, text.c_str(),
                        minimum, ms));
        }
        Sleep(kPollMs);
    }
}

// Milliseconds with one decimal, rounded to the nearest tenth.
void PrintGap(const char* title, bool reset)
{
    ULONGLONG micros = static_cast<DWORD_PTR>(Send(NeedDialog(title), kGapQuery, reset ? 1 : 0, 0, kGapLimitMs));
    ULONGLONG tenths = (micros + 50) / 100;
    Print(Format("%llu.%llu", tenths / 10, tenths % 10));
}

// Stops the thread that owns the dialog for ms milliseconds, as a disk, a virus scanner or a slow
// paint may stall a window on a real machine: whatever that thread alone does (messages, the sound
// card's returned buffers) waits, while the process's other threads run on.
void Freeze(const char* title, long ms)
{
    DWORD threadId = GetWindowThreadProcessId(NeedDialog(title), nullptr);
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId);
    if (thread == nullptr) {
        Fail(Format("OpenThread(%lu) failed (error %lu)", threadId, GetLastError()));
    }
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
        DWORD error = GetLastError();
        CloseHandle(thread);
        Fail(Format("SuspendThread(%lu) failed (error %lu)", threadId, error));
    }
    Sleep(static_cast<DWORD>(ms < 0 ? 0 : ms));
    DWORD resumed = ResumeThread(thread);
    DWORD error = GetLastError();
    CloseHandle(thread);
    if (resumed == static_cast<DWORD>(-1)) {
        Fail(Format("ResumeThread(%lu) failed (error %lu)", threadId, error));
    }
}

// The process must be opened while its window still exists, so the command that makes it quit and
// the wait for its end are one step.
void QuitAndWait(const char* title, UINT message, WPARAM wParam, long ms)
{
    HWND dialog = NeedDialog(title);
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) {
        Fail(Format("OpenProcess(%lu) failed (error %lu)", pid, GetLastError()));
    }
    if (!PostMessageA(dialog, message, wParam, 0)) {
        CloseHandle(process);
        Fail(Format("PostMessage failed (error %lu)", GetLastError()));
    }
    DWORD waited = WaitForSingleObject(process, static_cast<DWORD>(ms < 0 ? 0 : ms));
    DWORD code = 0;
    BOOL got = GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (waited != WAIT_OBJECT_0) {
        Fail(Format("process %lu still running after %ld ms", pid, ms));
    }
    if (!got) {
        Fail(Format("GetExitCodeProcess failed (error %lu)", GetLastError()));
    }
    Print(Format("%ld", static_cast<long>(code)));
}

struct CommandInfo {
    const char* name;
    int arity;
    const char* args;
    const char* meaning;
};

const CommandInfo kCommands[] = {
    {"wait", 2, "TITLE MS", "wait until the dialog exists and is visible"},
    {"gone", 2, "TITLE MS", "wait until no dialog of that caption exists"},
    {"visible", 1, "TITLE", "print 1 if the dialog is visible, else 0"},
    {"click", 2, "TITLE ID", "send the click command of an enabled control (or a menu command)"},
    {"post", 2, "TITLE ID", "post it instead: for handlers that open a modal box"},
    {"settext", 3, "TITLE ID TEXT", "set an enabled control's text"},
    {"text", 2, "TITLE ID", "print a control's text"},
    {"enabled", 2, "TITLE ID", "print 1 if the control is enabled, else 0"},
    {"wait-enabled", 3, "TITLE ID MS", "wait until the control is enabled"},
    {"wait-disabled", 3, "TITLE ID MS", "wait until the control is disabled"},
    {"wait-text", 4, "TITLE ID TEXT MS", "wait until the control's text contains TEXT"},
    {"wait-number", 4, "TITLE ID MIN MS", "wait until the control shows a number of at least MIN"},
    {"radio", 2, "TITLE ID", "check a radio button, unchecking the rest of its group"},
    {"checked", 2, "TITLE ID", "print 1 if the button is checked, else 0"},
    {"lbcount", 2, "TITLE ID", "print a list box's line count"},
    {"lblines", 2, "TITLE ID", "print a list box's lines, one a line"},
    {"lbsel", 2, "TITLE ID", "print a list box's selected index (-1: none)"},
    {"ok", 2, "TITLE MS", "press OK of a message box and wait until it is gone"},
    {"rect", 2, "TITLE ID", "print the screen rectangle \"left top right bottom\" (ID 0: the dialog)"},
    {"move", 3, "TITLE X Y", "move the dialog to screen position X, Y"},
    {"quit", 3, "TITLE ID MS", "post a command, wait for the process to end, print its exit code"},
    {"close", 2, "TITLE MS", "post WM_CLOSE, wait for the process to end, print its exit code"},
    {"gap", 1, "TITLE", "print the longest gap between returned sound buffers (ms) and start a new measure"},
    {"gap-peek", 1, "TITLE", "print that gap without starting a new measure"},
    {"freeze", 2, "TITLE MS", "suspend the thread that owns the dialog for MS ms"},
    {"menu", 2, "TITLE KEY", "open the dialog's menu whose mnemonic is KEY (a letter), or close it (-)"},
    {"sleep", 1, "MS", "pause"},
    {"mark", 0, "", "remember the time"},
    {"since", 0, "", "print the milliseconds since the last mark (or the start)"},
};

void Usage()
{
    std::fprintf(stderr, "usage: qvdrive COMMAND ARGS... [COMMAND ARGS...]...\n");
    for (const CommandInfo& command : kCommands) {
        std::fprintf(stderr, "  %-13s %-16s %s\n", command.name, command.args, command.meaning);
    }
}

// Time stamp for mark/since: lets the harness time a step without counting Wine's start-up.
ULONGLONG gMark = 0;

void Run(const std::string& name, char** a)
{
    if (name == "wait") {
        WaitWindow(a[0], ParseNumber(a[1], "MS"), true);
    } else if (name == "gone") {
        WaitWindow(a[0], ParseNumber(a[1], "MS"), false);
    } else if (name == "visible") {
        Print(IsWindowVisible(NeedDialog(a[0])) ? "1" : "0");
    } else if (name == "click" || name == "post") {
        Command(a[0], static_cast<int>(ParseNumber(a[1], "ID")), name == "post");
    } else if (name == "settext") {
        HWND dialog = NeedDialog(a[0]);
        HWND control = NeedEnabledControl(dialog, a[0], static_cast<int>(ParseNumber(a[1], "ID")));
        if (!Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[2]))) {
            Fail("the control refused the text");
        }
    } else if (name == "text") {
        HWND dialog = NeedDialog(a[0]);
        Print(WindowText(NeedControl(dialog, a[0], static_cast<int>(ParseNumber(a[1], "ID")))));
    } else if (name == "enabled") {
        HWND dialog = NeedDialog(a[0]);
        Print(IsWindowEnabled(NeedControl(dialog, a[0], static_cast<int>(ParseNumber(a[1], "ID")))) ? "1" : "0");
    } else if (name == "wait-enabled" || name == "wait-disabled") {
        WaitEnabled(a[0], static_cast<int>(ParseNumber(a[1], "ID")), ParseNumber(a[2], "MS"),
                    name == "wait-enabled");
    } else if (name == "wait-text") {
        WaitText(a[0], static_cast<int>(ParseNumber(a[1], "ID")), a[2], ParseNumber(a[3], "MS"));
    } else if (name == "wait-number") {
        WaitNumber(a[0], static_cast<int>(ParseNumber(a[1], "ID")), ParseNumber(a[2], "MIN"), ParseNumber(a[3], "MS"));
    } else if (name == "radio") {
        CheckRadio(a[0], static_cast<int>(ParseNumber(a[1], "ID")));
    } else if (name == "checked") {
        HWND dialog = NeedDialog(a[0]);
        HWND button = NeedControl(dialog, a[0], static_cast<int>(ParseNumber(a[1], "ID")));
        Print(Send(button, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0");
    } else if (name == "lbcount") {
        HWND dialog = NeedDialog(a[0]);
        HWND list = NeedControl(dialog, a[0], static_cast<int>(ParseNumber(a[1], "ID")));
        Print(Format("%ld", static_cast<long>(Send(list, LB_GETCOUNT, 0, 0))));
    } else if (name == "lblines") {
        HWND dialog = NeedDialog(a[0]);
        HWND list = NeedControl(dialog, a[0], static_cast<int>(ParseNumber(a[1], "ID")));
        LRESULT count = Send(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            Print(ListLine(list, i));
        }
    } else if (name == "lbsel") {
        HWND dialog = NeedDialog(a[0]);
        HWND list = NeedControl(dialog, a[0], static_cast<int>(ParseNumber(a[1], "ID")));
        Print(Format("%ld", static_cast<long>(Send(list, LB_GETCURSEL, 0, 0))));
    } else if (name == "ok") {
        PressOk(a[0], ParseNumber(a[1], "MS"));
    } else if (name == "rect") {
        HWND dialog = NeedDialog(a[0]);
        int id = static_cast<int>(ParseNumber(a[1], "ID"));
        HWND window = id == 0 ? dialog : NeedControl(dialog, a[0], id);
        RECT r;
        if (!GetWindowRect(window, &r)) {
            Fail(Format("GetWindowRect failed (error %lu)", GetLastError()));
        }
        Print(Format("%ld %ld %ld %ld", r.left, r.top, r.right, r.bottom));
    } else if (name == "move") {
        HWND dialog = NeedDialog(a[0]);
        if (!SetWindowPos(dialog, nullptr, static_cast<int>(ParseNumber(a[1], "X")),
                          static_cast<int>(ParseNumber(a[2], "Y")), 0, 0,
                          SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)) {
            Fail(Format("SetWindowPos failed (error %lu)", GetLastError()));
        }
    } else if (name == "quit") {
        QuitAndWait(a[0], WM_COMMAND, MAKEWPARAM(static_cast<WORD>(ParseNumber(a[1], "ID")), 0), ParseNumber(a[2], "MS"));
    } else if (name == "close") {
        QuitAndWait(a[0], WM_CLOSE, 0, ParseNumber(a[1], "MS"));
    } else if (name == "gap" || name == "gap-peek") {
        PrintGap(a[0], name == "gap");
    } else if (name == "freeze") {
        Freeze(a[0], ParseNumber(a[1], "MS"));
    } else if (name == "menu") {
        // As Alt and the letter do; WM_CANCELMODE ends the menu's loop in the program's thread.
        HWND dialog = NeedDialog(a[0]);
        BOOL posted = a[1][0] == '-' ? PostMessageA(dialog, WM_CANCELMODE, 0, 0)
                                     : PostMessageA(dialog, WM_SYSCOMMAND, SC_KEYMENU, static_cast<unsigned char>(a[1][0]));
        if (!posted) {
            Fail(Format("PostMessage failed (error %lu)", GetLastError()));
        }
    } else if (name == "sleep") {
        long ms = ParseNumber(a[0], "MS");
        Sleep(static_cast<DWORD>(ms < 0 ? 0 : ms));
    } else if (name == "mark") {
        gMark = GetTickCount64();
    } else if (name == "since") {
        Print(Format("%llu", GetTickCount64() - gMark));
    }
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    gMark = GetTickCount64();
    if (argc < 2) {
        Usage();
        return 2;
    }
    int i = 1;
    while (i < argc) {
        const CommandInfo* info = nullptr;
        for (const CommandInfo& candidate : kCommands) {
            if (std::strcmp(candidate.name, argv[i]) == 0) {
                info = &candidate;
            }
        }
        if (info == nullptr) {
            std::fprintf(stderr, "qvdrive: unknown command \"%s\"\n", argv[i]);
            Usage();
            return 2;
        }
        if (argc - i - 1 < info->arity) {
            std::fprintf(stderr, "qvdrive: %s needs %s\n", info->name, info->args);
            return 2;
        }
        try {
            Run(info->name, argv + i + 1);
        } catch (const Failure& failure) {
            std::fprintf(stderr, "qvdrive: %s: %s\n", info->name, failure.why.c_str());
            return 1;
        }
        i += 1 + info->arity;
    }
    return 0;
}
