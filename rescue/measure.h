// A look at a recording for choosing thresholds: its half-waves counted by length as the default
// decoder measures them against BaseLine (report/histogram.h), and beside them the rescue
// decoder's measurement of its blocks (the pilot's period, the two bits' periods, the skew of its
// edges), from which thresholds for the default decoder are suggested. Both come from one reading
// of the recording through audio/audiofile.h, its channels taken as the default decoder takes them.
// The window's half-waves picture and quorvane-decode --histogram call it, the window on a thread
// of its own; nothing here touches the decoder's state, so it may run beside a run.
// Failures: a recording that cannot be opened is refused with the audio reader's message; a look
// asked to stop ends early and says so.
#ifndef QUORVANE_RESCUE_MEASURE_H
#define QUORVANE_RESCUE_MEASURE_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "decoder/timing.h"
#include "report/histogram.h"
#include "rescue/finder.h"

// The rescue decoder's measurement, in samples at 44100/s: for each quantity the median over the
// blocks it read (a block with no bit of one kind leaves that kind's period to the others).
struct TapeMeasure {
    int blocks = 0;    // blocks read past their sync
    double pilot = 0;  // full period of the pilot tone: two half-waves
    double zero = 0;   // full period of a 0 bit, and of a 1 bit
    double one = 0;
    double skew = 0;   // how much longer a high half-wave is than a low one of the same pulse
};

// What one block showed; zero or one is 0 when the block has no bit of that kind.
struct BlockMeasure {
    double pilot, zero, one, skew;
};

// The measurement of one stretch the rescue decoder's finder handed over; false when it holds no
// block (no sync, or not one byte).
bool MeasureStretch(const Stretch& stretch, BlockMeasure* measure);

TapeMeasure CombineMeasures(const std::vector<BlockMeasure>& blocks);

struct RecordingLook {
    std::string description;  // what the audio reader read the file as
    HalfWaveHistogram histogram;
    TapeMeasure measure;
};

// Reads the recording `path` (`channel`: kMixChannels or a channel number, audio/format.h) to its
// end. False, with *error set, when it cannot be opened or when *stop was raised (checked once a
// batch; null for never).
bool LookAtRecording(const char* path, int channel, uint8_t baseLine, RecordingLook* look, std::string* error,
                     const std::atomic<bool>* stop);

// Thresholds that take the measured tape's half-waves and bits with room for wow and jitter: each
// boundary halfway between what it parts (the longest 1 bit's half-wave and the shortest pilot
// one, a 0 and a 1 bit, a sync's and a pilot's half-wave), a 1 bit up to just short of a pilot's
// full period.
// PilotWait and BaseLine are `current`'s; with no block measured, `current` is returned as it is.
TimingRecord SuggestThresholds(const TapeMeasure& measure, const TimingRecord& current);

// The measurement and the suggestion in short lines, for the window and the SVG.
std::vector<std::string> DescribeLook(const TapeMeasure& measure, const TimingRecord& suggested);

#endif
