// A recording read as full-precision samples at 44100/s: an audio file of any format libsndfile
// reads (any depth, integer or float, any rate, any channel count), or a raw recording. The
// channels are mixed (their mean) or one is taken; any other rate is converted to 44100/s with
// libsoxr. Samples are floats on the raw recording's scale: 0 is the raw sample 128 (the middle),
// one raw step is 1/128, so a raw byte b reads as (b - 128) / 128 exactly, and so does an 8-bit
// file's sample.
// Portable: the library reading is audio/soundlib.h; recognition itself is audio/format.h.
// One AudioFile is used by one thread at a time; distinct files are independent.
// Failures: OpenAudioFile refuses, with a message naming the file and what is wrong, a file that
// cannot be opened, that its library cannot read, whose header is cut or whose data is truncated,
// and a channel the file does not have. A stretch that cannot be decoded while reading (a damaged
// FLAC frame) is read as silence of its length and reported through TakeAudioDamage; reading then
// goes on after it.
#ifndef QUORVANE_AUDIO_AUDIOFILE_H
#define QUORVANE_AUDIO_AUDIOFILE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/format.h"

struct AudioFile;

// Opens `path` for reading. `channel` is kMixChannels or a channel number
// (audio/format.h). Null, with *error set
// to a sentence naming the file and the fault, when the file is refused.
AudioFile* OpenAudioFile(const char* path, int channel, std::string* error);

// Reads up to `count` samples; returns how many, 0 at the end of the recording.
size_t ReadAudioSamples(AudioFile* file, float* out, size_t count);

// What recognition found in the file.
const AudioFormat& AudioFileFormat(const AudioFile* file);

// The library's own words for the file's format ("WAV (Microsoft), Signed 16 bit PCM"), or
// "raw recording".
const std::string& AudioFileDescription(const AudioFile* file);

// Samples at 44100/s the whole recording gives, as far as its header tells; -1 when it does not.
int64_t AudioSamplesExpected(const AudioFile* file);

// Samples delivered so far.
int64_t AudioSamplesRead(const AudioFile* file);

// A stretch of the recording that could not be read, in samples at 44100/s from the start; `to`
// is -1 when reading stopped there for good.
struct AudioDamage {
    int64_t from;
    int64_t to;
    std::string what;
};

// The next stretch found damaged since the last call; false when there is none.
bool TakeAudioDamage(AudioFile* file, AudioDamage* damage);

void CloseAudioFile(AudioFile* file);

// The libraries audio files are read with and their versions, or what this build lacks.
std::string AudioLibraryVersion();

#endif
