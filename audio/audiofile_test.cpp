// Reading recordings at full precision, and the decoder fed from them: the side bytes against every
// base line, the raw scale, channel choice, rate conversion, and whole tapes through containers sox
// cannot write (MPEG, RF64), written here with libsndfile.
#include "audio/audiofile.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "audio/audiofeed.h"
#include "capture/keeper.h"
#include "decoder/catalogue.h"
#include "decoder/run.h"
#include "decoder/stop.h"
#include "tests/test_support.h"
#include "tools/tapgen.h"

namespace {

class AudioFileTest : public CoreTest {
protected:
    // Writes interleaved float frames in the given libsndfile format.
    static void WriteSound(const std::string& name, int format, int channels, int rate, const std::vector<float>& frames)
    {
        SF_INFO info{};
        info.format = format;
        info.channels = channels;
        info.samplerate = rate;
        SNDFILE* file = sf_open(name.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        // Full-scale floats written to an integer format would be clipped at the top; scale as the
        // library reads them back.
        sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        sf_writef_float(file, frames.data(), static_cast<sf_count_t>(frames.size() / channels));
        sf_close(file);
    }

    static std::vector<float> ReadAll(const std::string& name, int channel = kMixChannels)
    {
        std::string error;
        AudioFile* file = OpenAudioFile(name.c_str(), channel, &error);
        EXPECT_NE(file, nullptr) << error;
        std::vector<float> out;
        if (!file)
            return out;
        float buffer[1000];
        for (size_t n; (n = ReadAudioSamples(file, buffer, 1000)) > 0;)
            out.insert(out.end(), buffer, buffer + n);
        EXPECT_EQ(AudioSamplesRead(file), static_cast<int64_t>(out.size()));
        CloseAudioFile(file);
        return out;
    }

    static float Scale(uint8_t raw) { return (raw - 128) / 128.0f; }

    // Renders blocks as a tape, writes it with libsndfile, and decodes it through an audio run.
    void DecodeTape(const std::vector<TapgenBytes>& blocks, const std::string& name, int format)
    {
        const TapgenBytes raw = TapgenRecording(blocks, TapgenOptions());
        std::vector<float> frames;
        for (uint8_t sample : raw)
            frames.push_back(Scale(sample));
        WriteSound(name, format, 1, kTapgenRate, frames);
        std::string error;
        AudioFile* file = OpenAudioFile(name.c_str(), kMixChannels, &error);
        ASSERT_NE(file, nullptr) << error;
        ScanTapeFiles();
        BeginAudioRun(file);
        EXPECT_EQ(RunDecoderHere(), kExitEndOfFile);
        EndRun();
        for (size_t i = 0; i < blocks.size(); ++i) {
            char tap[32];
            std::snprintf(tap, sizeof tap, "out%03zu.tap", i + 1);
            EXPECT_EQ(ReadFileBytes(tap), TapFile(blocks[i])) << name << " " << tap;
        }
    }
};

// The decoder compares a byte with BaseLine; the side byte of a sample must compare as the raw
// sample itself does, for every sample and every base line, 0 and 255 included.
TEST_F(AudioFileTest, SideBytesCompareAsTheRawSamples)
{
    for (int baseLine = 0; baseLine < 256; ++baseLine)
        for (int raw = 0; raw < 256; ++raw) {
            const uint8_t side = SideByte(Scale(static_cast<uint8_t>(raw)), static_cast<uint8_t>(baseLine));
            ASSERT_EQ(side < baseLine, raw < baseLine) << "raw " << raw << " base line " << baseLine;
        }
}

// Between two raw steps a deeper sample still falls on its own side of the base line.
TEST_F(AudioFileTest, SamplesBetweenRawStepsKeepTheirSide)
{
    const float step = 1.0f / 128;
    EXPECT_EQ(SideByte(-step / 256, 128), 0);
    EXPECT_EQ(SideByte(0.0f, 128), 255);
    EXPECT_EQ(SideByte(step / 256, 128), 255);
    EXPECT_EQ(SideByte(Scale(100) - step / 1000, 100), 0);
    // Past the raw scale (a float file, a converter's overshoot) a sample still has its side.
    EXPECT_EQ(SideByte(-1.5f, 1), 0);
    EXPECT_EQ(SideByte(1.5f, 255), 255);
}

TEST_F(AudioFileTest, RawAndEightBitWavGiveTheSameSamples)
{
    std::vector<uint8_t> raw;
    for (int i = 0; i < 3000; ++i)
        raw.push_back(static_cast<uint8_t>(i * 37 + i / 256));
    WriteFileBytes("tape.pcm", raw);
    std::vector<float> frames;
    for (uint8_t sample : raw)
        frames.push_back(Scale(sample));
    WriteSound("tape.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 44100, frames);

    const std::vector<float> fromRaw = ReadAll("tape.pcm");
    const std::vector<float> fromWav = ReadAll("tape.wav");
    ASSERT_EQ(fromRaw.size(), raw.size());
    EXPECT_EQ(fromRaw, frames);
    EXPECT_EQ(fromWav, frames);
}

TEST_F(AudioFileTest, ChannelsMixedOrOneTaken)
{
    std::vector<float> frames;
    for (int i = 0; i < 500; ++i) {
        frames.push_back(i / 1000.0f);
        frames.push_back(-0.25f);
        frames.push_back(0.5f);
    }
    WriteSound("three.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 3, 44100, frames);
    const std::vector<float> mixed = ReadAll("three.wav");
    const std::vector<float> second = ReadAll("three.wav", 2);
    ASSERT_EQ(mixed.size(), 500u);
    for (size_t i = 0; i < 500; ++i) {
        EXPECT_FLOAT_EQ(mixed[i], (frames[3 * i] + frames[3 * i + 1] + frames[3 * i + 2]) / 3);
        EXPECT_EQ(second[i], -0.25f);
    }
    std::string error;
    EXPECT_EQ(OpenAudioFile("three.wav", 4, &error), nullptr);
    EXPECT_NE(error.find("3 channels"), std::string::npos) << error;
    EXPECT_NE(error.find("three.wav"), std::string::npos) << error;
}

// 48000/s to 44100/s: the length scales, and a 1 kHz tone crosses zero where it did.
TEST_F(AudioFileTest, RateConvertedKeepingTime)
{
    // M_PI is not standard C++ (the Windows compilers leave it out).
    const double pi = std::acos(-1.0);
    const int frames = 48000;
    std::vector<float> tone;
    for (int i = 0; i < frames; ++i)
        tone.push_back(0.5f * static_cast<float>(std::sin(2 * pi * 1000 * i / 48000.0 + 0.3)));
    WriteSound("tone.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, 48000, tone);
    std::string error;
    AudioFile* file = OpenAudioFile("tone.flac", kMixChannels, &error);
    ASSERT_NE(file, nullptr) << error;
    EXPECT_EQ(AudioSamplesExpected(file), 44100);
    CloseAudioFile(file);
    const std::vector<float> out = ReadAll("tone.flac");
    EXPECT_NEAR(static_cast<double>(out.size()), 44100, 1);
    // Away from the ends, each sample is the tone at its own time.
    for (size_t i = 1000; i < 43000; i += 97)
        EXPECT_NEAR(out[i], 0.5 * std::sin(2 * pi * 1000 * i / 44100.0 + 0.3), 1e-3) << i;
}

TEST_F(AudioFileTest, RawRecordingHasOneChannel)
{
    WriteFileBytes("tape.pcm", std::vector<uint8_t>(100, 128));
    std::string error;
    EXPECT_EQ(OpenAudioFile("tape.pcm", 2, &error), nullptr);
    EXPECT_NE(error.find("one channel"), std::string::npos) << error;
    EXPECT_EQ(OpenAudioFile("missing.wav", kMixChannels, &error), nullptr);
    EXPECT_NE(error.find("missing.wav"), std::string::npos) << error;
}

TEST_F(AudioFileTest, UnreadableAudioIsRefusedByName)
{
    std::vector<uint8_t> bytes = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34};
    bytes.resize(200, 0x55);
    WriteFileBytes("noise.flac", bytes);
    std::string error;
    EXPECT_EQ(OpenAudioFile("noise.flac", kMixChannels, &error), nullptr);
    EXPECT_NE(error.find("'noise.flac' (FLAC)"), std::string::npos) << error;
}

std::vector<TapgenBytes> SmallTape()
{
    std::vector<uint8_t> payload;
    for (int i = 0; i < 300; ++i)
        payload.push_back(static_cast<uint8_t>(i * 7));
    return {HeaderBlock(3, "audio", 300), WithChecksum(0xFF, payload)};
}

TEST_F(AudioFileTest, Rf64TapeDecodes)
{
    DecodeTape(SmallTape(), "tape.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16);
}

TEST_F(AudioFileTest, Mp3TapeDecodes)
{
    SF_INFO info{};
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    info.channels = 1;
    info.samplerate = 44100;
    if (!sf_format_check(&info))
        GTEST_SKIP() << "this libsndfile writes no MPEG";
    DecodeTape(SmallTape(), "tape.mp3", info.format);
}

// The recording kept of a sound-card run, copied at moments of its writing as a crash would leave
// it, opens with every whole piece written so far; finished, it is exactly the canonical 8-bit
// mono 44100/s WAV of the samples, with the pad byte after its odd length.
TEST_F(AudioFileTest, KeptRecordingOpensWithWhatItHolds)
{
    std::mt19937 random(11);
    std::vector<uint8_t> samples(kKeepPieceBytes * 3 + 12345);
    for (uint8_t& s : samples)
        s = static_cast<uint8_t>(random());
    auto scaled = [&](size_t count) {
        std::vector<float> out;
        for (size_t i = 0; i < count; ++i)
            out.push_back(Scale(samples[i]));
        return out;
    };
    ASSERT_TRUE(StartKeeping("rec.wav"));
    for (size_t i = 0; i < samples.size(); ++i) {
        KeepSample(samples[i]);
        if (i % 150000 == 0) {
            std::filesystem::copy_file("rec.wav", "crash.wav", std::filesystem::copy_options::overwrite_existing);
            ASSERT_EQ(ReadAll("crash.wav"), scaled((i + 1) / kKeepPieceBytes * kKeepPieceBytes)) << i;
        }
    }
    StopKeeping();
    EXPECT_EQ(ReadAll("rec.wav"), scaled(samples.size()));

    const uint32_t n = static_cast<uint32_t>(samples.size());
    auto le = [](uint32_t value, int bytes) {
        std::vector<uint8_t> out;
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
        return out;
    };
    std::vector<uint8_t> expected = {'R', 'I', 'F', 'F'};
    for (const std::vector<uint8_t>& part :
         {le(36 + n + 1, 4), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}, le(16, 4), le(1, 2), le(1, 2), le(44100, 4),
          le(44100, 4), le(1, 2), le(8, 2), {'d', 'a', 't', 'a'}, le(n, 4), samples, {0x80}})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(ReadFileBytes("rec.wav"), expected);
}

}  // namespace
