// The Windows program's side of the user-interface seam: the two dialogs the core's messages land
// in, and the showing of what the core has queued for their panes, list and run controls.
// User-interface thread only, except the dialog handles, which the decoder thread's seam calls
// read (they are set once at start-up, before that thread can exist).
// Failures: none are reported; a pane that is full takes no more text (status.log still does).
#ifndef QUORVANE_UI_WIN32_H
#define QUORVANE_UI_WIN32_H

#include <windows.h>

#include <atomic>

extern HWND MainDialog;      // MyDialog
extern HWND SettingsDialog;  // DIALOG_2

// While set, the core's changes of the catalogue list are dropped: a rescue writes its blocks in a
// folder of its own, and the list goes on showing TAPE. Set and cleared around a rescue run.
extern std::atomic<bool> CatalogueHeld;

// What is queued is shown in steps, each at most one change of a pane or of the list: the status
// pane, the header pane, the catalogue.
enum { kShowStatus, kShowHeaders, kShowCatalogue, kShowSteps };
// Carries out step `step` of what is queued; false when it had nothing to do.
bool ShowQueuedStep(HWND dialog, int step);

// Start enabled, Stop disabled, the ten settings fields enabled.
void ShowRunControlsIdle();

// The ten threshold fields of the settings dialog enabled or disabled.
void EnableTimingFields(bool enabled);

#endif
