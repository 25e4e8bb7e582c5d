#include "audio/audiofile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "audio/soundlib.h"

struct AudioFile {
    AudioFormat format;
    std::string description;
    std::ifstream raw;  // a raw recording
    std::vector<uint8_t> rawBytes;
    SoundStream* sound = nullptr;  // an audio file
    int64_t expected = -1;
    int64_t delivered = 0;
};

namespace {

std::string Quoted(const char* path)
{
    return std::string("'") + path + "'";
}

std::string OpenFailure(const char* path)
{
    return "cannot open " + Quoted(path) + ": " + std::strerror(errno ? errno : EIO);
}

size_t ReadRaw(AudioFile& file, float* out, size_t count)
{
    if (file.rawBytes.size() < count)
        file.rawBytes.resize(count);
    // A file that cannot be read further has ended, as in the decoder's own reading of it.
    if (!file.raw.good())
        return 0;
    file.raw.read(reinterpret_cast<char*>(file.rawBytes.data()), static_cast<std::streamsize>(count));
    const size_t n = static_cast<size_t>(file.raw.gcount());
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<float>(static_cast<int>(file.rawBytes[i]) - 128) * (1.0f / 128);
    return n;
}

}  // namespace

AudioFile* OpenAudioFile(const char* path, int channel, std::string* error)
{
    AudioFile* file = new AudioFile;
    errno = 0;
    if (!RecogniseAudioFile(path, &file->format)) {
        *error = OpenFailure(path);
    } else if (!AudioFormatDamage(file->format).empty()) {
        *error = Quoted(path) + " (" + AudioKindName(file->format.kind) +
                 ") cannot be decoded: " + AudioFormatDamage(file->format);
    } else if (file->format.kind != kRawRecording) {
        file->sound = OpenSoundStream(path, file->format, channel, error);
        if (file->sound) {
            file->description = SoundStreamDescription(file->sound);
            file->expected = SoundStreamExpected(file->sound);
            return file;
        }
    } else if (channel > 1) {
        *error = Quoted(path) + " is a raw recording, which has one channel: there is no channel " +
                 std::to_string(channel);
    } else {
        errno = 0;
        file->raw.open(path, std::ios::in | std::ios::binary);
        if (file->raw.is_open()) {
            file->description = AudioKindName(kRawRecording);
            file->expected = file->format.fileSize;
            return file;
        }
        *error = OpenFailure(path);
    }
    CloseAudioFile(file);
    return nullptr;
}

size_t ReadAudioSamples(AudioFile* file, float* out, size_t count)
{
    const size_t n = file->sound ? ReadSoundStream(file->sound, out, count) : ReadRaw(*file, out, count);
    file->delivered += static_cast<int64_t>(n);
    return n;
}

const AudioFormat& AudioFileFormat(const AudioFile* file)
{
    return file->format;
}

const std::string& AudioFileDescription(const AudioFile* file)
{
    return file->description;
}

int64_t AudioSamplesExpected(const AudioFile* file)
{
    return file->expected;
}

int64_t AudioSamplesRead(const AudioFile* file)
{
    return file->delivered;
}

bool TakeAudioDamage(AudioFile* file, AudioDamage* damage)
{
    return file->sound && TakeSoundDamage(file->sound, &damage->from, &damage->to, &damage->what);
}

void CloseAudioFile(AudioFile* file)
{
    if (!file)
        return;
    CloseSoundStream(file->sound);
    delete file;
}

std::string AudioLibraryVersion()
{
    return SoundLibraryVersion();
}
