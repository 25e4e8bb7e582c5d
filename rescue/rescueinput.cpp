#include "rescue/rescueinput.h"

#include <algorithm>
#include <vector>

#include "audio/audiofeed.h"
#include "audio/audiofile.h"
#include "rescue/rescue.h"
#include "rescue/slicer.h"

struct RescueInput {
    std::vector<AudioFile*> channels;
    std::vector<float> one;  // a batch of one channel
};

namespace {

size_t ReadFrames(void* context, float* out, size_t count)
{
    RescueInput* input = static_cast<RescueInput*>(context);
    const size_t channels = input->channels.size();
    input->one.resize(count);
    size_t got = count;
    for (size_t c = 0; c < channels; ++c) {
        got = std::min(got, ReadAudioSamples(input->channels[c], input->one.data(), got));
        for (size_t i = 0; i < got; ++i)
            out[i * channels + c] = input->one[i];
    }
    if (AudioBatchRead)
        AudioBatchRead(input->channels[0]);
    return got;
}

void ToCsw(void* sink, double samples, int side)
{
    CswAddHalfWave(static_cast<CswWriter*>(sink), samples, side);
}

RescueSource Source(RescueInput* input, CswWriter* csw)
{
    RescueSource source{static_cast<int>(input->channels.size()), kDecoderRate, ReadFrames, input};
    if (csw) {
        source.sliced = ToCsw;
        source.sink = csw;
    }
    return source;
}

}  // namespace

RescueInput* OpenRescueInput(const char* path, int channel, std::string* error)
{
    RescueInput* input = new RescueInput;
    AudioFile* first = OpenAudioFile(path, channel == kMixChannels ? 1 : channel, error);
    if (!first) {
        delete input;
        return nullptr;
    }
    input->channels.push_back(first);
    // The file says how many channels it has only by refusing the first one it has not.
    if (channel == kMixChannels) {
        std::string ignored;
        for (int c = 2; c <= kSlicerMaxChannels; ++c) {
            AudioFile* next = OpenAudioFile(path, c, &ignored);
            if (!next)
                break;
            input->channels.push_back(next);
        }
    }
    return input;
}

RescueSource RescueInputSource(RescueInput* input)
{
    return Source(input, nullptr);
}

const std::string& RescueInputDescription(const RescueInput* input)
{
    return AudioFileDescription(input->channels[0]);
}

int RunRescueInput(RescueInput* input, Tape& tape, CswWriter* csw)
{
    return RunRescue(Source(input, csw), tape);
}

void ReadRescuePlay(RescueInput* input, Play& play, CswWriter* csw)
{
    ReadPlay(Source(input, csw), play);
}

void CloseRescueInput(RescueInput* input)
{
    if (!input)
        return;
    for (AudioFile* file : input->channels)
        CloseAudioFile(file);
    delete input;
}
