// The user-interface seam: what the portable core needs from the program it runs in. Exactly one
// implementation is linked into each program: ui_win32.cpp sends messages to the main dialog's
// controls, the console decoder prints, the tests' fake records.
// Called from both threads. In the Windows program the calls from the decoder thread are carried out
// by the user-interface thread (sent messages), so that thread must keep dispatching while it waits
// for the decoder.
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

// The idle run state: Start enabled, Stop disabled, the ten settings fields enabled.
void UiRunControlsIdle();

// Information box captioned "Сообщение"; fatal box captioned "FATAL ERROR".
void UiInfoBox(const char* text);
void UiFatalBox(const char* text);

// Local time of day.
void UiLocalTime(int* hour, int* minute, int* second);

#endif
