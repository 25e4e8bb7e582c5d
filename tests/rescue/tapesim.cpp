#include "tests/rescue/tapesim.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace {

const double kPi = 3.14159265358979323846;
const double kTState = 1.0 / 3500000;
// The ROM's pulses in T-states.
const int kPilotT = 2168, kSync1T = 667, kSync2T = 735, kZeroT = 855, kOneT = 1710;
const int kPilotHeader = 8063, kPilotData = 3223;

const char* const kFamilyNames[kTapesimFamilies] = {
    "clean", "hum", "hiss", "dropout", "click", "drift", "lowpass", "skew", "speed", "stereo", "combined",
};

// splitmix64: the same sequence on every platform and standard library, unlike <random>'s
// distributions.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Between(double low, double high) { return low + (high - low) * Uniform(); }
    double Gaussian()
    {
        const double u = std::max(Uniform(), 1e-300), v = Uniform();
        return std::sqrt(-2 * std::log(u)) * std::cos(2 * kPi * v);
    }
};

// The square wave on tape: levels -1, 0 (silence) and +1 changing at edges given in seconds of tape.
struct Tape {
    std::vector<double> edges;
    std::vector<double> levels;  // level from edges[k] up to edges[k + 1]
    std::vector<double> area;    // integral of the wave from 0 to edges[k]
    double end = 0;
};

void AddEdge(Tape& tape, double time, double level)
{
    tape.edges.push_back(time);
    tape.levels.push_back(level);
}

Tape LayOutTape(const std::vector<std::vector<uint8_t>>& blocks, const TapesimParams& p)
{
    Tape tape;
    double t = 0;
    for (const std::vector<uint8_t>& block : blocks) {
        t += p.gapSeconds;
        double level = p.inverted ? 1 : -1;
        auto half = [&](int tstates) {
            AddEdge(tape, t, level);
            t += tstates * kTState;
            level = -level;
        };
        const bool header = block.empty() || block[0] < 128;
        for (int i = 0; i < (header ? kPilotHeader : kPilotData); ++i)
            half(kPilotT);
        half(kSync1T);
        half(kSync2T);
        for (uint8_t byte : block)
            for (int bit = 7; bit >= 0; --bit) {
                const int length = (byte >> bit & 1) ? kOneT : kZeroT;
                half(length);
                half(length);
            }
        AddEdge(tape, t, 0);
    }
    tape.end = t + p.gapSeconds;
    // Skewed edges: every rising edge late, so high half-waves come out shorter and low ones longer
    // by the same amount, each full period keeping its length.
    for (size_t k = 1; k < tape.edges.size(); ++k)
        if (tape.levels[k] > tape.levels[k - 1])
            tape.edges[k] += p.skewSeconds;
    tape.area.resize(tape.edges.size());
    double area = 0;
    for (size_t k = 0; k < tape.edges.size(); ++k) {
        if (k > 0)
            area += tape.levels[k - 1] * (tape.edges[k] - tape.edges[k - 1]);
        tape.area[k] = area;
    }
    return tape;
}

// Tape position (seconds of tape) under the head at playback time tau: the integral of the speed.
double TapeTime(const TapesimParams& p, double tau, double wowPhase, double flutterPhase)
{
    double t = tau;
    if (p.wowDepth > 0)
        t += p.wowDepth * (std::cos(wowPhase) - std::cos(2 * kPi * p.wowHz * tau + wowPhase)) / (2 * kPi * p.wowHz);
    if (p.flutterDepth > 0)
        t += p.flutterDepth * (std::cos(flutterPhase) - std::cos(2 * kPi * p.flutterHz * tau + flutterPhase)) /
             (2 * kPi * p.flutterHz);
    return p.speed * t;
}

// Integral of the tape's wave from 0 to t; cursor only moves forward across calls with growing t.
double Area(const Tape& tape, double t, size_t& cursor)
{
    while (cursor < tape.edges.size() && tape.edges[cursor] <= t)
        ++cursor;
    if (cursor == 0)
        return 0;
    const size_t k = cursor - 1;
    return tape.area[k] + tape.levels[k] * (t - tape.edges[k]);
}

// A second-order section (direct form I), Butterworth low-pass, after the well-known cookbook.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double Step(double x)
    {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        return y;
    }
};

