#include "rescue/slicer.h"

#include <algorithm>
#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;

// Second-order Butterworth sections after the well-known cookbook formulas.
Biquad Section(double corner, double rate, bool highPass)
{
    const double w = 2 * kPi * corner / rate, c = std::cos(w), alpha = std::sin(w) / std::sqrt(2.0);
    const double a0 = 1 + alpha;
    Biquad f{};
    f.b0 = (highPass ? (1 + c) / 2 : (1 - c) / 2) / a0;
    f.b1 = (highPass ? -(1 + c) : 1 - c) / a0;
    f.b2 = f.b0;
    f.a1 = -2 * c / a0;
    f.a2 = (1 - alpha) / a0;
    return f;
}

inline double Step(Biquad& f, double x)
{
    const double y = f.b0 * x + f.b1 * f.x1 + f.b2 * f.x2 - f.a1 * f.y1 - f.a2 * f.y2;
    f.x2 = f.x1, f.x1 = x, f.y2 = f.y1, f.y1 = y;
    return y;
}

inline void Edge(SlicerState& s, double time, std::vector<HalfWave>& out)
{
    if (s.havePending && time - s.pendingEdge < s.sliver) {
        // The side came back within a sliver: both edges were noise, and the half-wave that began at
        // lastEdge goes on through them.
        s.havePending = false;
        return;
    }
    if (s.havePending) {
        // The pending edge ended the half-wave that began at lastEdge; its side is the opposite of
        // the one now being left.
        out.push_back({s.pendingEdge, static_cast<float>(s.pendingEdge - s.lastEdge), static_cast<int8_t>(-s.side)});
        s.lastEdge = s.pendingEdge;
    }
    s.pendingEdge = time;
    s.havePending = true;
}

}  // namespace

void SlicerStart(SlicerState& s, const SlicerSettings& settings, int channels, double rate, int64_t position)
{
    s = SlicerState{};
    s.settings = settings;
    s.channels = std::min(std::max(channels, 1), static_cast<int>(kSlicerMaxChannels));
    s.rate = rate;
    s.useHighPass = settings.highPassHz > 0;
    s.useLowPass = settings.lowPassHz > 0 && settings.lowPassHz < 0.45 * rate;
    if (s.useHighPass)
        s.highPass = Section(settings.highPassHz, rate, true);
    if (s.useLowPass)
        s.lowPass = Section(settings.lowPassHz, rate, false);
    // The level follows over about two milliseconds: slowly enough to ride through a bit, quickly
    // enough to follow a drop-out down.
    s.levelRate = 1 - std::exp(-1 / (0.002 * rate));
    s.position = position;
    s.side = 1;
    s.crossing = static_cast<double>(position);
    s.lastEdge = static_cast<double>(position);
    s.sliver = settings.sliverSamples * rate / 44100;
}

void SlicerFeed(SlicerState& s, const float* frames, int64_t count, std::vector<HalfWave>& out)
{
    const int channels = s.channels;
    const float* w = s.settings.weights;
    const double hysteresis = s.settings.hysteresis;
    for (int64_t n = 0; n < count; ++n, frames += channels) {
        double x = 0;
        for (int c = 0; c < channels; ++c)
            x += w[c] * frames[c];
        if (s.useLowPass)
            x = Step(s.lowPass, x);
        if (s.useHighPass)
            x = Step(s.highPass, x);
        if (s.trace)
            s.trace->push_back(static_cast<float>(x));
        // A click must not lift the threshold over the signal for milliseconds after it: the level
        // takes in at most three times itself.
        const double magnitude = std::min(std::fabs(x), 3 * s.level + 1e-9);
        s.level += s.levelRate * (magnitude - s.level);
        const double now = static_cast<double>(s.position);
        if ((x > 0) != (s.previous > 0))
            s.crossing = now - 1 + s.previous / (s.previous - x);
        s.previous = x;
        const double threshold = hysteresis * s.level;
        if (s.side < 0 ? x > threshold : x < -threshold) {
            Edge(s, std::min(s.crossing, now), out);
            s.side = -s.side;
        }
        ++s.position;
    }
}

void SlicerFinish(SlicerState& s, std::vector<HalfWave>& out)
{
    // Two edges a little apart, as though the signal changed side twice: the first ends the
    // half-wave in progress, the second pushes out the one still held.
    Edge(s, static_cast<double>(s.position), out);
    s.side = -s.side;
    Edge(s, static_cast<double>(s.position) + s.sliver + 1, out);
}
