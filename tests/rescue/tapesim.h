// Cassette simulator for the rescue decoder's tests, tally and benchmark: the blocks of a TAP image
// rendered at the standard ROM timings as a full-precision signal (a renderer of its own, not
// quorvane-tapgen's byte levels), passed through a cassette deck's response, then damaged the ways a
// tape from a loft is: mains hum, hiss, drop-outs, clicks, DC drift, worn high frequencies, skewed
// edges, speed error with wow and flutter, a second channel out of step with the first. Every random
// choice comes from the seed, so a family, a strength and a seed always give the same samples.
// Pure computation on memory, no process-wide state, any thread; only the writers touch files and
// they report a file that cannot be written by returning false.
#ifndef QUORVANE_TESTS_TAPESIM_H
#define QUORVANE_TESTS_TAPESIM_H

#include <cstdint>
#include <string>
#include <vector>

// The kinds of damage, each rendered at strengths 1 (mild) to 3 (severe) by TapesimPreset.
enum TapesimFamily {
    kTapesimClean,
    kTapesimHum,       // 50 or 60 Hz with harmonics
    kTapesimHiss,      // white noise
    kTapesimDropout,   // the level falls away for a few milliseconds
    kTapesimClick,     // short decaying spikes
    kTapesimDrift,     // a slowly wandering DC offset
    kTapesimLowpass,   // worn high frequencies
    kTapesimSkew,      // rising edges late: high half-waves shorter, low ones longer
    kTapesimSpeed,     // a tape running fast or slow, with wow and flutter
    kTapesimStereo,    // two channels out of step, each with drop-outs of its own
    kTapesimCombined,  // a little of everything, more with each strength
    kTapesimFamilies
};

struct TapesimParams {
    double rate = 44100;      // samples a second of the recording
    int channels = 1;
    double level = 0.5;       // peak of the tape signal, full scale being 1
    double gapSeconds = 1.0;  // silence before every block and after the last
    bool inverted = false;    // the deck's polarity: pilot starting high instead of low
    // Tape speed: constant factor, then wow and flutter as relative depths at their rates.
    double speed = 1.0;
    double wowDepth = 0, wowHz = 0.8;
    double flutterDepth = 0, flutterHz = 12;
    double skewSeconds = 0;   // every rising edge this much late
    double lowpassHz = 12000; // the deck's (or the worn tape's) high-frequency corner, 2nd order
    double humLevel = 0, humHz = 50;  // amplitude against full scale
    double hissLevel = 0;     // standard deviation against full scale
    double dropoutRate = 0;   // drop-outs a second; each one 2 to dropoutMaxMs long
    double dropoutMaxMs = 30;
    double dropoutDepth = 0.9;  // largest share of the level lost
    double clickRate = 0;     // clicks a second
    double clickLevel = 0;    // largest click peak against full scale
    double driftLevel = 0;    // DC offset swing against full scale
    double azimuthSeconds = 0;  // the second channel late by this much
    uint64_t seed = 1;
    // One of several plays of a tape: when set, half the drop-outs are the tape's own, drawn from
    // this seed and so at the same places of the tape in every play, whatever the deck's speed;
    // the other half, and the noise, clicks, hum phase, wow and flutter, are the player's, drawn
    // from `seed`.
    uint64_t tapeSeed = 0;
};

const char* TapesimFamilyName(TapesimFamily family);
// The family called name, or kTapesimFamilies when there is none.
TapesimFamily TapesimFamilyByName(const std::string& name);

// Parameters of one family at strength 1..3; the seed also picks the hum's frequency, the polarity
// and the exact speed.
TapesimParams TapesimPreset(TapesimFamily family, int strength, uint64_t seed);

// The K-th play (from 1) of the tape `tape` describes: the tape's own drop-outs stay where they
// are, the player's damage is drawn afresh, and every deck adds at least a little hiss and runs a
// little off speed, with wow and flutter of its own.
TapesimParams TapesimPlay(const TapesimParams& tape, int play);

// The recording of the blocks: interleaved frames of params.channels samples in [-1, 1].
std::vector<float> TapesimRender(const std::vector<std::vector<uint8_t>>& blocks, const TapesimParams& params);

// WAV file, 16-bit PCM (rounded, clipped).
bool TapesimWriteWav16(const std::string& name, const std::vector<float>& frames, int channels, int rate);
// The raw recording the default decoder reads: the mean of the channels as unsigned 8-bit, 128
// silence.
bool TapesimWriteRaw8(const std::string& name, const std::vector<float>& frames, int channels);

#endif
