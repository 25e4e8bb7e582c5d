// What the Windows program's own units share: the two modeless dialogs, their procedures and
// commands, the settings store, the strip drawing, and the dispatching the message loop and the
// waits for the decoder thread have in common.
// User-interface thread only, except the dialog handles, which the decoder thread's seam calls read
// (they are set once at start-up, before that thread can exist).
// Failures: see each unit (main_win32.cpp, maindialog_win32.cpp, settings_win32.cpp).
#ifndef QUORVANE_APP_WIN32_H
#define QUORVANE_APP_WIN32_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

extern HWND MainDialog;      // MyDialog
extern HWND SettingsDialog;  // DIALOG_2

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Settings dialog: fill in the defaults (also the main dialog's buffer length and raw file name),
// store the fields to and load them from HKCU\SOFTWARE\Quorvane\TimeSetting, latch them into
// TimingSettings at Start.
void ApplyDefaults();
void SaveSettings();
void LoadSettings();
void LatchSettings();

// Main dialog commands.
void OnIDC_START(HWND dialog);
void OnIDC_STOP(HWND dialog);
void LockSettings(HWND dialog);

// After the message loop: a decoder thread still running (a raw-file run) is stopped and waited
// for, and the run's files are closed.
void EndRunAtShutdown();

// Posted by the main dialog to itself: go on showing what is queued for the panes. Each dispatch
// makes at most one change of a pane, so that whatever was posted meanwhile comes first.
enum { WM_SHOW_QUEUED = WM_APP + 2 };
enum { kShowStatus, kShowHeaders, kShowCatalogue, kShowSteps };
// Carries out step `step` of what is queued; false when it had nothing to do.
bool ShowQueuedStep(HWND dialog, int step);

// Start enabled, Stop disabled, the ten settings fields enabled.
void ShowRunControlsIdle();

// Answered by the main dialog with the longest time, in microseconds, between two buffers the sound
// card gave back since the device was opened or since the last query with wParam 1, which also
// starts the measure afresh. For checking recording under load from outside.
enum { WM_LONGEST_GAP = WM_APP + 3 };

// Paints one recorded buffer into the main dialog's strip (control 1003).
void DrawWaveform(HWND dialog, const uint8_t* samples, int32_t length);

#endif
