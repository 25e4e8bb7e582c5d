// The library side of reading an audio file (audio/audiofile.h is the side the programs use): the
// file decoded, its channels mixed or one taken, its rate converted to 44100/s, through libsndfile
// and libsoxr (soundlib_sndfile.cpp, in the native and the Windows console decoder alike).
// One stream is used by one thread at a time.
// Failures: OpenSoundStream refuses with a sentence naming the file and the fault; a stretch that
// cannot be decoded while reading becomes silence of its length and a damage report.
#ifndef QUORVANE_AUDIO_SOUNDLIB_H
#define QUORVANE_AUDIO_SOUNDLIB_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/format.h"

struct SoundStream;

// Opens `path`, recognised as `format` (not a raw recording, its header whole), taking `channel`
// (kMixChannels or a channel number). Null, with *error set, when refused.
SoundStream* OpenSoundStream(const char* path, const AudioFormat& format, int channel, std::string* error);

// Up to `count` samples at 44100/s on the raw recording's scale; 0 at the end.
size_t ReadSoundStream(SoundStream* stream, float* out, size_t count);

// The library's words for the format.
std::string SoundStreamDescription(const SoundStream* stream);

// Samples at 44100/s the header announces; -1 when it does not.
int64_t SoundStreamExpected(const SoundStream* stream);

// The next damaged stretch found (offsets in samples at 44100/s; to is -1 when reading stopped
// there for good); false when there is none.
bool TakeSoundDamage(SoundStream* stream, int64_t* from, int64_t* to, std::string* what);

void CloseSoundStream(SoundStream* stream);

// The libraries and their versions.
std::string SoundLibraryVersion();

#endif
