// What the main dialog's panes, catalogue list and run controls are to show, collected from both
// threads and carried out by the user-interface thread in batches. The decoder thread only ever
// waits for this unit's lock, never for the window: a window that is slow to paint (20 to 110 ms a
// change under Wine) cannot hold up decoding, nor, through the decoder, the sound card's buffers.
// Queue* are called from either thread; Take* by the user-interface thread only, which then changes
// the controls. Touches nothing but its own records. Never fails (the texts are copied).
#ifndef QUORVANE_PANEQUEUE_H
#define QUORVANE_PANEQUEUE_H

#include <cstddef>
#include <string>
#include <vector>

// Text for the status pane / the header pane, inserted at the caret in the order queued.
void QueueStatusText(const char* text);
void QueueHeaderText(const char* text);

// The catalogue list as ui.h describes it: a rebuild runs from Reset to the next SelectLast and
// becomes the list only as a whole; an Append outside a rebuild adds a line at the end.
void QueueCatalogueReset();
void QueueCatalogueAppend(const char* line);
void QueueCatalogueSelectLast();

// The decoder thread has ended the run by itself (the raw file ended): the controls go idle.
void QueueRunEnded();

// All status (header) text queued so far, in one piece, and none left behind.
std::string TakeStatusText();
std::string TakeHeaderText();

// How the list shown so far must change to become the list wanted now: its first `keep` lines stay,
// the `remove` after them are deleted, `add` is appended, then, when `reselect`, line `select` is
// selected (-1: none). `changed` is false when nothing is to be done. The change is taken as done.
struct CatalogueChange {
    bool changed = false;
    size_t keep = 0;
    size_t remove = 0;
    std::vector<std::string> add;
    bool reselect = false;
    int select = -1;
};
CatalogueChange TakeCatalogueChange();

// True once after QueueRunEnded.
bool TakeRunEnded();

// Drops everything queued and forgets what the list shows (a process that starts over, tests).
void ResetPaneQueue();

#endif
