// The user-interface seam: what the portable core needs from the program it runs in. Exactly one
// implementation is linked into each program: ui_win32.cpp queues the panes' and the list's changes
// for the main dialog, the console decoder prints, the tests' fake records.
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

// The idle run state: Start enabled, Stop disabled, the ten settings fields enabled. Called from the
// decoder thread when the raw file ends, from the user-interface thread by Stop.
void UiRunControlsIdle();

// Information box captioned "Сообщение"; fatal box captioned "FATAL ERROR".
void UiInfoBox(const char* text);
void UiFatalBox(const char* text);

// Local time of day.
void UiLocalTime(int* hour, int* minute, int* second);

#endif
