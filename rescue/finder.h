// The rescue decoder's block finder: watches the half-waves for a pilot tone and hands over the
// stretch that follows it, pilot tail, sync and data, up to where the signal stops looking like
// data. It measures the pilot as it goes: its full period (the tape's speed) and how much longer
// the half-waves of one side are than those of the other (skewed edges).
// A stray half-wave inside a long pilot does not restart the count; the pilot is judged by full
// periods (two half-waves together), which a skewed signal leaves alone.
// Pure computation on the caller's record, any thread; nothing fails.
#ifndef QUORVANE_RESCUE_FINDER_H
#define QUORVANE_RESCUE_FINDER_H

#include <vector>

#include "rescue/slicer.h"

// A full pilot period (two half-pulses of 2168 T-states at 3.5 MHz) in samples at `rate`.
double NominalPilotPeriod(double rate);

// What the finder measured of a pilot, and the half-waves it handed over.
struct Stretch {
    std::vector<HalfWave> halves;  // the pilot's last half-waves first, then everything after it
    double pilotStart;             // sample where the pilot began
    double pilotPeriod;            // mean full period of the pilot, in samples
    double halfSkew;               // how much a high half-wave of the pilot exceeds half a period
};

enum FinderPhase { kFinderSearch, kFinderPilot, kFinderData };

enum FinderEvent {
    kFinderNothing,
    kFinderPilotFound,    // the count of pilot half-waves has just been reached
    kFinderStretchDone,   // stretch holds a finished stretch
};

struct FinderState {
    FinderPhase phase;
    int pilotHalves;      // half-waves in a row that make a pilot
    int count;            // pilot half-waves counted
    int misses;           // non-pilot half-waves in a row since the last pilot one
    int bad;              // recent half-waves that cannot be data (decays)
    double previous;      // the last half-wave's length
    double period;        // running mean of the pilot's full period
    double halfSkew;
    double start;         // where the counted pilot began
    std::vector<HalfWave> tail;  // the pilot's latest half-waves, oldest first
    Stretch stretch;
};

void FinderStart(FinderState& f, int pilotHalves);

// Takes the next half-wave; the recording's rate decides the nominal pilot period.
FinderEvent FinderPush(FinderState& f, const HalfWave& h, double rate);

// The recording has ended: a stretch being gathered is finished as it stands. True when there was
// one (it is then in f.stretch).
bool FinderFinish(FinderState& f);

#endif
