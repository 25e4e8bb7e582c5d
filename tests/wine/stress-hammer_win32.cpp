// stress-hammer: Start, Stop and Exit of a running quorvane.exe pressed in one Wine process, so that
// a press costs a window message rather than a Wine start-up, and the time each press takes to be
// carried out is measured where it happens.
//
// Usage: stress-hammer hammer PLAN TAPEDIR BUDGET_S
//        stress-hammer exit TAPEDIR DELAY_MS RAWFILE [TEXT]
//        stress-hammer boxes
// A run is started the same way by hammer and exit: RAWFILE goes into the raw file name field (the
// caller has chosen Source .PCM) and Start is clicked; once status.log in TAPEDIR has gained TEXT
// since that click (no TEXT: at once), DELAY_MS later the run is ended. Waiting for a line of the
// program's own log lands a press in the phase that line opens (pilot, block, rescan) however fast
// or slow the machine is.
// hammer: PLAN holds one run a line, "DELAY_MS RAWFILE TEXT", each ended by Stop. Records:
//   press I START_MS STOP_MS<TAB>AT<TAB>LAST  the milliseconds the Start and the Stop click took to be
//                                  carried out; the last line of status.log when Stop was clicked
//                                  (where the run was) and when it had been carried out
//   file I NAME SIZE KIND MTIME HASH  TAPEDIR after Stop I: KIND u when the length field still holds
//                                  the placeholder, c otherwise; MTIME the last write in 100 ns
//                                  units; HASH FNV-1a 64 of the whole file, in hex
// exit: one run, ended by Exit from the menu; waits for the process to end. Record:
//   exit CODE MS LINES<TAB>AT      the process's exit code, the milliseconds from posting Exit to the
//                                  end of the process, the catalogue's line count and the last line
//                                  of status.log when Exit was posted
// boxes: nothing but the problem records for the boxes on the screen now.
// Every command also prints
//   problem I WHY                  a box other than the two dialogs, a click not carried out within
//                                  kClickLimitMs, a wait run out, the program gone
// Records are lines on standard output, texts as the program's own ANSI bytes. The caller judges
// them; a problem does not end a command unless it cannot go on.
//
// Single thread. Touches nothing but the program's two dialogs (by caption) and reads TAPEDIR.
// Exit status 0 when every planned run was made, 1 when it had to give up (program gone, not
// answering, budget used up), 2 for a malformed command line or plan.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kMainTitle[] = "Quorvane";
const char kSettingsTitle[] = "Quorvane Setting";
const int kStartId = 12;
const int kStopId = 14;
// A click on a program that works is carried out in milliseconds. The limits are far beyond that so
// that a slow press is measured whole rather than cut off.
const UINT kClickLimitMs = 30000;
const DWORD kRecoverMs = 30000;
const DWORD kExitLimitMs = 30000;
// How long a planned line of the log may take to appear.
const DWORD kTextLimitMs = 10000;
const DWORD kPollMs = 2;

const int kRawNameId = 22;
const int kCatalogueId = 1004;
const int kExitCommand = 1;

struct Press {
    long delayMs;
    std::string rawFile;
    std::string text;
};

double NowMs()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Problem(size_t press, const std::string& why)
{
    std::printf("problem %u %s\n", static_cast<unsigned>(press), why.c_str());
    std::fflush(stdout);
}

