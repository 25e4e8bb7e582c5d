#include "decoder/timing.h"

#include <cstring>

TimingRecord TimingSettings;

const TimingField TimingFields[kTimingFieldCount] = {
    {"PilotMin", 21, [](TimingRecord& r, int32_t v) { r.PilotMin = v; }},
    {"PilotMax", 36, [](TimingRecord& r, int32_t v) { r.PilotMax = v; }},
    {"PilotWait", 300, [](TimingRecord& r, int32_t v) { r.PilotWait = v; }},
    {"SyncMin", 4, [](TimingRecord& r, int32_t v) { r.SyncMin = v; }},
    {"SyncMax", 18, [](TimingRecord& r, int32_t v) { r.SyncMax = v; }},
    {"ZeroMin", 15, [](TimingRecord& r, int32_t v) { r.ZeroMin = v; }},
    {"ZeroMax", 28, [](TimingRecord& r, int32_t v) { r.ZeroMax = v; }},
    {"OneMin", 33, [](TimingRecord& r, int32_t v) { r.OneMin = v; }},
    {"OneMax", 54, [](TimingRecord& r, int32_t v) { r.OneMax = v; }},
    {"BaseLine", 128, [](TimingRecord& r, int32_t v) { r.BaseLine = static_cast<uint8_t>(v & 0xFF); }},
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

const TimingField* FindTimingField(const char* name)
{
    for (const TimingField& field : TimingFields)
        if (std::strcmp(field.name, name) == 0)
            return &field;
    return nullptr;
}

void SetTimingValue(TimingRecord& record, const TimingField& field, int32_t value)
{
    field.store(record, value);
}

TimingRecord DefaultTiming()
{
    TimingRecord record{};
    for (const TimingField& field : TimingFields)
        SetTimingValue(record, field, field.defaultValue);
    return record;
}
