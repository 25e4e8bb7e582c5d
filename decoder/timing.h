// Timing thresholds: the one record the decoder reads, the field-text conversion, and the table that
// ties each threshold to its registry value name, settings-dialog field and default.
// Written only by latching (user-interface thread, before the decoder thread is created); read by the
// decoder thread. Pure data and arithmetic: nothing here fails.
#ifndef QUORVANE_TIMING_H
#define QUORVANE_TIMING_H

#include <cstdint>

// Every length is a count of samples at 44100/s; PilotWait counts half-periods; BaseLine is a sample
// value. Ranges are inclusive; a minimum above its maximum simply never matches.
struct TimingRecord {
    int32_t PilotMin, PilotMax, PilotWait;
    int32_t SyncMin, SyncMax;
    int32_t ZeroMin, ZeroMax;
    int32_t OneMin, OneMax;
    uint8_t BaseLine;
};

extern TimingRecord TimingSettings;

// One threshold as the user sees it: registry value name, settings field id, default.
struct TimingField {
    const char* name;
    int fieldId;
    int32_t defaultValue;
};

enum { kTimingFieldCount = 10 };

// In the order Save Reg, Load Reg and latching process them.
extern const TimingField TimingFields[kTimingFieldCount];

// Dialog text to number, as the settings fields are read: at most the first 8 characters, leading
// white space skipped, optional sign, decimal digits up to the first non-digit; no digits gives 0.
int32_t FieldToInt(const char* text);

// Stores value into the threshold at index (TimingFields order). BaseLine keeps the low 8 bits, so
// 300 becomes 44 and -1 becomes 255.
void SetTimingValue(TimingRecord& record, int index, int32_t value);

// The defaults of every threshold.
TimingRecord DefaultTiming();

#endif