bool ReadPlan(const char* name, std::vector<Press>& plan)
{
    std::FILE* file = std::fopen(name, "rb");
    if (!file)
        return false;
    char line[256];
    while (std::fgets(line, sizeof line, file)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        char* rest = nullptr;
        const long delay = std::strtol(line, &rest, 10);
        if (rest == line || delay < 0)
            continue;
        while (*rest == ' ')
            ++rest;
        const size_t nameLength = std::strcspn(rest, " ");
        if (nameLength == 0)
            continue;
        const char* text = rest + nameLength;
        while (*text == ' ')
            ++text;
        plan.push_back(Press{delay, std::string(rest, nameLength), text});
    }
    std::fclose(file);
    return true;
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

std::string LastLine(const std::string& log)
{
    size_t end = log.size();
    while (end > 0 && (log[end - 1] == '\r' || log[end - 1] == '\n'))
        --end;
    const size_t start = log.find_last_of('\n', end == 0 ? 0 : end - 1);
    return log.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
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
        std::printf("file %u %s %u %c %llu %016llx\n", static_cast<unsigned>(press), found.cFileName,
                    static_cast<unsigned>(content.size()), placeholder ? 'u' : 'c', written,
                    static_cast<unsigned long long>(Fnv1a(content)));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::fflush(stdout);
}

struct BoxSearch {
    size_t press;
    int found;
};

// Any visible dialog-class window but the program's two is a box nobody asked for: an error the
// program shows, or a crash report.
BOOL CALLBACK LookForBox(HWND window, LPARAM context)
{
    BoxSearch* search = reinterpret_cast<BoxSearch*>(context);
    char className[64] = "";
    char title[256] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(title, kMainTitle) == 0 || std::strcmp(title, kSettingsTitle) == 0)
        return TRUE;
    char text[512] = "";
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    for (char* c = text; *c; ++c)
        if (*c == '\r' || *c == '\n')
            *c = ' ';
    Problem(search->press, std::string("box \"") + title + "\": " + text);
    ++search->found;
    return TRUE;
}

int CountBoxes(size_t press)
{
    BoxSearch search{press, 0};
    EnumWindows(LookForBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A click as the button sends it; false when it was not carried out within kClickLimitMs.
bool Click(HWND dialog, int id, double& tookMs)
{
    DWORD_PTR result = 0;
    const double began = NowMs();
    const LRESULT done = SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)),
                                             SMTO_BLOCK | SMTO_ABORTIFHUNG, kClickLimitMs, &result);
    tookMs = NowMs() - began;
    return done != 0;
}

bool WaitEnabled(HWND dialog, int id, DWORD limitMs)
{
    const double deadline = NowMs() + limitMs;
    while (!IsWindowEnabled(GetDlgItem(dialog, id))) {
        if (NowMs() >= deadline)
            return false;
        Sleep(kPollMs);
    }
    return true;
}

// Waits until the log has grown past `from` by a piece holding `text`.
bool WaitForLogText(const std::string& log, size_t from, const std::string& text, DWORD limitMs)
{
    const double deadline = NowMs() + limitMs;
    std::string content;
    for (;;) {
        if (ReadShared(log, content) && content.size() > from && content.find(text, from) != std::string::npos)
            return true;
        if (NowMs() >= deadline)
            return false;
        Sleep(kPollMs);
    }
}

// Sets the raw file name field as typing into it would.
bool SetRawName(HWND dialog, const std::string& name)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(GetDlgItem(dialog, kRawNameId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()),
                               SMTO_BLOCK | SMTO_ABORTIFHUNG, kClickLimitMs, &result) != 0 &&
           result != 0;
}

struct Program {
    HWND dialog;
    HANDLE process;
};

bool FindProgram(Program& program)
{
    program.dialog = FindWindowA("#32770", kMainTitle);
    if (!program.dialog) {
        std::fprintf(stderr, "stress-hammer: no window \"%s\"\n", kMainTitle);
        return false;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(program.dialog, &pid);
    program.process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!program.process) {
        std::fprintf(stderr, "stress-hammer: OpenProcess(%lu) failed (error %lu)\n", pid, GetLastError());
        return false;
    }
    return true;
}

