// The Windows program's entry: both modeless dialogs, the 100 ms timer, the TAPE working directory,
// the catalogue, the default settings and the first Start, then the message loop until the quit
// message, and an orderly end of a run still going.
// Start-up failures are shown in an information box and end the program.
#include <windows.h>

#include "app/halfwaves_win32.h"
#include "app/keep_win32.h"
#include "app/maindialog_win32.h"
#include "app/settings_win32.h"
#include "decoder/catalogue.h"
#include "report/status.h"
#include "report/ui_win32.h"
#include "resources/resource.h"

namespace {

enum { kTimerId = 1, kTimerPeriodMs = 100 };

void OfferToDialogs(MSG* message)
{
    // Always both: each claims only messages for itself and its own controls.
    IsDialogMessageA(MainDialog, message);
    IsDialogMessageA(SettingsDialog, message);
    HalfWavesDialogMessage(message);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.lpszClassName = "quorvaneclass";
    if (!RegisterClassA(&windowClass)) {
        ShowInfo("Не могу зарегистрировать класс!");
        return -1;
    }

    try {
        SettingsDialog = CreateDialogParamA(instance, "DIALOG_2", nullptr, SettingsDialogProc, 0);
        if (!SettingsDialog)
            throw "Не могу создать вторую диалоговую панель";
        MainDialog = CreateDialogParamA(instance, "MyDialog", nullptr, MainDialogProc, 0);
        if (!MainDialog)
            throw "Не могу создать главную диалоговую панель";
        CheckDlgButton(MainDialog, IDC_SRC_CARD, BST_CHECKED);
        if (!SetTimer(MainDialog, kTimerId, kTimerPeriodMs, nullptr))
            // "инициализровать" (one letter short) is the program's own text, kept to the byte.
            throw "Не могу инициализровать таймер";

        // An existing TAPE is simply entered; from here on every relative name is inside it.
        CreateDirectoryA("TAPE", nullptr);
        SetCurrentDirectoryA("TAPE");
        ScanTapeFiles();
        ApplyDefaults();
        LoadKeepSetting(MainDialog);
        SendMessageA(MainDialog, WM_COMMAND, IDC_START, 0);

        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0)
            OfferToDialogs(&message);
        KillTimer(MainDialog, kTimerId);
        EndHalfWaves();
        EndRunAtShutdown();
    } catch (const char* text) {
        ShowInfo(text);
        return 0;
    }
    return 0;
}