Biquad LowPass(double corner, double rate)
{
    Biquad f;
    const double w = 2 * kPi * corner / rate, alpha = std::sin(w) / (2 * std::sqrt(0.5)), c = std::cos(w);
    const double a0 = 1 + alpha;
    f.b0 = (1 - c) / 2 / a0;
    f.b1 = (1 - c) / a0;
    f.b2 = f.b0;
    f.a1 = -2 * c / a0;
    f.a2 = (1 - alpha) / a0;
    return f;
}

struct Event {
    double start, length, strength, shape, frequency;
};

std::vector<Event> Events(Random& random, double rate, double seconds, double maxLength, double depth)
{
    std::vector<Event> events;
    if (rate <= 0)
        return events;
    double t = 0;
    for (;;) {
        t += -std::log(std::max(random.Uniform(), 1e-12)) / rate;
        if (t >= seconds)
            return events;
        Event e;
        e.start = t;
        e.length = random.Between(0.002, maxLength);
        e.strength = random.Between(0.5, 1.0) * depth;
        e.shape = random.Between(0.00005, 0.0004);
        e.frequency = random.Uniform() < 0.4 ? 0 : random.Between(1500, 7000);
        if (random.Uniform() < 0.5)
            e.strength = -e.strength;
        events.push_back(e);
    }
}

// Gain of one channel at playback time tau under its drop-outs (sorted by start).
double DropoutGain(const std::vector<Event>& dropouts, double tau)
{
    double gain = 1;
    for (const Event& e : dropouts) {
        if (e.start > tau)
            break;
        if (tau >= e.start + e.length)
            continue;
        // Raised-cosine ramps in and out, a flat floor between.
        const double ramp = std::min(0.002, e.length / 3), into = tau - e.start, left = e.start + e.length - tau;
        const double edge = std::min(into, left);
        const double shape = edge >= ramp ? 1 : 0.5 - 0.5 * std::cos(kPi * edge / ramp);
        gain *= 1 - std::fabs(e.strength) * shape;
    }
    return gain;
}

double ClickValue(const std::vector<Event>& clicks, double tau, size_t& first)
{
    while (first < clicks.size() && clicks[first].start + 12 * clicks[first].shape < tau)
        ++first;
    double value = 0;
    for (size_t k = first; k < clicks.size() && clicks[k].start <= tau; ++k) {
        const Event& e = clicks[k];
        const double age = tau - e.start;
        value += e.strength * std::exp(-age / e.shape) * std::cos(2 * kPi * e.frequency * age);
    }
    return value;
}

}  // namespace

const char* TapesimFamilyName(TapesimFamily family)
{
    return family >= 0 && family < kTapesimFamilies ? kFamilyNames[family] : "";
}

TapesimFamily TapesimFamilyByName(const std::string& name)
{
    for (int f = 0; f < kTapesimFamilies; ++f)
        if (name == kFamilyNames[f])
            return static_cast<TapesimFamily>(f);
    return kTapesimFamilies;
}

