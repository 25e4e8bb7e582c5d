// The built-in reader of plain recordings, and the kept recording it reads: libsndfile's reading of
// the same WAV files as the reference, the refusals, and a kept file cut at any moment of its
// writing or at any byte afterwards.
#include "audio/plainwav.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "audio/audiofile.h"
#include "capture/keeper.h"
#include "tests/fake_ui.h"
#include "tests/test_support.h"

namespace {

using Samples = std::vector<uint8_t>;

std::vector<float> ReadPlain(const std::string& name, std::string* error = nullptr)
{
    std::string why;
    PlainRecording* recording = OpenPlainRecording(name.c_str(), &why);
    if (error)
        *error = why;
    std::vector<float> out;
    if (!recording)
        return out;
    std::vector<float> buffer(1000 * PlainRecordingChannels(recording));
    for (size_t n; (n = ReadPlainRecording(recording, buffer.data(), 1000)) > 0;)
        out.insert(out.end(), buffer.begin(), buffer.begin() + n * PlainRecordingChannels(recording));
    ClosePlainRecording(recording);
    return out;
}

std::vector<float> Scaled(const Samples& samples, size_t count)
{
    std::vector<float> out;
    for (size_t i = 0; i < count; ++i)
        out.push_back((samples[i] - 128) / 128.0f);
    return out;
}

class PlainWavTest : public CoreTest {};

// Frames as libsndfile writes them, in each layout the reader takes, read alike by both.
TEST_F(PlainWavTest, ReadsWhatLibsndfileReads)
{
    std::mt19937 random(5);
    for (int format : {SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16})
        for (int channels : {1, 2}) {
            std::vector<short> frames(3001 * channels);
            for (short& s : frames)
                s = static_cast<short>(random());
            SF_INFO info{};
            info.format = SF_FORMAT_WAV | format;
            info.channels = channels;
            info.samplerate = 44100;
            SNDFILE* file = sf_open("layout.wav", SFM_WRITE, &info);
            ASSERT_NE(file, nullptr);
            sf_writef_short(file, frames.data(), 3001);
            sf_close(file);

            const std::vector<float> plain = ReadPlain("layout.wav");
            ASSERT_EQ(plain.size(), frames.size()) << format << " " << channels;
            for (int c = 1; c <= channels; ++c) {
                std::string error;
                AudioFile* audio = OpenAudioFile("layout.wav", c, &error);
                ASSERT_NE(audio, nullptr) << error;
                std::vector<float> one(3001);
                ASSERT_EQ(ReadAudioSamples(audio, one.data(), one.size()), one.size());
                CloseAudioFile(audio);
                for (size_t i = 0; i < one.size(); ++i)
                    ASSERT_FLOAT_EQ(plain[i * channels + c - 1], one[i]) << format << " " << channels << " " << i;
            }
        }
}

// Each refusal names the file; a raw recording is read byte for byte.
TEST_F(PlainWavTest, RefusesWhatItCannotRead)
{
    const Samples raw = {0, 128, 255, 7};
    WriteFileBytes("tape.pcm", raw);
    EXPECT_EQ(ReadPlain("tape.pcm"), Scaled(raw, raw.size()));

    WriteFileBytes("empty.wav", {});
    SF_INFO info{};
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    info.channels = 1;
    info.samplerate = 44100;
    sf_close(sf_open("float.wav", SFM_WRITE, &info));
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    info.samplerate = 48000;
    sf_close(sf_open("rate.wav", SFM_WRITE, &info));
    for (const char* name : {"missing.wav", "empty.wav", "float.wav", "rate.wav"}) {
        std::string error;
        EXPECT_TRUE(ReadPlain(name, &error).empty()) << name;
        EXPECT_NE(error.find(std::string("'") + name + "'"), std::string::npos) << error;
    }
}

// The kept file, copied at moments of its writing as a crash would leave it, holds a header that
// never counts more than was written and at most one piece less; finished, it is exactly the
// samples; cut at any byte, it reads as the samples it still holds.
TEST_F(PlainWavTest, KeptRecordingCutAnywhereReadsWhatItHolds)
{
    std::mt19937 random(11);
    Samples samples(kKeepPieceBytes * 3 + 12345);
    for (uint8_t& s : samples)
        s = static_cast<uint8_t>(random());
    ASSERT_TRUE(StartKeeping("rec.wav"));
    EXPECT_EQ(FakeUiStatusMessages(), std::vector<std::string>{"Recording kept in rec.wav"});
    for (size_t i = 0; i < samples.size(); ++i) {
        KeepSample(samples[i]);
        if (i % 50000 == 0) {
            std::filesystem::copy_file("rec.wav", "crash.wav", std::filesystem::copy_options::overwrite_existing);
            const size_t pieces = (i + 1) / kKeepPieceBytes * kKeepPieceBytes;
            ASSERT_EQ(ReadPlain("crash.wav"), Scaled(samples, pieces)) << i;
        }
    }
    StopKeeping();
    EXPECT_FALSE(Keeping());
    EXPECT_EQ(KeptSamples(), static_cast<int64_t>(samples.size()));

    Samples file = ReadFileBytes("rec.wav");
    uint8_t header[kKeepHeaderBytes];
    KeepHeader(header, static_cast<uint32_t>(samples.size()));
    header[4] += 1;  // the pad byte after an odd length
    Samples expected(kKeepHeaderBytes + samples.size() + 1, 0x80);
    std::copy(header, header + kKeepHeaderBytes, expected.begin());
    std::copy(samples.begin(), samples.end(), expected.begin() + kKeepHeaderBytes);
    ASSERT_EQ(file, expected);

    for (size_t cut : {size_t{45}, size_t{1000}, size_t{kKeepPieceBytes + 7}, file.size() - 2}) {
        WriteFileBytes("cut.wav", Samples(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut)));
        ASSERT_EQ(ReadPlain("cut.wav"), Scaled(samples, cut - kKeepHeaderBytes)) << cut;
    }
    std::string error;
    WriteFileBytes("cut.wav", Samples(file.begin(), file.begin() + 30));
    EXPECT_TRUE(ReadPlain("cut.wav", &error).empty());
    EXPECT_NE(error.find("cut inside its header"), std::string::npos) << error;
}

}  // namespace
