// The seam: every function the portable core needs from the program it runs in, and nothing else.
// Exactly one implementation of all of them is linked into each program:
//   the Windows program   report/ui_win32.cpp (panes, list, boxes, clock);
//   quorvane-decode       app/console_ui.cpp, which prints;
//   the unit tests        tests/fake_ui.cpp, which records;
//   the fuzz targets      tests/fuzz/fuzz_support.cpp, which keeps nothing.
// Called from both threads. None of them waits for the user-interface thread (the boxes aside), so
// that thread may wait for the decoder thread without dispatching anything.
#ifndef QUORVANE_UI_H
#define QUORVANE_UI_H

// Insert text at the caret of the status pane / the header pane (edit-control replace-selection).
void UiStatusInsert(const char* text);
void UiHeaderInsert(const char* text);

// The catalogue list box. A rebuild runs from Reset to the next SelectLast; the program may hold its
// lines until then and show them at once.
void UiCatalogueReset();
void UiCatalogueAppend(const char* line);
void UiCatalogueSelectLast();

// The run has ended by itself (the raw file has ended, the rescue is done): called once on the
// decoder thread as it leaves. The program then collects the run (EndRun) and unlocks its controls.
void UiRunEnded();

// Information box captioned "Сообщение"; fatal box captioned "FATAL ERROR".
void UiInfoBox(const char* text);
void UiFatalBox(const char* text);

// Local time of day.
void UiLocalTime(int* hour, int* minute, int* second);

#endif
