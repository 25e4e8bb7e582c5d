// The settings dialog (DIALOG_2): ten threshold fields with Default, Save Reg and Load Reg, and the
// latch that copies the fields into TimingSettings at Start. User-interface thread only.
#include "app/settings_win32.h"

#include <cstring>

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

}  // namespace

INT_PTR CALLBACK SettingsDialogProc(HWND, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        // wParam whole: only a plain click (notification 0) of these three runs anything.
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
    for (const TimingField& field : TimingFields)
        SetTimingValue(TimingSettings, field, ReadField(SettingsDialog, FieldId(field.name)));
}