TapesimParams TapesimPreset(TapesimFamily family, int strength, uint64_t seed)
{
    TapesimParams p;
    p.seed = seed;
    Random random{seed * 7919 + static_cast<uint64_t>(family) * 131 + static_cast<uint64_t>(strength)};
    p.inverted = random.Uniform() < 0.5;
    p.humHz = random.Uniform() < 0.5 ? 50 : 60;
    const int s = std::min(std::max(strength, 1), 3) - 1;
    auto Pick = [](int index, double mild, double middle, double severe) {
        return index == 0 ? mild : index == 1 ? middle : severe;
    };
    const double sign = random.Uniform() < 0.5 ? -1 : 1;
    switch (family) {
    case kTapesimClean:
    case kTapesimFamilies:
        break;
    case kTapesimHum:
        p.humLevel = Pick(s, 0.15, 0.35, 0.6);
        break;
    case kTapesimHiss:
        p.hissLevel = Pick(s, 0.06, 0.12, 0.2);
        break;
    case kTapesimDropout:
        // A tape with drop-outs hisses too: where the level falls, the hiss is what is left.
        p.dropoutRate = Pick(s, 1, 2, 3);
        p.dropoutMaxMs = Pick(s, 20, 35, 50);
        p.dropoutDepth = Pick(s, 0.85, 0.92, 0.97);
        p.hissLevel = 0.015;
        break;
    case kTapesimClick:
        p.clickRate = Pick(s, 2, 5, 10);
        p.clickLevel = Pick(s, 0.6, 1.0, 1.0);
        break;
    case kTapesimDrift:
        p.level = 0.4;
        p.driftLevel = Pick(s, 0.25, 0.4, 0.55);
        break;
    case kTapesimLowpass:
        p.lowpassHz = Pick(s, 2500, 1600, 1100);
        break;
    case kTapesimSkew:
        p.skewSeconds = Pick(s, 50e-6, 90e-6, 130e-6);
        break;
    case kTapesimSpeed:
        p.speed = 1 + sign * Pick(s, 0.1, 0.15, 0.2);
        p.wowDepth = Pick(s, 0.02, 0.03, 0.04);
        p.wowHz = random.Between(0.5, 2);
        p.flutterDepth = Pick(s, 0.003, 0.006, 0.01);
        p.flutterHz = random.Between(8, 20);
        break;
    case kTapesimStereo:
        p.channels = 2;
        p.azimuthSeconds = Pick(s, 60e-6, 120e-6, 200e-6);
        p.dropoutRate = Pick(s, 1, 1.5, 2);
        p.dropoutMaxMs = 30;
        p.dropoutDepth = 0.95;
        p.hissLevel = 0.03;
        break;
    case kTapesimCombined:
        p.lowpassHz = Pick(s, 4000, 2500, 1800);
        p.humLevel = Pick(s, 0.05, 0.1, 0.2);
        p.hissLevel = Pick(s, 0.03, 0.06, 0.1);
        p.driftLevel = Pick(s, 0.1, 0.2, 0.3);
        p.clickRate = Pick(s, 1, 2, 4);
        p.clickLevel = Pick(s, 0.5, 0.7, 1.0);
        p.dropoutRate = Pick(s, 0.3, 0.6, 1);
        p.dropoutMaxMs = Pick(s, 15, 20, 30);
        p.skewSeconds = Pick(s, 20e-6, 40e-6, 60e-6);
        p.wowDepth = Pick(s, 0.005, 0.01, 0.02);
        p.wowHz = random.Between(0.5, 2);
        p.speed = 1 + sign * Pick(s, 0.03, 0.05, 0.07);
        break;
    }
    return p;
}

TapesimParams TapesimPlay(const TapesimParams& tape, int play)
{
    TapesimParams p = tape;
    p.tapeSeed = tape.seed;
    p.seed = tape.seed * 1000003 + static_cast<uint64_t>(play);
    const double wander = static_cast<double>(p.seed % 1000) / 1000;
    p.hissLevel = std::max(p.hissLevel, 0.01);
    p.speed *= 0.995 + 0.01 * wander;
    p.wowDepth = std::max(p.wowDepth, 0.003);
    p.wowHz = 0.5 + wander;
    p.flutterDepth = std::max(p.flutterDepth, 0.001);
    p.flutterHz = 8 + 10 * wander;
    return p;
}