bool Ended(const Program& program, size_t press)
{
    if (WaitForSingleObject(program.process, 0) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(program.process, &code);
    Problem(press, "the program ended with code " + std::to_string(static_cast<long>(code)));
    return true;
}

// Starts a run and waits until it is where the plan wants it ended; returns the last line of the log
// at that moment and the time the Start click took.
std::string StartRun(const Program& program, size_t press, const Press& plan, const std::string& log, double& startMs)
{
    if (!SetRawName(program.dialog, plan.rawFile))
        Problem(press, "the raw file name field refused " + plan.rawFile);
    std::string before;
    ReadShared(log, before);
    startMs = 0;
    if (!Click(program.dialog, kStartId, startMs))
        Problem(press, "Start not carried out within the limit");
    if (!plan.text.empty() && !WaitForLogText(log, before.size(), plan.text, kTextLimitMs))
        Problem(press, "no \"" + plan.text + "\" in status.log after Start");
    Sleep(static_cast<DWORD>(plan.delayMs));
    std::string at;
    ReadShared(log, at);
    return LastLine(at);
}

int Hammer(const char* planName, const std::string& tape, double budgetS)
{
    std::vector<Press> plan;
    if (!ReadPlan(planName, plan) || plan.empty()) {
        std::fprintf(stderr, "stress-hammer: no presses in %s\n", planName);
        return 2;
    }
    const std::string log = tape + "\\status.log";
    const double budgetEnd = NowMs() + 1000.0 * budgetS;
    Program program;
    if (!FindProgram(program))
        return 1;

    int status = 0;
    for (size_t i = 0; i < plan.size(); ++i) {
        const size_t press = i + 1;
        if (NowMs() > budgetEnd) {
            Problem(press, "time budget used up");
            status = 1;
            break;
        }
        if (!WaitEnabled(program.dialog, kStartId, kRecoverMs)) {
            Problem(press, "Start not enabled");
            status = 1;
            break;
        }
        double startMs = 0, stopMs = 0;
        const std::string at = StartRun(program, press, plan[i], log, startMs);
        if (!IsWindowEnabled(GetDlgItem(program.dialog, kStopId)))
            Problem(press, "the run had ended before Stop");
        else if (!Click(program.dialog, kStopId, stopMs))
            Problem(press, "Stop not carried out within the limit");

        std::string after;
        ReadShared(log, after);
        std::printf("press %u %.1f %.1f\t%s\t%s\n", static_cast<unsigned>(press), startMs, stopMs, at.c_str(),
                    LastLine(after).c_str());
        CountBoxes(press);
        if (Ended(program, press)) {
            status = 1;
            break;
        }
        Snapshot(press, tape);
    }
    std::fflush(stdout);
    CloseHandle(program.process);
    return status;
}

int ExitDuringRun(const std::string& tape, long delayMs, const char* rawFile, const char* text)
{
    Program program;
    if (!FindProgram(program))
        return 1;
    double startMs = 0;
    const std::string at = StartRun(program, 1, Press{delayMs, rawFile, text}, tape + "\\status.log", startMs);
    DWORD_PTR lines = 0;
    SendMessageTimeoutA(GetDlgItem(program.dialog, kCatalogueId), LB_GETCOUNT, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG,
                        kClickLimitMs, &lines);
    CountBoxes(1);
    // The menu's Exit, as the driver's quit sends it.
    const double posted = NowMs();
    if (!PostMessageA(program.dialog, WM_COMMAND, MAKEWPARAM(kExitCommand, 0), 0)) {
        Problem(1, "PostMessage failed (error " + std::to_string(GetLastError()) + ")");
        return 1;
    }
    const DWORD waited = WaitForSingleObject(program.process, kExitLimitMs);
    const double tookMs = NowMs() - posted;
    DWORD code = 0;
    GetExitCodeProcess(program.process, &code);
    CloseHandle(program.process);
    if (waited != WAIT_OBJECT_0) {
        Problem(1, "the program still runs " + std::to_string(kExitLimitMs) + " ms after Exit");
        return 1;
    }
    std::printf("exit %ld %.1f %ld\t%s\n", static_cast<long>(code), tookMs, static_cast<long>(lines), at.c_str());
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 5 && std::strcmp(argv[1], "hammer") == 0)
        return Hammer(argv[2], argv[3], std::atof(argv[4]));
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "exit") == 0)
        return ExitDuringRun(argv[2], std::atol(argv[3]), argv[4], argc == 6 ? argv[5] : "");
    if (argc == 2 && std::strcmp(argv[1], "boxes") == 0) {
        CountBoxes(0);
        std::fflush(stdout);
        return 0;
    }
    std::fprintf(stderr,
                 "usage: stress-hammer hammer PLAN TAPEDIR BUDGET_S | exit TAPEDIR DELAY_MS RAWFILE [TEXT] | boxes\n");
    return 2;
}
