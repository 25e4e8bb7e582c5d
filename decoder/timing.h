// Timing thresholds: the one record the decoder reads, the field-text conversion, and the table that
// names each threshold (its registry value name, its option name in the console decoder) and gives
// its default. Which control shows a threshold is the settings dialog's business.
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

// One threshold as the user sees it: its name and its default, and where it goes in the record.
struct TimingField {
    const char* name;
    int32_t defaultValue;
    void (*store)(TimingRecord& record, int32_t value);
};

enum { kTimingFieldCount = 10 };

// In the order Save Reg, Load Reg and latching process them.
extern const TimingField TimingFields[kTimingFieldCount];

// Dialog text to number, as the settings fields are read: at most the first 8 characters, leading
// white space skipped, optional sign, decimal digits up to the first non-digit; no digits gives 0.
int32_t FieldToInt(const char* text);

// The threshold of that name, or null.
const TimingField* FindTimingField(const char* name);

// Stores value into the threshold. BaseLine keeps the low 8 bits, so 300 becomes 44 and -1 becomes
// 255.
void SetTimingValue(TimingRecord& record, const TimingField& field, int32_t value);

// The defaults of every threshold.
TimingRecord DefaultTiming();

#endif
