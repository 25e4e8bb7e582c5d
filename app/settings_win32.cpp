// The settings dialog (DIALOG_2): ten threshold fields with Default, Save Reg, Load Reg and
// Half-waves..., and the latch that copies the fields into TimingSettings at Start. Every change of
// a field is told to the half-waves window, whose "Use suggested" sends thresholds back.
// User-interface thread only.
#include "app/settings_win32.h"

#include <cstring>
#include <utility>

#include "app/halfwaves_win32.h"
#include "decoder/timing.h"
#include "report/status.h"
#include "report/ui_win32.h"
#include "resources/resource.h"
#include "resources/timing_fields.h"

namespace {

const char kSettingsKey[] = "SOFTWARE\\Quorvane\\TimeSetting";
const char kDefaultBufferLength[] = "1024";
const char kDefaultRawFile[] = "sinclair.pcm";

// The fields are read through an 8-character buffer, as the field conversion expects.
int32_t ReadField(HWND dialog, int id)
{
    char text[9];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return FieldToInt(text);
}

int FieldId(const char* name)
{
    for (const TimingFieldControl& field : kTimingFieldControls)
        if (std::strcmp(field.name, name) == 0)
            return field.id;
    return 0;
}

bool OpenSettingsKey(HKEY* key)
{
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr, key,
                        nullptr) == ERROR_SUCCESS)
        return true;
    ShowInfo("error open key");
    return false;
}

// The eight windows' bounds into their fields. PilotWait and BaseLine keep their text: nothing
// suggests other values for them (and BaseLine 300, say, would come back as its low 8 bits).
void PutTimingFields(const TimingRecord& t)
{
    const std::pair<int, int32_t> values[] = {
        {IDC_PILOTMIN, t.PilotMin}, {IDC_PILOTMAX, t.PilotMax}, {IDC_SYNCMIN, t.SyncMin},
        {IDC_SYNCMAX, t.SyncMax},   {IDC_ZEROMIN, t.ZeroMin},   {IDC_ZEROMAX, t.ZeroMax},
        {IDC_ONEMIN, t.OneMin},     {IDC_ONEMAX, t.OneMax},
    };
    for (const auto& [id, value] : values)
        SetDlgItemInt(SettingsDialog, id, static_cast<UINT>(value), TRUE);
}

bool IsTimingField(int id)
{
    for (const TimingFieldControl& field : kTimingFieldControls)
        if (field.id == id)
            return true;
    return false;
}

}  // namespace

INT_PTR CALLBACK SettingsDialogProc(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_PUT_THRESHOLDS:
        PutTimingFields(*reinterpret_cast<const TimingRecord*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) == EN_CHANGE && IsTimingField(LOWORD(wParam))) {
            HalfWavesThresholds(TimingFieldsNow());
            return TRUE;
        }
        // wParam whole: only a plain click (notification 0) of these runs anything.
        switch (wParam) {
        case IDC_SAVEREG:
            SaveSettings();
            return TRUE;
        case IDC_LOADREG:
            LoadSettings();
            return TRUE;
        case IDC_DEFAULT:
            ApplyDefaults();
            return TRUE;
        case IDC_HALFWAVES:
            ShowHalfWaves(TimingFieldsNow());
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

void ApplyDefaults()
{
    for (const TimingField& field : TimingFields)
        SetDlgItemInt(SettingsDialog, FieldId(field.name), field.defaultValue, TRUE);
    SetDlgItemTextA(MainDialog, IDC_BUFLEN, kDefaultBufferLength);
    SetDlgItemTextA(MainDialog, IDC_RAWNAME, kDefaultRawFile);
}

void SaveSettings()
{
    HKEY key;
    if (!OpenSettingsKey(&key))
        return;
    for (const TimingField& field : TimingFields) {
        // BaseLine too is stored whole; only latching cuts it to 8 bits.
        const DWORD value = static_cast<DWORD>(ReadField(SettingsDialog, FieldId(field.name)));
        RegSetValueExA(key, field.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    RegCloseKey(key);
}

void LoadSettings()
{
    HKEY key;
    if (!OpenSettingsKey(&key))
        return;
    for (const TimingField& field : TimingFields) {
        DWORD value = 0;
        DWORD type = 0;
        DWORD size = sizeof value;
        // A value that is missing, or is not a 4-byte number, leaves its field as it is.
        if (RegQueryValueExA(key, field.name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof value)
            SetDlgItemInt(SettingsDialog, FieldId(field.name), static_cast<UINT>(value), TRUE);
    }
    RegCloseKey(key);
}

void LatchSettings()
{
    TimingSettings = TimingFieldsNow();
}

TimingRecord TimingFieldsNow()
{
    TimingRecord record{};
    for (const TimingField& field : TimingFields)
        SetTimingValue(record, field, ReadField(SettingsDialog, FieldId(field.name)));
    return record;
}
