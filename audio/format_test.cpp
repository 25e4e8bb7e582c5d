// Recognition by contents: each container's header as its writers lay it out, cut and truncated
// forms of it, and raw recordings that merely begin like one.
#include "audio/format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + std::strlen(tag)); }
void Le(Bytes& b, uint64_t v, int n) { for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); }
void Be(Bytes& b, uint64_t v, int n) { for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); }

// A PCM WAV file: the fmt chunk, an optional chunk before the data, `frames` frames of data and
// the data size the header states (`stated`, -1 for the true one).
Bytes Wav(int channels, int rate, int bits, int frames, int64_t stated = -1, bool listChunk = false)
{
    const int align = channels * bits / 8;
    const uint32_t data = static_cast<uint32_t>(frames * align);
    Bytes b;
    Put(b, "RIFF");
    Le(b, 36 + data, 4);
    Put(b, "WAVE");
    if (listChunk) {
        Put(b, "LIST");
        Le(b, 5, 4);
        Put(b, "INFOx");
        b.push_back(0);  // padding to an even length
    }
    Put(b, "fmt ");
    Le(b, 16, 4);
    Le(b, 1, 2);
    Le(b, static_cast<uint64_t>(channels), 2);
    Le(b, static_cast<uint64_t>(rate), 4);
    Le(b, static_cast<uint64_t>(rate * align), 4);
    Le(b, static_cast<uint64_t>(align), 2);
    Le(b, static_cast<uint64_t>(bits), 2);
    Put(b, "data");
    Le(b, stated < 0 ? data : static_cast<uint64_t>(stated), 4);
    b.resize(b.size() + data, 0x80);
    return b;
}

AudioFormat Recognise(const Bytes& b)
{
    return RecogniseAudioBytes(b.data(), b.size());
}

TEST(FormatTest, WavLayoutAndLength)
{
    const AudioFormat f = Recognise(Wav(2, 48000, 16, 1000, -1, true));
    EXPECT_EQ(f.kind, kWav);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.sampleRate, 48000);
    EXPECT_EQ(f.bitsPerSample, 16);
    EXPECT_EQ(f.frames, 1000);
    EXPECT_FALSE(f.headerCut);
    EXPECT_FALSE(f.truncated);
    EXPECT_EQ(AudioFormatDamage(f), "");
    EXPECT_EQ(DescribeAudioFormat(f), "WAV, 16-bit integer, 2 channels, 48000 samples/s, 0.02 s");
}

TEST(FormatTest, WavCutInsideTheData)
{
    Bytes b = Wav(1, 44100, 16, 1000);
    b.resize(b.size() - 1);
    const AudioFormat f = Recognise(b);
    EXPECT_TRUE(f.truncated);
    EXPECT_NE(AudioFormatDamage(f).find("truncated"), std::string::npos);
}

// Every cut inside the header leaves no data chunk to find.
TEST(FormatTest, WavCutAnywhereInsideTheHeader)
{
    const Bytes whole = Wav(2, 48000, 16, 10);
    for (size_t keep = 12; keep < 44; ++keep) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(keep));
        const AudioFormat f = Recognise(cut);
        EXPECT_EQ(f.kind, kWav) << keep;
        EXPECT_TRUE(f.headerCut) << keep;
    }
}

// Writers that cannot seek back leave the size open; that is no truncation.
TEST(FormatTest, WavWithOpenSizes)
{
    for (uint32_t open : {0u, 0xFFFFFFFFu, 0x7FFFF000u}) {
        const AudioFormat f = Recognise(Wav(1, 44100, 8, 100, open));
        EXPECT_FALSE(f.truncated) << open;
        EXPECT_EQ(f.dataBytes, -1) << open;
    }
}

TEST(FormatTest, Rf64TakesItsSizeFromDs64)
{
    Bytes b;
    Put(b, "RF64");
    Le(b, 0xFFFFFFFF, 4);
    Put(b, "WAVE");
    Put(b, "ds64");
    Le(b, 28, 4);
    Le(b, 0, 8);
    Le(b, 400, 8);  // data bytes
    Le(b, 100, 8);
    Le(b, 0, 4);
    const Bytes wav = Wav(2, 96000, 16, 100);
    b.insert(b.end(), wav.begin() + 12, wav.end());
    b[b.size() - 404] = b[b.size() - 403] = b[b.size() - 402] = b[b.size() - 401] = 0xFF;
    AudioFormat f = Recognise(b);
    EXPECT_EQ(f.kind, kRf64);
    EXPECT_EQ(f.dataBytes, 400);
    EXPECT_EQ(f.frames, 100);
    EXPECT_FALSE(f.truncated);
    b.resize(b.size() - 10);
    EXPECT_TRUE(Recognise(b).truncated);
}

