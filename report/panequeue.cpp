#include "report/panequeue.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace {

struct Panes {
    std::string status;
    std::string headers;
    // The list as the user-interface thread last made it, and as it is wanted now.
    std::vector<std::string> shown;
    std::vector<std::string> wanted;
    bool selectQueued = false;
    int wantedSelection = -1;
    // Whether `wanted` may differ from `shown`: most ticks find the list as it was.
    bool listChanged = false;
    // A rebuild in progress: it replaces the wanted list only when it is complete, so a batch taken
    // meanwhile never shows half a rebuild.
    std::vector<std::string> rebuilt;
    bool rebuilding = false;
    bool runEnded = false;
};

std::mutex lock;
Panes panes;

}  // namespace

void QueueStatusText(const char* text)
{
    std::lock_guard<std::mutex> hold(lock);
    panes.status += text;
}

void QueueHeaderText(const char* text)
{
    std::lock_guard<std::mutex> hold(lock);
    panes.headers += text;
}

void QueueCatalogueReset()
{
    std::lock_guard<std::mutex> hold(lock);
    panes.rebuilt.clear();
    panes.rebuilding = true;
}

void QueueCatalogueAppend(const char* line)
{
    std::lock_guard<std::mutex> hold(lock);
    if (panes.rebuilding) {
        panes.rebuilt.emplace_back(line);
    } else {
        panes.wanted.emplace_back(line);
        panes.listChanged = true;
    }
}

void QueueCatalogueSelectLast()
{
    std::lock_guard<std::mutex> hold(lock);
    if (panes.rebuilding) {
        panes.wanted.swap(panes.rebuilt);
        panes.rebuilt.clear();
        panes.rebuilding = false;
        panes.listChanged = true;
    }
    panes.selectQueued = true;
    panes.wantedSelection = static_cast<int>(panes.wanted.size()) - 1;
}

void QueueRunEnded()
{
    std::lock_guard<std::mutex> hold(lock);
    panes.runEnded = true;
}

std::string TakeStatusText()
{
    std::lock_guard<std::mutex> hold(lock);
    return std::exchange(panes.status, std::string());
}

std::string TakeHeaderText()
{
    std::lock_guard<std::mutex> hold(lock);
    return std::exchange(panes.headers, std::string());
}

CatalogueChange TakeCatalogueChange()
{
    std::lock_guard<std::mutex> hold(lock);
    CatalogueChange change;
    if (!panes.listChanged && !panes.selectQueued)
        return change;
    // A rebuild after a block usually differs from the list shown only in its last lines (the new
    // file's line in place of its bare name); everything before that stays where it is.
    const auto firstDifference =
        std::mismatch(panes.shown.begin(), panes.shown.end(), panes.wanted.begin(), panes.wanted.end());
    change.keep = static_cast<size_t>(firstDifference.first - panes.shown.begin());
    change.remove = panes.shown.size() - change.keep;
    change.add.assign(panes.wanted.begin() + static_cast<std::ptrdiff_t>(change.keep), panes.wanted.end());
    change.select = panes.selectQueued ? panes.wantedSelection : -1;
    change.changed = panes.selectQueued || change.remove > 0 || !change.add.empty();
    change.reselect = panes.selectQueued;
    panes.selectQueued = false;
    panes.listChanged = false;
    panes.shown.resize(change.keep);
    panes.shown.insert(panes.shown.end(), change.add.begin(), change.add.end());
    return change;
}

bool TakeRunEnded()
{
    std::lock_guard<std::mutex> hold(lock);
    return std::exchange(panes.runEnded, false);
}

void ResetPaneQueue()
{
    std::lock_guard<std::mutex> hold(lock);
    panes = Panes();
}