std::vector<float> TapesimRender(const std::vector<std::vector<uint8_t>>& blocks, const TapesimParams& p)
{
    Random random{p.seed};
    const Tape tape = LayOutTape(blocks, p);
    const int channels = std::max(p.channels, 1);
    const double wowPhase = random.Between(0, 2 * kPi), flutterPhase = random.Between(0, 2 * kPi);
    // Playback time that covers the whole tape (the speed varies by a few per cent at most).
    const double seconds = tape.end / (p.speed * (1 - p.wowDepth - p.flutterDepth));
    const int64_t frames = static_cast<int64_t>(seconds * p.rate) + 1;

    const double humPhase = random.Between(0, 2 * kPi);
    double driftHz[3], driftPhase[3];
    for (int k = 0; k < 3; ++k) {
        driftHz[k] = random.Between(0.05, 0.7);
        driftPhase[k] = random.Between(0, 2 * kPi);
    }
    const std::vector<Event> clicks = Events(random, p.clickRate, seconds, 0.001, p.clickLevel);
    // A mono tape's drop-outs are the tape's own; each track of a stereo one has its own. Of one of
    // several plays, half are the oxide's, placed in tape time so that every play, at whatever speed
    // its deck runs, meets them at the same bits; the other half the player's, in playback time.
    std::vector<std::vector<Event>> dropouts(channels), oxide(channels);
    for (int c = 0; c < channels; ++c) {
        if (p.tapeSeed == 0) {
            dropouts[c] = Events(random, p.dropoutRate, seconds, p.dropoutMaxMs / 1000, p.dropoutDepth);
            continue;
        }
        Random marks{p.tapeSeed * 104729 + static_cast<uint64_t>(c)};
        oxide[c] = Events(marks, p.dropoutRate / 2, tape.end, p.dropoutMaxMs / 1000, p.dropoutDepth);
        dropouts[c] = Events(random, p.dropoutRate / 2, seconds, p.dropoutMaxMs / 1000, p.dropoutDepth);
    }

    std::vector<float> out(static_cast<size_t>(frames * channels));
    for (int c = 0; c < channels; ++c) {
        const double delay = c == 0 ? 0 : p.azimuthSeconds;
        // The deck: AC coupling at 20 Hz, then its high-frequency corner.
        const double hpCoefficient = std::exp(-2 * kPi * 20 / p.rate);
        double hpIn = 0, hpOut = 0;
        Biquad lowpass = LowPass(std::min(p.lowpassHz, 0.45 * p.rate), p.rate);
        size_t cursor = 0, firstClick = 0;
        const double gain = c == 0 ? 1 : 0.85;
        double previousArea = 0;
        double previousTape = TapeTime(p, -delay, wowPhase, flutterPhase);
        for (int64_t n = 0; n < frames; ++n) {
            const double tau = static_cast<double>(n) / p.rate;
            // Each sample is the wave's mean over the stretch of tape that passed the head during it.
            const double nextTape = TapeTime(p, tau + 1 / p.rate - delay, wowPhase, flutterPhase);
            const double area = Area(tape, nextTape, cursor);
            double x = nextTape > previousTape ? (area - previousArea) / (nextTape - previousTape) : 0;
            if (n == 0)
                x = 0;
            previousArea = area, previousTape = nextTape;
            x *= DropoutGain(dropouts[c], tau) * DropoutGain(oxide[c], nextTape);
            hpOut = hpCoefficient * (hpOut + x - hpIn);
            hpIn = x;
            double y = lowpass.Step(hpOut) * p.level * gain;
            if (p.humLevel > 0) {
                const double w = 2 * kPi * p.humHz * tau + humPhase;
                y += p.humLevel * (std::sin(w) + 0.15 * std::sin(2 * w + 1) + 0.35 * std::sin(3 * w + 2)) / 1.3;
            }
            if (p.driftLevel > 0) {
                double drift = 0;
                for (int k = 0; k < 3; ++k)
                    drift += std::sin(2 * kPi * driftHz[k] * tau + driftPhase[k]);
                y += p.driftLevel * drift / 2.2;
            }
            if (p.hissLevel > 0)
                y += p.hissLevel * random.Gaussian();
            if (p.clickRate > 0)
                y += ClickValue(clicks, tau, firstClick);
            out[static_cast<size_t>(n * channels + c)] = static_cast<float>(std::min(1.0, std::max(-1.0, y)));
        }
    }
    return out;
}

bool TapesimWriteWav16(const std::string& name, const std::vector<float>& frames, int channels, int rate)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    const uint32_t dataBytes = static_cast<uint32_t>(frames.size() * 2);
    auto u32 = [&](uint32_t v) {
        const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        out.write(b, 4);
    };
    auto u16 = [&](uint32_t v) {
        const char b[2] = {char(v), char(v >> 8)};
        out.write(b, 2);
    };
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(static_cast<uint32_t>(channels));
    u32(static_cast<uint32_t>(rate));
    u32(static_cast<uint32_t>(rate * channels * 2));
    u16(static_cast<uint32_t>(channels * 2));
    u16(16);
    out.write("data", 4);
    u32(dataBytes);
    std::vector<char> buffer;
    buffer.reserve(frames.size() * 2);
    for (float x : frames) {
        const long v = std::lround(std::min(1.0f, std::max(-1.0f, x)) * 32767);
        buffer.push_back(static_cast<char>(v & 0xFF));
        buffer.push_back(static_cast<char>((v >> 8) & 0xFF));
    }
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    return static_cast<bool>(out);
}

bool TapesimWriteRaw8(const std::string& name, const std::vector<float>& frames, int channels)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    std::vector<char> buffer;
    buffer.reserve(frames.size() / static_cast<size_t>(channels));
    for (size_t i = 0; i + static_cast<size_t>(channels) <= frames.size(); i += static_cast<size_t>(channels)) {
        double sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += frames[i + static_cast<size_t>(c)];
        const long v = 128 + std::lround(sum / channels * 127);
        buffer.push_back(static_cast<char>(std::min(255L, std::max(0L, v))));
    }
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    return static_cast<bool>(out);
}
