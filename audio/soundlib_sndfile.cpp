#include "audio/soundlib.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <vector>

namespace {

// Frames asked of the library at a time: large enough that the per-call cost vanishes, small
// enough that the buffers stay in the cache.
constexpr int64_t kChunkFrames = 4096;

// Seeks tried past a damaged stretch before the rest counts as lost: with steps growing to one
// second, well over an hour of damage.
constexpr int64_t kMaxResumeTries = 4096;

// Below this rate no tape signal survives (its 0 bits are 2 kHz square waves); a header giving
// less is damaged, and converting it would turn each frame into thousands of samples.
constexpr int kLowestRate = 8000;

struct Damage {
    int64_t from;
    int64_t to;
    std::string what;
};

}  // namespace

struct SoundStream {
    AudioFormat format;
    std::string name;  // as given, for messages
    std::string path;  // absolute, for reopening
    std::string description;
    int channel = kMixChannels;

    SNDFILE* sound = nullptr;
    SF_INFO info{};
    int64_t framesDeclared = -1;  // from the library; -1 when it cannot tell
    int64_t framePosition = 0;    // frames of the file read or passed as silence so far
    int64_t silenceLeft = 0;      // frames of a damaged stretch still to be given as silence
    bool fileEnded = false;
    std::vector<float> frames;  // interleaved, as the library reads them
    std::vector<float> mono;    // one channel at the file's rate

    soxr_t resampler = nullptr;
    size_t monoStart = 0;  // mono samples not yet taken by the resampler
    size_t monoEnd = 0;
    bool flushed = false;

    int64_t expected = -1;
    std::deque<Damage> damage;
};

namespace {

std::string Quoted(const std::string& path)
{
    return "'" + path + "'";
}

int64_t ToDecoderRate(const SoundStream& file, int64_t frames)
{
    return static_cast<int64_t>(std::llround(static_cast<double>(frames) * kDecoderRate / file.info.samplerate));
}

std::string LibraryDescription(const SF_INFO& info)
{
    SF_FORMAT_INFO major{}, subtype{};
    major.format = info.format & SF_FORMAT_TYPEMASK;
    subtype.format = info.format & SF_FORMAT_SUBMASK;
    std::string text;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major) == 0 && major.name)
        text = major.name;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &subtype, sizeof subtype) == 0 && subtype.name)
        text += (text.empty() ? "" : ", ") + std::string(subtype.name);
    char layout[64];
    std::snprintf(layout, sizeof layout, ", %i channel%s, %i samples/s", info.channels,
                  info.channels == 1 ? "" : "s", info.samplerate);
    return text + layout;
}

// Whether frame `at` can be sought and read, on a handle of its own: a failed seek leaves the
// library's decoder unusable.
bool FrameReadable(const std::string& path, int64_t at)
{
    SF_INFO info{};
    SNDFILE* probe = sf_open(path.c_str(), SFM_READ, &info);
    if (!probe)
        return false;
    std::vector<float> frame(static_cast<size_t>(info.channels));
    const bool readable = sf_seek(probe, at, SEEK_SET) == at &&
                          sf_readf_float(probe, frame.data(), 1) == 1;
    sf_close(probe);
    return readable;
}

