// A recording's pulses as a CSW 2.0 file with Z-RLE compression, streamed: each pulse is compressed
// (zlib) and written as it is added, so memory does not grow with the recording. The pulses are the
// rescue slicer's half-waves, at the recording's own rate. A pulse's length may have a fraction: the
// remainder of rounding it to whole samples is carried to the next, so the total never drifts from the
// recording; a pulse that rounds to nothing (two edges within one sample) joins its neighbours into one.
// Lengths that are negative, not a number, or past the format's 32 bits are taken as 0 or the most it
// holds. The pulse count and the initial level are written when the file is closed.
// One writer per thread; touches only its file.
// Failures: CswOpen returns null with the reason in *error; a failed write or compression is
// remembered, the pulses after it are dropped, and CswClose returns false with its reason.
#ifndef QUORVANE_TAPE_CSW_H
#define QUORVANE_TAPE_CSW_H

#include <cstdint>
#include <string>

struct CswWriter;

// Creates `path` for a recording of `rate` samples a second whose first pulse is high when `high`.
CswWriter* CswOpen(const std::string& path, double rate, bool high, std::string* error);

// A pulse of `samples` samples.
void CswAddPulse(CswWriter* writer, double samples);

// The slicer's hook: one half-wave of `samples` samples on `side` (+1 above the base line, -1 below).
// The first one's side is the initial level.
void CswAddHalfWave(CswWriter* writer, double samples, int side);

// Pulses written so far (after joining).
uint64_t CswPulses(const CswWriter* writer);

// Finishes the file and frees the writer; false with *error when any write failed.
bool CswClose(CswWriter* writer, std::string* error);

#endif