TEST(FormatTest, Wave64)
{
    const uint8_t riff[16] = {0x72, 0x69, 0x66, 0x66, 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
    const uint8_t suffix[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
    auto guid = [&](Bytes& b, const char* tag) {
        Put(b, tag);
        b.insert(b.end(), suffix, suffix + 12);
    };
    Bytes b(riff, riff + 16);
    Le(b, 0, 8);
    guid(b, "wave");
    guid(b, "fmt ");
    Le(b, 24 + 16, 8);
    const Bytes wav = Wav(2, 48000, 24, 10);
    b.insert(b.end(), wav.begin() + 20, wav.begin() + 36);
    guid(b, "data");
    Le(b, 24 + 60, 8);
    b.resize(b.size() + 60);
    AudioFormat f = Recognise(b);
    EXPECT_EQ(f.kind, kWave64);
    EXPECT_EQ(f.bitsPerSample, 24);
    EXPECT_EQ(f.frames, 10);
    EXPECT_FALSE(f.truncated);
    b.pop_back();
    EXPECT_TRUE(Recognise(b).truncated);
}

TEST(FormatTest, AiffRateIsAnExtendedFloat)
{
    Bytes b;
    Put(b, "FORM");
    Be(b, 4 + 26 + 16 + 8, 4);
    Put(b, "AIFF");
    Put(b, "COMM");
    Be(b, 18, 4);
    Be(b, 1, 2);
    Be(b, 4, 4);
    Be(b, 16, 2);
    const uint8_t rate[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};  // 44100
    b.insert(b.end(), rate, rate + 10);
    Put(b, "SSND");
    Be(b, 8 + 8, 4);
    Be(b, 0, 8);
    b.resize(b.size() + 8);
    AudioFormat f = Recognise(b);
    EXPECT_EQ(f.kind, kAiff);
    EXPECT_EQ(f.sampleRate, 44100);
    EXPECT_EQ(f.frames, 4);
    EXPECT_EQ(f.dataBytes, 8);
    EXPECT_FALSE(f.truncated);
    b.pop_back();
    EXPECT_TRUE(Recognise(b).truncated);
}

TEST(FormatTest, AuWithAndWithoutItsSize)
{
    Bytes b;
    Put(b, ".snd");
    Be(b, 24, 4);
    Be(b, 8, 4);
    Be(b, 3, 4);  // 16-bit integers
    Be(b, 8000, 4);
    Be(b, 2, 4);
    b.resize(b.size() + 8);
    AudioFormat f = Recognise(b);
    EXPECT_EQ(f.kind, kAu);
    EXPECT_EQ(f.frames, 2);
    EXPECT_FALSE(f.truncated);
    b.pop_back();
    EXPECT_TRUE(Recognise(b).truncated);
    b[8] = b[9] = b[10] = b[11] = 0xFF;
    EXPECT_FALSE(Recognise(b).truncated);
}

TEST(FormatTest, FlacStreamInfo)
{
    Bytes b;
    Put(b, "fLaC");
    b.push_back(0x80);  // last metadata block, STREAMINFO
    Be(b, 34, 3);
    Be(b, 4096, 2);
    Be(b, 4096, 2);
    Be(b, 0, 6);
    // 20 bits of rate (96000), 3 of channels - 1 (1), 5 of bits - 1 (23), 36 of total samples.
    const uint64_t packed = uint64_t{96000} << 44 | uint64_t{1} << 41 | uint64_t{23} << 36 | 123456;
    Be(b, packed, 8);
    b.resize(b.size() + 16);
    const AudioFormat f = Recognise(b);
    EXPECT_EQ(f.kind, kFlac);
    EXPECT_EQ(f.sampleRate, 96000);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.bitsPerSample, 24);
    EXPECT_EQ(f.frames, 123456);
    Bytes cut(b.begin(), b.begin() + 20);
    EXPECT_TRUE(Recognise(cut).headerCut);
}

Bytes OggPage(uint8_t flags, const Bytes& body)
{
    Bytes b;
    Put(b, "OggS");
    b.push_back(0);
    b.push_back(flags);
    b.resize(b.size() + 8 + 4 + 4 + 4);  // granule position, serial, sequence, checksum
    b.push_back(1);
    b.push_back(static_cast<uint8_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

TEST(FormatTest, OggEndsOnItsLastPage)
{
    Bytes id;
    Put(id, "\x01vorbis");
    Le(id, 0, 4);
    id.push_back(2);
    Le(id, 48000, 4);
    id.resize(30);
    Bytes b = OggPage(2, id);
    const Bytes middle = OggPage(0, Bytes(200, 7));
    b.insert(b.end(), middle.begin(), middle.end());
    Bytes whole = b;
    const Bytes last = OggPage(4, Bytes(100, 9));
    whole.insert(whole.end(), last.begin(), last.end());

    AudioFormat f = Recognise(whole);
    EXPECT_EQ(f.kind, kOgg);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.sampleRate, 48000);
    EXPECT_FALSE(f.truncated);
    // Cut at a page boundary: the last page is not flagged as the stream's end.
    EXPECT_TRUE(Recognise(b).truncated);
    // Cut inside the last page.
    whole.resize(whole.size() - 1);
    EXPECT_TRUE(Recognise(whole).truncated);
}

TEST(FormatTest, MpegNeedsTwoFramesInARow)
{
    // MPEG-1 layer III, 128 kbit/s, 44100/s: 417 bytes a frame without padding.
    const uint8_t header[4] = {0xFF, 0xFB, 0x90, 0xC4};
    Bytes b(header, header + 4);
    b.resize(417);
    b.insert(b.end(), header, header + 4);
    b.resize(900);
    const AudioFormat f = Recognise(b);
    EXPECT_EQ(f.kind, kMpeg);
    EXPECT_EQ(f.sampleRate, 44100);
    EXPECT_EQ(f.channels, 1);
    b[417] = 0x80;
    EXPECT_EQ(Recognise(b).kind, kRawRecording);
}

TEST(FormatTest, TagsOfTheRarerContainers)
{
    using namespace std::string_literals;
    const std::pair<std::string, AudioKind> cases[] = {
        {"caff\x00\x01\x00\x00"s, kCaf},        {"Creative Voice File\x1A"s, kVoc}, {"NIST_1A\n   1024\n"s, kNist},
        {" paf\x00\x00\x00\x00"s, kPaf},        {"MATLAB 5.0 MAT-file"s, kMat5},    {"PVF1\n"s, kPvf},
        {"Extended Instrument: "s, kXi},          {"2BIT"s, kAvr},                    {"ALawSoundFile**"s, kWve},
        {"FORM\x00\x00\x00\x10" "8SVX"s, kSvx}, {"ID3\x03\x00\x00\x00\x00\x00\x10"s, kMpeg},
    };
    for (const auto& c : cases) {
        Bytes b(c.first.begin(), c.first.end());
        b.resize(64, 0x80);
        EXPECT_EQ(Recognise(b).kind, c.second) << c.first;
    }
}

// A raw recording is whatever recognises as nothing else, and nothing about it is damaged.
TEST(FormatTest, RawRecordingsThatBeginLikeAContainer)
{
    const char* heads[] = {"RIFF\x10\x00\x00\x00WAVX", "FORM\x00\x00\x00\x00MIDI", "fLa", "Ogg", "ID3\x09", ""};
    for (const char* head : heads) {
        Bytes b(head, head + std::strlen(head));
        b.resize(b.size() + 100, 0x80);
        const AudioFormat f = Recognise(b);
        EXPECT_EQ(f.kind, kRawRecording) << head;
        EXPECT_EQ(AudioFormatDamage(f), "") << head;
    }
    EXPECT_EQ(Recognise(Bytes()).kind, kRawRecording);
}

TEST(FormatTest, ChannelNames)
{
    int channel = -1;
    EXPECT_TRUE(ParseAudioChannel("left", &channel));
    EXPECT_EQ(channel, 1);
    EXPECT_TRUE(ParseAudioChannel("right", &channel));
    EXPECT_EQ(channel, 2);
    EXPECT_TRUE(ParseAudioChannel("6", &channel));
    EXPECT_EQ(channel, 6);
    for (const char* bad : {"0", "-1", "", "2x", "centre", "99999999999"})
        EXPECT_FALSE(ParseAudioChannel(bad, &channel)) << bad;
}

}  // namespace