bool OpenSound(SoundStream& file, std::string* error)
{
    const std::string kind = AudioKindName(file.format.kind);
    file.sound = sf_open(file.path.c_str(), SFM_READ, &file.info);
    if (!file.sound) {
        *error = Quoted(file.name) + " (" + kind + ") cannot be read: " + sf_strerror(nullptr);
        return false;
    }
    if (file.info.channels < 1 || file.info.samplerate < 1) {
        *error = Quoted(file.name) + " (" + kind + ") cannot be read: its header gives no channels or no rate";
        return false;
    }
    if (file.info.samplerate < kLowestRate) {
        *error = Quoted(file.name) + " (" + kind + ") cannot be decoded: its rate of " +
                 std::to_string(file.info.samplerate) + " samples/s is below " + std::to_string(kLowestRate) +
                 ", too low to hold a tape signal";
        return false;
    }
    if (file.channel > file.info.channels) {
        char text[96];
        std::snprintf(text, sizeof text, " has %i channel%s: there is no channel %i", file.info.channels,
                      file.info.channels == 1 ? "" : "s", file.channel);
        *error = Quoted(file.name) + text;
        return false;
    }
    file.framesDeclared = file.info.frames == SF_COUNT_MAX ? -1 : static_cast<int64_t>(file.info.frames);
    // A compressed stream may be cut anywhere without its header knowing: the last frame it
    // announces must be there.
    if (file.format.kind == kFlac && file.framesDeclared > 0 && file.info.seekable &&
        !FrameReadable(file.path, file.framesDeclared - 1)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      " is truncated or damaged: its header announces %" PRId64 " frames, the last of them cannot be read",
                      file.framesDeclared);
        *error = Quoted(file.name) + text;
        return false;
    }
    file.description = LibraryDescription(file.info);
    if (file.framesDeclared >= 0)
        file.expected = ToDecoderRate(file, file.framesDeclared);

    if (file.info.samplerate != kDecoderRate) {
        // The resampler keeps more precision than the source has: 20 bits for up to 16-bit
        // sources, 28 for deeper ones and for float.
        const bool deep = file.format.bitsPerSample > 16 || file.format.floatSamples ||
                          (file.info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24 ||
                          (file.info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_32;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(deep ? SOXR_VHQ : SOXR_HQ, 0);
        soxr_error_t failed = nullptr;
        file.resampler = soxr_create(file.info.samplerate, kDecoderRate, 1, &failed, &io, &quality, nullptr);
        if (!file.resampler) {
            *error = Quoted(file.name) + ": the rate converter refuses its rate: " + (failed ? failed : "");
            return false;
        }
    }
    file.frames.resize(static_cast<size_t>(kChunkFrames) * file.info.channels);
    file.mono.resize(kChunkFrames);
    return true;
}

// Reopens the file past a stretch its library could not decode, trying ever further on; the
// frames passed over are given as silence, so that offsets after the stretch stay true. With no
// readable frame found the recording ends there: a header may announce any length, and silence up
// to it would be invented.
void SkipDamage(SoundStream& file)
{
    const int64_t from = file.framePosition;
    const std::string cause = sf_strerror(file.sound);
    sf_close(file.sound);
    file.sound = nullptr;
    int64_t resume = -1;
    const int64_t largest = std::max<int64_t>(file.info.samplerate, kChunkFrames);
    int64_t step = kChunkFrames;
    for (int64_t at = from + step, tries = 0; at < file.framesDeclared && tries < kMaxResumeTries;
         ++tries, step = std::min(step * 2, largest), at += step) {
        // A seek may land on a frame that does not decode; reading one proves it. A fresh handle
        // then starts there, as a failed read leaves the library's decoder unusable.
        if (!FrameReadable(file.path, at))
            continue;
        SF_INFO info{};
        file.sound = sf_open(file.path.c_str(), SFM_READ, &info);
        if (file.sound && sf_seek(file.sound, at, SEEK_SET) == at)
            resume = at;
        break;
    }
    if (resume < 0) {
        if (file.sound)
            sf_close(file.sound);
        file.sound = nullptr;
        file.fileEnded = true;
        const bool libraryError = cause != "No Error.";
        file.damage.push_back({ToDecoderRate(file, from), -1,
                               libraryError ? "reading stopped (" + cause + ")"
                                            : "the stream ends before the length its header announces"});
        return;
    }
    file.damage.push_back({ToDecoderRate(file, from), ToDecoderRate(file, resume),
                           "could not be decoded (" + cause + ")"});
    file.silenceLeft = resume - from;
}

// Up to kChunkFrames frames of the file into file.mono, mixed or one channel; 0 at its end.
size_t ReadMono(SoundStream& file)
{
    const int channels = file.info.channels;
    for (;;) {
        if (file.silenceLeft > 0) {
            const size_t n = static_cast<size_t>(file.silenceLeft < kChunkFrames ? file.silenceLeft : kChunkFrames);
            std::fill(file.mono.begin(), file.mono.begin() + static_cast<std::ptrdiff_t>(n), 0.0f);
            file.silenceLeft -= static_cast<int64_t>(n);
            file.framePosition += static_cast<int64_t>(n);
            return n;
        }
        if (file.fileEnded || !file.sound)
            return 0;
        const sf_count_t got = sf_readf_float(file.sound, file.frames.data(), kChunkFrames);
        if (got > 0) {
            const size_t n = static_cast<size_t>(got);
            const float* in = file.frames.data();
            if (channels == 1) {
                std::copy(in, in + n, file.mono.begin());
            } else if (file.channel != kMixChannels) {
                for (size_t i = 0; i < n; ++i)
                    file.mono[i] = in[i * channels + file.channel - 1];
            } else {
                const float scale = 1.0f / static_cast<float>(channels);
                for (size_t i = 0; i < n; ++i) {
                    float sum = 0;
                    for (int c = 0; c < channels; ++c)
                        sum += in[i * channels + c];
                    file.mono[i] = sum * scale;
                }
            }
            file.framePosition += got;
            return n;
        }
        if (file.framesDeclared < 0 || file.framePosition >= file.framesDeclared || !file.info.seekable) {
            if (sf_error(file.sound) != SF_ERR_NO_ERROR) {
                file.damage.push_back({ToDecoderRate(file, file.framePosition), -1,
                                       std::string("reading stopped: ") + sf_strerror(file.sound)});
            }
            file.fileEnded = true;
            return 0;
        }
        SkipDamage(file);
    }
}

size_t ReadResampled(SoundStream& file, float* out, size_t count)
{
    size_t produced = 0;
    while (produced < count && !file.flushed) {
        if (file.monoStart == file.monoEnd) {
            file.monoStart = 0;
            file.monoEnd = ReadMono(file);
        }
        size_t taken = 0, given = 0;
        // An empty input is the end of the recording: the resampler gives out what it holds.
        const bool end = file.monoStart == file.monoEnd;
        soxr_process(file.resampler, end ? nullptr : file.mono.data() + file.monoStart, file.monoEnd - file.monoStart,
                     &taken, out + produced, count - produced, &given);
        file.monoStart += taken;
        produced += given;
        if (end && given == 0)
            file.flushed = true;
    }
    return produced;
}

}  // namespace

