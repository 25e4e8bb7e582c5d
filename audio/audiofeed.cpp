#include "audio/audiofeed.h"

#include <vector>

#include "audio/audiofile.h"
#include "decoder/halfperiod.h"
#include "decoder/run.h"

void (*AudioBatchRead)(AudioFile* file);

namespace {

std::vector<float> samples;

int32_t ReadSides(void* context, uint8_t* out, int32_t capacity, uint8_t baseLine)
{
    AudioFile* file = static_cast<AudioFile*>(context);
    if (samples.size() < static_cast<size_t>(capacity))
        samples.resize(static_cast<size_t>(capacity));
    const size_t n = ReadAudioSamples(file, samples.data(), static_cast<size_t>(capacity));
    for (size_t i = 0; i < n; ++i)
        out[i] = SideByte(samples[i], baseLine);
    if (AudioBatchRead)
        AudioBatchRead(file);
    return static_cast<int32_t>(n);
}

void Close(void* context)
{
    CloseAudioFile(static_cast<AudioFile*>(context));
}

}  // namespace

void BeginAudioRun(AudioFile* file)
{
    BeginRun(FileReader{ReadSides, Close, file});
}
