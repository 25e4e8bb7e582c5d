// The recording kept of every sound-card run, and the rescue of a recording from the window: the
// Keep recordings setting (its menu check and its registry value), the kept file's name, the
// count of the live run's good blocks, the choice of a file to rescue, and the rescue's body.
// User-interface thread, bar RescueBody and the block observer it sets, which run on the decoder
// thread.
// Failures: a setting that cannot be read leaves keeping on; one that cannot be saved says so in
// the status pane. A recording to rescue that does not open or is not one gets an information box
// naming it, and nothing is created.
#ifndef QUORVANE_KEEP_WIN32_H
#define QUORVANE_KEEP_WIN32_H

#include <windows.h>

#include <string>

// At start-up: the setting read from the registry and shown in the menu.
void LoadKeepSetting(HWND dialog);

// Keep recordings chosen in the menu: turned over, shown and saved.
void ToggleKeepSetting(HWND dialog);

// Called by Start once the sound card records and the run has begun, before the decoder thread:
// the recording kept (when the setting is on) in TAPE\rec-YYYYMMDD-HHMMSS.wav, and the run's good
// blocks counted.
void KeepSoundCardRun(HWND dialog);

// Called by Start before any other run: nothing kept, nothing counted.
void KeepNothing();

// The recording kept of the last sound-card run (a full name), or "" when there is none.
const std::string& LastRecording();

// The standard open dialog in TAPE for a recording, titled `title`; "" when it is cancelled.
std::string AskRecording(HWND dialog, const char* title);

// The full name of a file named relative to the current directory (TAPE).
std::string FullRecordingName(const std::string& name);

// Opens `path` for a rescue and chooses its folder; false, after a box naming the file, when it is
// refused. The run may then begin with RescueBody as its body.
bool PrepareRescue(const std::string& path);

// The rescue prepared, on the decoder thread: into its folder with the catalogue held, the
// recording closed after it, the controls unlocked when it ends by itself.
int RescueBody();

#endif
