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

// After the message loop: a decoder thread still running (a raw-file run, or a recording ended by
// WM_CLOSE) is stopped and waited for, and the run's files are closed.
void EndRunAtShutdown();

// Offers a message to both dialogs' dialog-message handling; one that neither claims is dropped.
void OfferToDialogs(MSG* message);

// Sent to the main dialog with a rebuilt catalogue (lParam: const std::vector<std::string>*), so that
// the user-interface thread fills the list in one go; FillCatalogue replaces the list's lines with
// them and selects the last.
enum { WM_CATALOGUE_LINES = WM_APP + 1 };
void FillCatalogue(HWND dialog, const std::vector<std::string>& lines);

// Sent to the main dialog by the decoder thread to add text to a pane (wParam: the status or header
// pane, or the catalogue; lParam: the text); the dialog hands the device its waiting buffers first,
// then AddToPaneNow inserts the text at the pane's caret or appends it to the list.
enum { WM_PANE_ADD = WM_APP + 2 };
void AddToPaneNow(HWND dialog, int control, const char* text);

// Paints one recorded buffer into the main dialog's strip (control 1003).
void DrawWaveform(HWND dialog, const uint8_t* samples, int32_t length);

#endif
