#include "report/status.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "report/ui.h"

namespace {

// A composed pane line holds at most 255 characters, time stamp included.
enum { kLineSize = 256 };

// Both threads log; without this two messages could interleave inside status.log, or reach the
// pane in another order than the file.
std::mutex logFile;

void AppendToLogFile(const char* message)
{
    // Binary, so that the CR LF we write is what lands in the file on every platform.
    std::FILE* file = std::fopen("status.log", "ab");
    if (!file)
        return;
    std::fputs(message, file);
    std::fputs("\r\n", file);
    std::fflush(file);
    std::fclose(file);
}

void FormatTo(void (*show)(const char*), const char* format, va_list args)
{
    char message[kLineSize];
    std::vsnprintf(message, sizeof message, format, args);
    show(message);
}

}  // namespace

void LogStatus(const char* message)
{
    int hour = 0, minute = 0, second = 0;
    UiLocalTime(&hour, &minute, &second);
    char line[kLineSize];
    std::snprintf(line, sizeof line, "%02i:%02i:%02i %s", hour, minute, second, message);
    // The pane's side of the seam never waits for the window, so the lock is never held long.
    std::lock_guard<std::mutex> hold(logFile);
    UiStatusInsert(line);
    UiStatusInsert("\r\n");
    AppendToLogFile(message);
}

void ShowText(const char* message)
{
    UiHeaderInsert(message);
    UiHeaderInsert("\r\n");
}

void ShowInfo(const char* text)
{
    UiInfoBox(text);
}

void FatalError(const char* text)
{
    UiFatalBox(text);
    // The other thread may be anywhere; nothing of this process is to run again, destructors
    // included.
    std::_Exit(0);
}

void LogStatusF(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTo(LogStatus, format, args);
    va_end(args);
}

void ShowTextF(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTo(ShowText, format, args);
    va_end(args);
}
