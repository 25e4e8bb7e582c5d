// The recordings the Windows program reads by itself, with no library: a raw recording (unsigned
// 8-bit mono 44100/s, no header) and a plain PCM WAV of 8 or 16 bits, mono or stereo, at
// 44100/s, which is what the program keeps of a sound-card run (capture/keeper.h). Samples are
// floats on the raw recording's scale (audio/audiofile.h): a raw byte b reads as (b - 128) / 128,
// a 16-bit sample s as s / 32768. A WAV cut short (a crash while it was written) is read as far
// as it goes.
// Portable; one PlainRecording is used by one thread at a time.
// Failures: OpenPlainRecording refuses, with a sentence naming the file, a file that cannot be
// opened, an empty one, an audio file of another kind or layout, and a WAV cut inside its header.
// A read error while reading ends the recording there.
#ifndef QUORVANE_AUDIO_PLAINWAV_H
#define QUORVANE_AUDIO_PLAINWAV_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/format.h"

struct PlainRecording;

PlainRecording* OpenPlainRecording(const char* path, std::string* error);

// 1 or 2.
int PlainRecordingChannels(const PlainRecording* recording);

const AudioFormat& PlainRecordingFormat(const PlainRecording* recording);

// Frames (one sample of every channel) the file holds, a cut one's included.
int64_t PlainRecordingFrames(const PlainRecording* recording);

// Up to `count` interleaved frames into out; how many were read, 0 at the end.
size_t ReadPlainRecording(PlainRecording* recording, float* out, size_t count);

void ClosePlainRecording(PlainRecording* recording);

// What the plain reader takes, for the refusals of the programs that read nothing else.
extern const char kPlainRecordingKinds[];

#endif