SoundStream* OpenSoundStream(const char* path, const AudioFormat& format, int channel, std::string* error)
{
    SoundStream* stream = new SoundStream;
    stream->name = path;
    // Reopened past damage after the run's owner may have changed directory (into TAPE).
    std::error_code ignored;
    stream->path = std::filesystem::absolute(path, ignored).string();
    if (stream->path.empty())
        stream->path = path;
    stream->format = format;
    stream->channel = channel;
    if (!OpenSound(*stream, error)) {
        CloseSoundStream(stream);
        return nullptr;
    }
    return stream;
}

size_t ReadSoundStream(SoundStream* stream, float* out, size_t count)
{
    if (stream->resampler)
        return ReadResampled(*stream, out, count);
    size_t n = 0;
    while (n < count) {
        if (stream->monoStart == stream->monoEnd) {
            stream->monoStart = 0;
            stream->monoEnd = ReadMono(*stream);
            if (stream->monoEnd == 0)
                break;
        }
        const size_t take = std::min(count - n, stream->monoEnd - stream->monoStart);
        std::copy(stream->mono.begin() + static_cast<std::ptrdiff_t>(stream->monoStart),
                  stream->mono.begin() + static_cast<std::ptrdiff_t>(stream->monoStart + take), out + n);
        stream->monoStart += take;
        n += take;
    }
    return n;
}

std::string SoundStreamDescription(const SoundStream* stream)
{
    return stream->description;
}

int64_t SoundStreamExpected(const SoundStream* stream)
{
    return stream->expected;
}

bool TakeSoundDamage(SoundStream* stream, int64_t* from, int64_t* to, std::string* what)
{
    if (stream->damage.empty())
        return false;
    const Damage& d = stream->damage.front();
    *from = d.from;
    *to = d.to;
    *what = d.what;
    stream->damage.pop_front();
    return true;
}

void CloseSoundStream(SoundStream* stream)
{
    if (!stream)
        return;
    if (stream->sound)
        sf_close(stream->sound);
    if (stream->resampler)
        soxr_delete(stream->resampler);
    delete stream;
}

std::string SoundLibraryVersion()
{
    return std::string(sf_version_string()) + ", libsoxr " + soxr_version();
}
