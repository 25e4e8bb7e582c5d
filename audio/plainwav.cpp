#include "audio/plainwav.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

const char kPlainRecordingKinds[] =
    "raw recordings (unsigned 8-bit mono, 44100 samples/s, no header) and PCM WAV files of 8 or 16 bits, "
    "mono or stereo, 44100 samples/s";

struct PlainRecording {
    std::FILE* file = nullptr;
    AudioFormat format;
    int channels = 1;
    int bytesPerSample = 1;
    int64_t frames = 0;
    int64_t framesRead = 0;
    std::vector<uint8_t> bytes;
};

namespace {

std::string Quoted(const char* path)
{
    return std::string("'") + path + "'";
}

bool IsPlainWav(const AudioFormat& f)
{
    return f.kind == kWav && f.waveTag == 1 && (f.bitsPerSample == 8 || f.bitsPerSample == 16) &&
           (f.channels == 1 || f.channels == 2) && f.sampleRate == kDecoderRate;
}

}  // namespace

PlainRecording* OpenPlainRecording(const char* path, std::string* error)
{
    AudioFormat format;
    errno = 0;
    if (!RecogniseAudioFile(path, &format)) {
        *error = "Cannot open " + Quoted(path) + ": " + std::strerror(errno ? errno : EIO);
        return nullptr;
    }
    if (format.fileSize == 0) {
        *error = Quoted(path) + " is empty: it holds no recording";
        return nullptr;
    }
    if (format.headerCut) {
        *error = Quoted(path) + " is not a recording this program reads: it is cut inside its header";
        return nullptr;
    }
    if (format.kind != kRawRecording && !IsPlainWav(format)) {
        *error = Quoted(path) + " is not a recording this program reads: it is " + DescribeAudioFormat(format) +
                 ". It reads " + kPlainRecordingKinds;
        return nullptr;
    }
    PlainRecording* recording = new PlainRecording;
    recording->format = format;
    errno = 0;
    recording->file = std::fopen(path, "rb");
    if (!recording->file) {
        *error = "Cannot open " + Quoted(path) + ": " + std::strerror(errno ? errno : EIO);
        delete recording;
        return nullptr;
    }
    int64_t dataBytes = format.fileSize;
    if (format.kind == kWav) {
        recording->channels = format.channels;
        recording->bytesPerSample = format.bitsPerSample / 8;
        // A cut file holds less than its header says; one whose header was never patched (-1 or 0
        // while samples follow) is read to its end.
        const int64_t held = format.fileSize - format.dataOffset;
        dataBytes = format.dataBytes > 0 && format.dataBytes < held ? format.dataBytes : held;
        std::fseek(recording->file, static_cast<long>(format.dataOffset), SEEK_SET);
    }
    recording->frames = dataBytes / (recording->channels * recording->bytesPerSample);
    return recording;
}

int PlainRecordingChannels(const PlainRecording* recording)
{
    return recording->channels;
}

const AudioFormat& PlainRecordingFormat(const PlainRecording* recording)
{
    return recording->format;
}

int64_t PlainRecordingFrames(const PlainRecording* recording)
{
    return recording->frames;
}

size_t ReadPlainRecording(PlainRecording* recording, float* out, size_t count)
{
    const int64_t left = recording->frames - recording->framesRead;
    if (static_cast<int64_t>(count) > left)
        count = static_cast<size_t>(left);
    const size_t frameBytes = static_cast<size_t>(recording->channels * recording->bytesPerSample);
    recording->bytes.resize(count * frameBytes);
    const size_t got = count ? std::fread(recording->bytes.data(), frameBytes, count, recording->file) : 0;
    const size_t samples = got * static_cast<size_t>(recording->channels);
    const uint8_t* b = recording->bytes.data();
    if (recording->bytesPerSample == 1) {
        for (size_t i = 0; i < samples; ++i)
            out[i] = static_cast<float>(static_cast<int>(b[i]) - 128) * (1.0f / 128);
    } else {
        for (size_t i = 0; i < samples; ++i) {
            const int16_t s = static_cast<int16_t>(b[2 * i] | b[2 * i + 1] << 8);
            out[i] = static_cast<float>(s) * (1.0f / 32768);
        }
    }
    recording->framesRead += static_cast<int64_t>(got);
    // A read error is an early end: the frames count stops there.
    if (got < count)
        recording->frames = recording->framesRead;
    return got;
}

void ClosePlainRecording(PlainRecording* recording)
{
    if (!recording)
        return;
    if (recording->file)
        std::fclose(recording->file);
    delete recording;
}
