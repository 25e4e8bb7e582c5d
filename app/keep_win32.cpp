#include "app/keep_win32.h"

#include <commdlg.h>

#include <cstdio>

#include "audio/format.h"
#include "capture/capture.h"
#include "capture/keeper.h"
#include "decoder/block.h"
#include "decoder/blockfile.h"
#include "report/status.h"
#include "report/ui.h"
#include "report/ui_win32.h"
#include "rescue/rescuefolder.h"
#include "rescue/rescueinput.h"
#include "resources/resource.h"
#include "qv_version.h"

namespace {

// Beside the settings' own key (TimeSetting), which keeps its ten values and nothing else.
const char kRecordingsKey[] = "SOFTWARE\\Quorvane\\Recordings";
const char kKeepValue[] = "Keep";

bool KeepOn = true;
std::string Last;
// Good blocks of the last sound-card run: written by the decoder thread during the run, read here
// once it has been collected.
int LiveGood = 0;

RescueInput* Rescued;
std::string RescueFolder;
int RescueLiveGood = -1;

void CountLiveBlock(const char*, long length, const BlockFacts& facts)
{
    if (length > 2 && facts.verdict == 0)
        ++LiveGood;
}

void ShowKeepSetting(HWND dialog)
{
    CheckMenuItem(GetMenu(dialog), IDM_KEEP, MF_BYCOMMAND | (KeepOn ? MF_CHECKED : MF_UNCHECKED));
}

}  // namespace

void LoadKeepSetting(HWND dialog)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRecordingsKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        DWORD value = 1, type = 0, size = sizeof value;
        if (RegQueryValueExA(key, kKeepValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof value)
            KeepOn = value != 0;
        RegCloseKey(key);
    }
    ShowKeepSetting(dialog);
}

void ToggleKeepSetting(HWND dialog)
{
    KeepOn = !KeepOn;
    ShowKeepSetting(dialog);
    HKEY key;
    const DWORD value = KeepOn ? 1 : 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kRecordingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        LogStatus("Keep recordings: the setting cannot be saved in the registry");
        return;
    }
    if (RegSetValueExA(key, kKeepValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) !=
        ERROR_SUCCESS)
        LogStatus("Keep recordings: the setting cannot be saved in the registry");
    RegCloseKey(key);
}

void KeepSoundCardRun(HWND dialog)
{
    LiveGood = 0;
    BlockDecoded = CountLiveBlock;
    // Until this run's recording is kept, the last run has none: an earlier one is no longer the
    // live run's to compare with.
    Last.clear();
    EnableMenuItem(GetMenu(dialog), IDM_RESCUE_LAST, MF_BYCOMMAND | MF_GRAYED);
    if (!KeepOn)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[24], name[40];
    std::snprintf(stamp, sizeof stamp, "rec-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    // Two runs started within one second keep two recordings.
    std::snprintf(name, sizeof name, "%s.wav", stamp);
    for (int n = 2; GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; ++n)
        std::snprintf(name, sizeof name, "%s-%i.wav", stamp, n);
    if (!StartKeeping(name))
        return;
    Last = FullRecordingName(name);
    EnableMenuItem(GetMenu(dialog), IDM_RESCUE_LAST, MF_BYCOMMAND | MF_ENABLED);
}

void KeepNothing()
{
    BlockDecoded = nullptr;
}

const std::string& LastRecording()
{
    return Last;
}

std::string FullRecordingName(const std::string& name)
{
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(name.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full) : name;
}

std::string AskRecording(HWND dialog, const char* title)
{
    char name[MAX_PATH] = "";
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof folder, folder);
    OPENFILENAMEA choice = {};
    choice.lStructSize = sizeof choice;
    choice.hwndOwner = dialog;
    // What the audio reader takes; a file of any other name is read too, by its contents.
    choice.lpstrFilter = "Recordings (*.wav;*.flac;*.ogg;*.mp3;*.aif;*.aiff;*.pcm;...)\0"
                         "*.wav;*.flac;*.ogg;*.oga;*.mp3;*.aif;*.aiff;*.aifc;*.au;*.caf;*.w64;*.rf64;*.pcm;*.raw\0"
                         "All files (*.*)\0*.*\0";
    choice.lpstrFile = name;
    choice.nMaxFile = sizeof name;
    choice.lpstrInitialDir = folder;
    choice.lpstrTitle = title;
    // TAPE stays the current directory whatever folder is browsed; a name that does not exist comes
    // back, to be refused with the same box as any file that does not open.
    choice.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    return GetOpenFileNameA(&choice) ? std::string(name) : std::string();
}

bool PrepareRescue(const std::string& path)
{
    std::string error;
    // Every channel, as quorvane-decode --rescue reads a recording unless told to take one.
    Rescued = OpenRescueInput(path.c_str(), kMixChannels, &error);
    if (!Rescued) {
        ShowInfo(error.c_str());
        return false;
    }
    RescueFolder = RescueFolderFor(path);
    RescueLiveGood = !Last.empty() && FullRecordingName(path) == Last ? LiveGood : -1;
    LogStatusF("Rescue of %s into %s\\", path.c_str(), RescueFolder.c_str());
    BlockDecoded = nullptr;
    CatalogueHeld = true;
    return true;
}

int RescueBody()
{
    const FolderRescue result = RescueIntoFolder(RescueInputSource(Rescued), RescueFolder, RescueLiveGood,
                                                 std::string("Quorvane ") + QV_VERSION);
    CloseRescueInput(Rescued);
    Rescued = nullptr;
    CatalogueHeld = false;
    UiRunEnded();
    return result.exitCode;
}
