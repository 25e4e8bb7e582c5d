// The settings dialog (DIALOG_2): the ten threshold fields, their defaults, the registry store
// under HKCU\SOFTWARE\Quorvane\TimeSetting, the latch into TimingSettings at Start, and the
// half-waves window (Half-waves..., which is told of every change of a field and may put
// suggested thresholds into the fields).
// User-interface thread only. Failures: a registry key that cannot be opened is shown ("error open
// key"); a value missing or of another type leaves its field as it is.
#ifndef QUORVANE_SETTINGS_WIN32_H
#define QUORVANE_SETTINGS_WIN32_H

#include <windows.h>

#include "decoder/timing.h"

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fills in the defaults (also the main dialog's buffer length and raw file name).
void ApplyDefaults();
void SaveSettings();
void LoadSettings();
void LatchSettings();

// The thresholds the ten fields hold now, read as latching reads them.
TimingRecord TimingFieldsNow();

#endif
