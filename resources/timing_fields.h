// Which field of the settings dialog shows which timing threshold, by the threshold's name. The
// Windows program's own knowledge: the core names the thresholds and nothing more.
#ifndef QUORVANE_TIMING_FIELDS_H
#define QUORVANE_TIMING_FIELDS_H

#include "resources/resource.h"

struct TimingFieldControl {
    const char* name;
    int id;
};

inline constexpr TimingFieldControl kTimingFieldControls[] = {
    {"PilotMin", IDC_PILOTMIN}, {"PilotMax", IDC_PILOTMAX}, {"PilotWait", IDC_PILOTWAIT},
    {"SyncMin", IDC_SYNCMIN},   {"SyncMax", IDC_SYNCMAX},   {"ZeroMin", IDC_ZEROMIN},
    {"ZeroMax", IDC_ZEROMAX},   {"OneMin", IDC_ONEMIN},     {"OneMax", IDC_ONEMAX},
    {"BaseLine", IDC_BASELINE},
};

#endif
