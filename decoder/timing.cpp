#include "decoder/timing.h"

#include "resources/resource.h"

TimingRecord TimingSettings;

const TimingField TimingFields[kTimingFieldCount] = {
    {"PilotMin", IDC_PILOTMIN, 21},  {"PilotMax", IDC_PILOTMAX, 36}, {"PilotWait", IDC_PILOTWAIT, 300},
    {"SyncMin", IDC_SYNCMIN, 4},     {"SyncMax", IDC_SYNCMAX, 18},   {"ZeroMin", IDC_ZEROMIN, 15},
    {"ZeroMax", IDC_ZEROMAX, 28},    {"OneMin", IDC_ONEMIN, 33},     {"OneMax", IDC_ONEMAX, 54},
    {"BaseLine", IDC_BASELINE, 128},
};

int32_t FieldToInt(const char* text)
{
    // The fields are read through an 8-character buffer, so only the first 8 characters count.
    int i = 0;
    while (i < 8 && text[i] != '\0' && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < 8 && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // At most 8 digits fit, so the value cannot leave the 32-bit range.
    int32_t value = 0;
    while (i < 8 && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        ++i;
    }
    return negative ? -value : value;
}

void SetTimingValue(TimingRecord& record, int index, int32_t value)
{
    switch (index) {
    case 0: record.PilotMin = value; break;
    case 1: record.PilotMax = value; break;
    case 2: record.PilotWait = value; break;
    case 3: record.SyncMin = value; break;
    case 4: record.SyncMax = value; break;
    case 5: record.ZeroMin = value; break;
    case 6: record.ZeroMax = value; break;
    case 7: record.OneMin = value; break;
    case 8: record.OneMax = value; break;
    case 9: record.BaseLine = static_cast<uint8_t>(value & 0xFF); break;
    }
}

TimingRecord DefaultTiming()
{
    TimingRecord record{};
    for (int i = 0; i < kTimingFieldCount; ++i)
        SetTimingValue(record, i, TimingFields[i].defaultValue);
    return record;
}
