// The main dialog (MyDialog): its procedure and commands; Half-waves... shows the half-waves window
// (app/halfwaves_win32.h), which is told here of each run's recording. User-interface thread only.
// Failures: Start's refusals are shown in information boxes; a decoder thread that cannot be
// created ends the program ("CreateThread fails").
#ifndef QUORVANE_MAINDIALOG_WIN32_H
#define QUORVANE_MAINDIALOG_WIN32_H

#include <windows.h>

#include <string>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void OnIDC_START(HWND dialog);
void OnIDC_STOP(HWND dialog);
// Rescue last recording / Rescue recording...: the rescue decoder over the last sound-card run's
// kept recording, or over a file chosen in the open dialog, on the decoder thread as a run that
// Stop ends. Ignored while a run goes on.
void OnIDM_RESCUE_LAST(HWND dialog);
void OnIDM_RESCUE_FILE(HWND dialog);
void StartRescue(HWND dialog, const std::string& path);
// Start disabled, Stop enabled, the settings fields disabled and latched.
void LockSettings(HWND dialog);

// After the message loop: a decoder thread still running (a raw-file run) is stopped and waited
// for, and the run's files are closed.
void EndRunAtShutdown();

// Answered by the main dialog with the longest time, in microseconds, between two buffers the sound
// card gave back since the device was opened or since the last query with wParam 1, which also
// starts the measure afresh. For checking recording under load from outside.
enum { WM_LONGEST_GAP = WM_APP + 3 };

#endif
