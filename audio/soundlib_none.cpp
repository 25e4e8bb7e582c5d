// Builds without libsndfile and libsoxr (the Windows console decoder: the package registry has no
// Windows build of them) read no audio file. Decoding its header as samples would give no block
// and no warning, so it is refused by name, with the two ways to decode it.
#include "audio/soundlib.h"

SoundStream* OpenSoundStream(const char* path, const AudioFormat& format, int, std::string* error)
{
    *error = std::string("'") + path + "' is an audio file (" + DescribeAudioFormat(format) +
             "), and this build of quorvane-decode reads only raw recordings (unsigned 8-bit mono, "
             "44100 samples/s, no header). Decode it with the Linux build of quorvane-decode, which "
             "reads audio files, or convert it first, e.g. sox '" + path +
             "' -t raw -r 44100 -e unsigned -b 8 -c 1 tape.pcm";
    return nullptr;
}

size_t ReadSoundStream(SoundStream*, float*, size_t)
{
    return 0;
}

std::string SoundStreamDescription(const SoundStream*)
{
    return "";
}

int64_t SoundStreamExpected(const SoundStream*)
{
    return -1;
}

bool TakeSoundDamage(SoundStream*, int64_t*, int64_t*, std::string*)
{
    return false;
}

void CloseSoundStream(SoundStream*) {}

std::string SoundLibraryVersion()
{
    return "raw recordings only: built without libsndfile and libsoxr";
}
