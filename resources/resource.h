// Control, dialog and command ids shared by quorvane.rc and the code. Plain defines only, so the
// resource compiler and the portable core can both include it.
#ifndef QUORVANE_RESOURCE_H
#define QUORVANE_RESOURCE_H

// Settings dialog (DIALOG_2): the ten threshold fields and its commands.
#define IDC_PILOTMIN    101
#define IDC_PILOTMAX    102
#define IDC_SYNCMIN     103
#define IDC_SYNCMAX     104
#define IDC_GRP_SYNC    105
#define IDC_GRP_PILOT   106
#define IDC_PILOTWAIT   107
// Not IDC_HELP: <windows.h> has a cursor of that name.
#define IDC_SETTINGSHELP 108
#define IDC_ZEROMIN     109
#define IDC_ZEROMAX     110
#define IDC_ONEMIN      111
#define IDC_ONEMAX      112
#define IDC_GRP_ZEROONE 113
#define IDC_SAVEREG     114
#define IDC_LOADREG     115
#define IDC_BASELINE    116
#define IDC_DEFAULT     1001
#define IDC_HALFWAVES   117

// Main dialog (MyDialog).
#define IDC_START       12
#define IDC_PAUSE       13
#define IDC_STOP        14
#define IDC_GRP_CONTROL 15
#define IDC_GRP_SETTINGS 16
#define IDC_BUFLEN      17
#define IDC_GRP_CONTROL2 18
#define IDC_SAMPLERATE  19
#define IDC_RECPOS      20
#define IDC_STATUS      21
#define IDC_RAWNAME     22
#define IDC_GRP_STATUS  23
#define IDC_SRC_PCM     24
#define IDC_GRP_USE     25
#define IDC_SRC_CARD    26
#define IDC_HEADERS     1000
#define IDC_GENSOUND    1002
#define IDC_WAVEFORM    1003
#define IDC_CATALOGUE   1004

// Labels that the code never addresses.
#define IDC_STATIC      -1

// Menu 1.
#define IDR_MAINMENU    1
#define IDM_EXIT        1
#define IDM_HIDE        101
// The recording kept of a sound-card run, and the rescue of a recording.
#define IDM_KEEP        201
#define IDM_RESCUE_LAST 202
#define IDM_RESCUE_FILE 203
#define IDM_HALFWAVES   204

// The half-waves window (DIALOG_3): the picture, what was measured, and its commands.
#define IDC_HW_PICTURE  301
#define IDC_HW_SOURCE   302
#define IDC_HW_TEXT     303
#define IDC_HW_CHOOSE   304
#define IDC_HW_LASTRUN  305
#define IDC_HW_SUGGEST  306

#endif
