// The half-waves window (DIALOG_3): the picture of a recording's half-waves against the thresholds
// as the settings dialog has them now (report/histogram.h), the rescue decoder's measurement of the
// same recording and the thresholds it suggests (rescue/measure.h), with "Use suggested" putting
// them into the settings fields (saved only by the settings dialog's own Save Reg). It looks at the
// recording of the last run (the raw file, the kept recording of a sound-card run, the recording
// rescued) or at one chosen there.
// User-interface thread, bar the reading of the recording, which runs on a thread of this unit's
// own and posts its result back to the window; a reading still going is stopped before another
// begins and before the program ends.
// Failures: a chosen recording that cannot be read gets an information box naming it and the
// reason; the last run's recording that cannot be read is named in the window with the reason.
#ifndef QUORVANE_HALFWAVES_WIN32_H
#define QUORVANE_HALFWAVES_WIN32_H

#include <windows.h>

#include <string>

#include "decoder/timing.h"

// Shows the window (made at the first call) with the thresholds the settings fields have now, and
// reads the last run's recording when no recording is shown yet.
void ShowHalfWaves(const TimingRecord& fields);

// A settings field has changed: the picture is drawn again, and with another base line the
// recording is read again. Nothing while the window has not been made.
void HalfWavesThresholds(const TimingRecord& fields);

// The recording of the run begun, a full name; "" for a run that keeps none.
void HalfWavesRunRecording(const std::string& path);

// For the message loop: true when the message was the window's.
bool HalfWavesDialogMessage(MSG* message);

// At the program's end: a reading still going is stopped and the window destroyed.
void EndHalfWaves();

// Sent by "Use suggested" to the settings dialog: lParam points to the TimingRecord whose windows'
// bounds go into their fields.
enum { WM_PUT_THRESHOLDS = WM_APP + 5 };

#endif
