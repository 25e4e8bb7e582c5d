#include "rescue/finder.h"

#include <cmath>

namespace {

// Pilot half-waves kept for the stretch: enough for the decoder to see the pilot before the sync.
const size_t kTail = 64;
// A stretch ends after this many half-waves at the latest: more than the longest block holds.
const size_t kLongestStretch = 1200000;

void Restart(FinderState& f)
{
    f.phase = kFinderSearch;
    f.count = 0;
    f.misses = 0;
    f.halfSkew = 0;
    f.tail.clear();
}

void Keep(FinderState& f, const HalfWave& h)
{
    if (f.tail.size() == kTail)
        f.tail.erase(f.tail.begin());
    f.tail.push_back(h);
}

}  // namespace

double NominalPilotPeriod(double rate)
{
    return 2 * 2168.0 / 3500000 * rate;
}

void FinderStart(FinderState& f, int pilotHalves)
{
    f = FinderState{};
    f.pilotHalves = pilotHalves;
    Restart(f);
}

FinderEvent FinderPush(FinderState& f, const HalfWave& h, double rate)
{
    const double pair = f.previous + h.length;
    f.previous = h.length;

    if (f.phase == kFinderData) {
        f.stretch.halves.push_back(h);
        // Lengths as they would be without the skew the pilot showed.
        const double length = h.length - h.side * f.halfSkew, period = f.stretch.pilotPeriod;
        const bool timeout = length > 1.3 * period;
        // Data half-waves run from a sync half (0.15 of a pilot period) to a 1 bit's (0.39); shorter
        // or much longer ones are noise, or the next block's pilot breaking in.
        const bool bad = length < 0.08 * period || length > 0.62 * period;
        f.bad = f.bad * 3 / 4 + (bad ? 4 : 0);
        if (timeout || f.bad > 9 || f.stretch.halves.size() >= kLongestStretch) {
            Restart(f);
            return kFinderStretchDone;
        }
        return kFinderNothing;
    }

    const double nominal = NominalPilotPeriod(rate);
    const bool pilot = f.count < 16 ? pair > 0.78 * nominal && pair < 1.3 * nominal
                                    : pair > 0.85 * f.period && pair < 1.15 * f.period;
    if (pilot) {
        if (f.count == 0) {
            f.start = h.end - pair;
            f.period = pair;
        }
        f.period += (pair - f.period) / (f.count < 16 ? f.count + 1 : 16);
        if (f.count >= 2)
            f.halfSkew += (h.side * (h.length - f.period / 2) - f.halfSkew) / 32;
        ++f.count;
        f.misses = 0;
        Keep(f, h);
        if (f.phase == kFinderSearch && f.count >= f.pilotHalves) {
            f.phase = kFinderPilot;
            return kFinderPilotFound;
        }
        return kFinderNothing;
    }
    if (f.phase == kFinderPilot) {
        // The pilot has ended (in a sync, or in a glitch that the decoder will read past).
        f.stretch.halves.assign(f.tail.begin(), f.tail.end());
        f.stretch.halves.push_back(h);
        f.stretch.pilotStart = f.start;
        f.stretch.pilotPeriod = f.period;
        f.stretch.halfSkew = f.halfSkew;
        f.bad = 0;
        f.phase = kFinderData;
        return kFinderNothing;
    }
    // A half-wave split in three by a click spoils four pair sums; more than that in a row and
    // this was no pilot.
    Keep(f, h);
    if (++f.misses > 4)
        Restart(f);
    return kFinderNothing;
}

bool FinderFinish(FinderState& f)
{
    const bool gathering = f.phase == kFinderData;
    Restart(f);
    return gathering;
}
