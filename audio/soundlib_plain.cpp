// Builds without libsndfile and libsoxr (the Windows console decoder) read the plain PCM WAV files
// the Windows program keeps (audio/plainwav.h) and no other audio file. Decoding another file's
// header as samples would give no block and no warning, so it is refused by name, with the two
// ways to decode it.
#include <vector>

#include "audio/plainwav.h"
#include "audio/soundlib.h"

struct SoundStream {
    PlainRecording* recording;
    int channel;  // kMixChannels or a channel number
    std::vector<float> frames;
};

SoundStream* OpenSoundStream(const char* path, const AudioFormat& format, int channel, std::string* error)
{
    const bool plain = format.kind == kWav && format.waveTag == 1 &&
                       (format.bitsPerSample == 8 || format.bitsPerSample == 16) &&
                       (format.channels == 1 || format.channels == 2) && format.sampleRate == kDecoderRate;
    if (!plain) {
        *error = std::string("'") + path + "' is an audio file (" + DescribeAudioFormat(format) +
                 "), and this build of quorvane-decode reads only " + kPlainRecordingKinds +
                 ". Decode it with the Linux build of quorvane-decode, which reads audio files, or convert it "
                 "first, e.g. sox '" + path + "' -t raw -r 44100 -e unsigned -b 8 -c 1 tape.pcm";
        return nullptr;
    }
    if (channel > format.channels) {
        *error = std::string("'") + path + "' has " + std::to_string(format.channels) +
                 (format.channels == 1 ? " channel" : " channels") + ": there is no channel " + std::to_string(channel);
        return nullptr;
    }
    PlainRecording* recording = OpenPlainRecording(path, error);
    if (!recording)
        return nullptr;
    return new SoundStream{recording, channel, {}};
}

size_t ReadSoundStream(SoundStream* stream, float* out, size_t count)
{
    const int channels = PlainRecordingChannels(stream->recording);
    stream->frames.resize(count * static_cast<size_t>(channels));
    const size_t got = ReadPlainRecording(stream->recording, stream->frames.data(), count);
    for (size_t i = 0; i < got; ++i) {
        const float* frame = stream->frames.data() + i * static_cast<size_t>(channels);
        if (stream->channel != kMixChannels)
            out[i] = frame[stream->channel - 1];
        else
            out[i] = channels == 2 ? (frame[0] + frame[1]) * 0.5f : frame[0];
    }
    return got;
}

std::string SoundStreamDescription(const SoundStream* stream)
{
    return DescribeAudioFormat(PlainRecordingFormat(stream->recording));
}

int64_t SoundStreamExpected(const SoundStream* stream)
{
    return PlainRecordingFrames(stream->recording);
}

bool TakeSoundDamage(SoundStream*, int64_t*, int64_t*, std::string*)
{
    return false;
}

void CloseSoundStream(SoundStream* stream)
{
    if (!stream)
        return;
    ClosePlainRecording(stream->recording);
    delete stream;
}

std::string SoundLibraryVersion()
{
    return std::string("built without libsndfile and libsoxr: reads ") + kPlainRecordingKinds;
}
