#include "tests/fake_ui.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "report/ui.h"

namespace {
std::mutex lock;
FakeUi state;
}

FakeUi FakeUiSnapshot()
{
    std::lock_guard<std::mutex> hold(lock);
    return state;
}

void FakeUiClear()
{
    std::lock_guard<std::mutex> hold(lock);
    FakeUi fresh;
    fresh.hour = state.hour;
    fresh.minute = state.minute;
    fresh.second = state.second;
    state = fresh;
}

void FakeUiSetClock(int hour, int minute, int second)
{
    std::lock_guard<std::mutex> hold(lock);
    state.hour = hour;
    state.minute = minute;
    state.second = second;
}

std::vector<std::string> FakeUiStatusMessages()
{
    const std::string pane = FakeUiSnapshot().statusPane;
    std::vector<std::string> messages;
    size_t start = 0;
    for (size_t end; (end = pane.find("\r\n", start)) != std::string::npos; start = end + 2)
        messages.push_back(pane.substr(start + 9, end - start - 9));  // "hh:mm:ss " is 9 characters
    return messages;
}

void UiStatusInsert(const char* text)
{
    std::lock_guard<std::mutex> hold(lock);
    state.statusPane += text;
}

void UiHeaderInsert(const char* text)
{
    std::lock_guard<std::mutex> hold(lock);
    state.headerPane += text;
}

void UiCatalogueReset()
{
    std::lock_guard<std::mutex> hold(lock);
    state.catalogue.clear();
    state.selected = -1;
    state.drawingHeld = true;
}

void UiCatalogueAppend(const char* line)
{
    std::lock_guard<std::mutex> hold(lock);
    state.catalogue.push_back(line);
}

void UiCatalogueSelectLast()
{
    std::lock_guard<std::mutex> hold(lock);
    state.selected = static_cast<int>(state.catalogue.size()) - 1;
    state.drawingHeld = false;
}

void UiRunEnded()
{
    std::lock_guard<std::mutex> hold(lock);
    ++state.runEndedCalls;
}

void UiInfoBox(const char* text)
{
    std::lock_guard<std::mutex> hold(lock);
    state.infoBoxes.push_back(text);
}

void UiFatalBox(const char* text)
{
    std::fprintf(stderr, "FATAL ERROR: %s\n", text);
}

void UiLocalTime(int* hour, int* minute, int* second)
{
    std::lock_guard<std::mutex> hold(lock);
    *hour = state.hour;
    *minute = state.minute;
    *second = state.second;
}
