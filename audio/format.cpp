#include "audio/format.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

// A file seen through its reader: every read is bounded by what the file holds, and a field that
// lies past the end reads as missing rather than as zeros.
struct Source {
    size_t (*readAt)(void*, int64_t, uint8_t*, size_t);
    void* context;
    int64_t size;

    bool Read(int64_t offset, uint8_t* out, size_t count) const
    {
        if (offset < 0 || offset > size || static_cast<int64_t>(count) > size - offset)
            return false;
        return readAt(context, offset, out, count) == count;
    }
};

uint32_t Le16(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }
uint64_t Le64(const uint8_t* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }
uint32_t Be16(const uint8_t* p) { return p[0] << 8 | p[1]; }
uint32_t Be32(const uint8_t* p) { return static_cast<uint32_t>(Be16(p)) << 16 | Be16(p + 2); }
uint64_t Be64(const uint8_t* p) { return static_cast<uint64_t>(Be32(p)) << 32 | Be32(p + 4); }

bool Is(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, std::strlen(tag)) == 0; }

// Writers that cannot seek back leave a 32-bit size open: 0, all ones, or (sox) just under 2 GiB.
int64_t Size32(uint32_t field)
{
    return field == 0 || field >= 0x7F000000u ? -1 : static_cast<int64_t>(field);
}

// A header walk never needs more chunks than this; more means a damaged or hostile file.
enum { kMaxChunks = 4096 };

void SetTruncation(AudioFormat& f, int64_t fileSize)
{
    f.truncated = f.dataBytes >= 0 && f.dataOffset + f.dataBytes > fileSize;
}

// The fields of a WAVE "fmt " chunk (WAV, RF64, Wave64).
bool ReadWaveFmt(const Source& s, int64_t at, int64_t size, bool bigEndian, AudioFormat& f,
                 int* blockAlign)
{
    uint8_t fmt[26] = {};
    if (size < 16 || !s.Read(at, fmt, 16))
        return false;
    auto u16 = [&](int i) { return bigEndian ? Be16(fmt + i) : Le16(fmt + i); };
    auto u32 = [&](int i) { return bigEndian ? Be32(fmt + i) : Le32(fmt + i); };
    uint32_t tag = u16(0);
    if (tag == 0xFFFE && size >= 26 && s.Read(at, fmt, 26))
        tag = u16(24);  // the first two bytes of the sub-format GUID
    f.channels = static_cast<int>(u16(2));
    f.sampleRate = static_cast<int>(u32(4) & 0x7FFFFFFF);
    *blockAlign = static_cast<int>(u16(12));
    f.bitsPerSample = static_cast<int>(u16(14));
    f.floatSamples = tag == 3;
    f.waveTag = static_cast<int>(tag);
    return true;
}

void FramesFromBlockAlign(AudioFormat& f, int blockAlign)
{
    if (blockAlign > 0 && f.dataBytes >= 0)
        f.frames = f.dataBytes / blockAlign;
}

// RIFF/RIFX WAVE and RF64/BW64: chunks with 32-bit sizes, padded to even lengths; RF64 gives the
// real data size in its ds64 chunk.
void WalkRiff(const Source& s, AudioFormat& f, bool bigEndian)
{
    int blockAlign = 0;
    bool haveFmt = false;
    int64_t ds64Data = -1;
    int64_t at = 12;
    for (int i = 0; i < kMaxChunks; ++i) {
        uint8_t head[8];
        if (!s.Read(at, head, 8))
            break;
        const uint32_t field = bigEndian ? Be32(head + 4) : Le32(head + 4);
        const int64_t body = at + 8;
        if (Is(head, "ds64")) {
            uint8_t ds[16];
            if (field < 16 || !s.Read(body, ds, 16))
                break;
            ds64Data = static_cast<int64_t>(Le64(ds + 8) & 0x7FFFFFFFFFFFFFFFull);
        } else if (Is(head, "fmt ")) {
            haveFmt = ReadWaveFmt(s, body, field, bigEndian, f, &blockAlign);
            if (!haveFmt)
                break;
        } else if (Is(head, "data")) {
            if (!haveFmt)
                break;
            f.dataOffset = body;
            f.dataBytes = f.kind == kRf64 && field == 0xFFFFFFFFu ? ds64Data : Size32(field);
            FramesFromBlockAlign(f, blockAlign);
            SetTruncation(f, s.size);
            return;
        }
        at = body + field + (field & 1);
    }
    f.headerCut = true;
}

const uint8_t kW64Suffix[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
const uint8_t kW64Riff[16] = {0x72, 0x69, 0x66, 0x66, 0x2E, 0x91, 0xCF, 0x11,
                              0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};

bool IsW64Chunk(const uint8_t* guid, const char* tag)
{
    return Is(guid, tag) && std::memcmp(guid + 4, kW64Suffix, 12) == 0;
}

// Wave64: GUID-named chunks whose 64-bit sizes include their 24-byte header, aligned to 8 bytes.
void WalkW64(const Source& s, AudioFormat& f)
{
    int blockAlign = 0;
    bool haveFmt = false;
    int64_t at = 40;
    for (int i = 0; i < kMaxChunks; ++i) {
        uint8_t head[24];
        if (!s.Read(at, head, 24))
            break;
        const uint64_t size = Le64(head + 16);
        if (size < 24 || size > static_cast<uint64_t>(INT64_MAX / 2))
            break;
        const int64_t body = at + 24;
        const int64_t bodySize = static_cast<int64_t>(size) - 24;
        if (IsW64Chunk(head, "fmt ")) {
            haveFmt = ReadWaveFmt(s, body, bodySize, false, f, &blockAlign);
            if (!haveFmt)
                break;
        } else if (IsW64Chunk(head, "data")) {
            if (!haveFmt)
                break;
            f.dataOffset = body;
            f.dataBytes = bodySize;
            FramesFromBlockAlign(f, blockAlign);
            SetTruncation(f, s.size);
            return;
        }
        at += (static_cast<int64_t>(size) + 7) & ~int64_t{7};
    }
    f.headerCut = true;
}

// The 80-bit extended float of AIFF's sample rate, as a whole number.
int ExtendedToInt(const uint8_t* p)
{
    const int exponent = ((p[0] & 0x7F) << 8 | p[1]) - 16383;
    if (p[0] & 0x80 || exponent < 0 || exponent > 30)
        return 0;
    return static_cast<int>(Be64(p + 2) >> (63 - exponent));
}

void WalkAiff(const Source& s, AudioFormat& f, bool aifc)
{
    bool haveComm = false;
    int64_t at = 12;
    for (int i = 0; i < kMaxChunks; ++i) {
        uint8_t head[8];
        if (!s.Read(at, head, 8))
            break;
        const uint32_t field = Be32(head + 4);
        const int64_t body = at + 8;
        if (Is(head, "COMM")) {
            uint8_t comm[22];
            if (field < 18 || !s.Read(body, comm, 18))
                break;
            f.channels = static_cast<int>(Be16(comm));
            f.frames = Be32(comm + 2) >= 0x7F000000u ? -1 : static_cast<int64_t>(Be32(comm + 2));
            f.bitsPerSample = static_cast<int>(Be16(comm + 6));
            f.sampleRate = ExtendedToInt(comm + 8);
            if (aifc && field >= 22 && s.Read(body, comm, 22))
                f.floatSamples = Is(comm + 18, "fl32") || Is(comm + 18, "FL32") ||
                                 Is(comm + 18, "fl64") || Is(comm + 18, "FL64");
            haveComm = true;
        } else if (Is(head, "SSND")) {
            uint8_t ssnd[8];
            if (!haveComm || field < 8 || !s.Read(body, ssnd, 8))
                break;
            const uint32_t offset = Be32(ssnd);
            f.dataOffset = body + 8 + offset;
            const int64_t size = Size32(field);
            f.dataBytes = size < 0 || size < 8 + static_cast<int64_t>(offset) ? -1 : size - 8 - offset;
            SetTruncation(f, s.size);
            return;
        }
        at = body + field + (field & 1);
    }
    f.headerCut = true;
}

void ReadAu(const Source& s, AudioFormat& f, bool bigEndian)
{
    uint8_t h[24];
    if (!s.Read(0, h, 24)) {
        f.headerCut = true;
        return;
    }
    auto u32 = [&](int i) { return bigEndian ? Be32(h + i) : Le32(h + i); };
    f.dataOffset = u32(4);
    f.dataBytes = u32(8) == 0xFFFFFFFFu ? -1 : static_cast<int64_t>(u32(8));
    const uint32_t encoding = u32(12);
    f.sampleRate = static_cast<int>(u32(16) & 0x7FFFFFFF);
    f.channels = static_cast<int>(u32(20) & 0x7FFFFFFF);
    static const int kBits[8] = {0, 8, 8, 16, 24, 32, 32, 64};
    f.bitsPerSample = encoding < 8 ? kBits[encoding] : encoding == 27 ? 8 : 0;
    f.floatSamples = encoding == 6 || encoding == 7;
    const int64_t bytesPerFrame = int64_t{f.bitsPerSample / 8} * f.channels;
    if (bytesPerFrame > 0 && f.dataBytes >= 0)
        f.frames = f.dataBytes / bytesPerFrame;
    f.headerCut = f.dataOffset < 24 || f.dataOffset > s.size;
    if (!f.headerCut)
        SetTruncation(f, s.size);
}

void WalkCaf(const Source& s, AudioFormat& f)
{
    int bytesPerPacket = 0;
    bool haveDesc = false;
    int64_t at = 8;
    for (int i = 0; i < kMaxChunks; ++i) {
        uint8_t head[12];
        if (!s.Read(at, head, 12))
            break;
        const int64_t size = static_cast<int64_t>(Be64(head + 4));
        const int64_t body = at + 12;
        if (Is(head, "desc")) {
            uint8_t d[32];
            if (size < 32 || !s.Read(body, d, 32))
                break;
            uint64_t bits = Be64(d);
            double rate;
            std::memcpy(&rate, &bits, sizeof rate);
            f.sampleRate = rate > 0 && rate < 1e9 ? static_cast<int>(rate + 0.5) : 0;
            const bool pcm = Is(d + 8, "lpcm");
            f.floatSamples = pcm && (Be32(d + 12) & 1);
            bytesPerPacket = pcm ? static_cast<int>(Be32(d + 16) & 0xFFFF) : 0;
            f.channels = static_cast<int>(Be32(d + 24) & 0xFFFF);
            f.bitsPerSample = static_cast<int>(Be32(d + 28) & 0xFF);
            haveDesc = true;
        } else if (Is(head, "data")) {
            if (!haveDesc || (size >= 0 && size < 4))
                break;
            f.dataOffset = body + 4;  // after the edit count
            f.dataBytes = size < 0 ? -1 : size - 4;
            if (bytesPerPacket > 0 && f.dataBytes >= 0)
                f.frames = f.dataBytes / bytesPerPacket;
            SetTruncation(f, s.size);
            return;
        }
        if (size < 0 || size > INT64_MAX / 2)
            break;
        at = body + size;
    }
    f.headerCut = true;
}

// STREAMINFO, the first metadata block of a FLAC stream, at `at` (just after "fLaC").
void ReadFlacInfo(const Source& s, int64_t at, AudioFormat& f)
{
    uint8_t b[38];
    if (!s.Read(at, b, 38) || (b[0] & 0x7F) != 0) {
        f.headerCut = !s.Read(at, b, 38);
        return;
    }
    const uint8_t* info = b + 4;
    f.sampleRate = static_cast<int>(info[10] << 12 | info[11] << 4 | info[12] >> 4);
    f.channels = ((info[12] >> 1) & 7) + 1;
    f.bitsPerSample = ((info[12] & 1) << 4 | info[13] >> 4) + 1;
    const int64_t total = static_cast<int64_t>(info[13] & 0x0F) << 32 | Be32(info + 14);
    f.frames = total ? total : -1;
}

// An Ogg page's header at `at`: its flags and where the page ends; false when it is not whole.
bool OggPage(const Source& s, int64_t at, uint8_t* flags, int64_t* end)
{
    uint8_t h[27];
    uint8_t segments[255];
    if (!s.Read(at, h, 27) || !Is(h, "OggS") || !s.Read(at + 27, segments, h[26]))
        return false;
    int64_t body = 0;
    for (int i = 0; i < h[26]; ++i)
        body += segments[i];
    *flags = h[5];
    *end = at + 27 + h[26] + body;
    return true;
}

void ReadOgg(const Source& s, AudioFormat& f)
{
    uint8_t flags;
    int64_t end;
    uint8_t h[27];
    if (!OggPage(s, 0, &flags, &end) || end > s.size || !s.Read(0, h, 27)) {
        f.headerCut = true;
        return;
    }
    uint8_t id[20];
    const int64_t packet = 27 + h[26];
    if (s.Read(packet, id, 20)) {
        if (Is(id, "\x01vorbis")) {
            f.channels = id[11];
            f.sampleRate = static_cast<int>(Le32(id + 12) & 0x7FFFFFFF);
            f.floatSamples = true;
        } else if (Is(id, "OpusHead")) {
            f.channels = id[9];
            f.sampleRate = 48000;  // Opus always decodes at 48 kHz
            f.floatSamples = true;
        } else if (Is(id, "\x7F" "FLAC")) {
            ReadFlacInfo(s, packet + 13, f);
            f.headerCut = false;
        }
    }
    // A whole stream ends on a page that fills the file to its end and is flagged as the last.
    // Looking back from the end for the last page's capture pattern finds where the file was cut.
    const int64_t tailStart = s.size > 65536 + 282 ? s.size - (65536 + 282) : 0;
    std::vector<uint8_t> tail(static_cast<size_t>(s.size - tailStart));
    if (!s.Read(tailStart, tail.data(), tail.size()))
        return;
    int64_t last = -1;
    for (size_t i = tail.size(); i >= 4 && last < 0; --i)
        if (Is(&tail[i - 4], "OggS"))
            last = tailStart + static_cast<int64_t>(i - 4);
    f.truncated = last < 0 || !OggPage(s, last, &flags, &end) || end != s.size || !(flags & 4);
}

// An MPEG audio frame header at `p`: its length in bytes, channels and rate; 0 when it is none.
int MpegFrame(const uint8_t* p, int* channels, int* rate)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return 0;
    const int version = (p[1] >> 3) & 3;  // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
    const int layer = 4 - ((p[1] >> 1) & 3);
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    static const int kRates[3] = {44100, 48000, 32000};
    static const int kKbps[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    const bool mpeg1 = version == 3;
    *rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int bitrate = kKbps[mpeg1 ? 0 : 1][layer - 1][bitrateIndex] * 1000;
    const int padding = (p[2] >> 1) & 1;
    *channels = (p[3] >> 6) == 3 ? 1 : 2;
    if (layer == 1)
        return (12 * bitrate / *rate + padding) * 4;
    return (layer == 3 && !mpeg1 ? 72 : 144) * bitrate / *rate + padding;
}

// Two frame headers in a row: one alone is too easily a loud raw recording's first bytes.
bool ReadMpeg(const Source& s, int64_t at, AudioFormat& f)
{
    uint8_t a[4], b[4];
    int channels = 0, rate = 0, channels2 = 0, rate2 = 0;
    if (!s.Read(at, a, 4))
        return false;
    const int length = MpegFrame(a, &channels, &rate);
    if (length < 4 || !s.Read(at + length, b, 4) || !MpegFrame(b, &channels2, &rate2) || rate2 != rate)
        return false;
    f.channels = channels;
    f.sampleRate = rate;
    f.floatSamples = true;
    return true;
}

bool IsIrcam(const uint8_t* p)
{
    return (p[0] == 0x64 && p[1] == 0xA3 && p[2] >= 1 && p[2] <= 4 && p[3] == 0) ||
           (p[0] == 0 && p[1] >= 1 && p[1] <= 4 && p[2] == 0xA3 && p[3] == 0x64);
}

}  // namespace

AudioFormat RecogniseAudio(size_t (*readAt)(void*, int64_t, uint8_t*, size_t), void* context,
                           int64_t fileSize)
{
    const Source s{readAt, context, fileSize};
    AudioFormat f;
    f.fileSize = fileSize;
    uint8_t h[64] = {};
    const size_t got = static_cast<size_t>(fileSize < 64 ? fileSize : 64);
    if (!s.Read(0, h, got))
        return f;
    auto has = [&](size_t at, const char* tag) {
        return at + std::strlen(tag) <= got && Is(h + at, tag);
    };

    if ((has(0, "RIFF") || has(0, "RIFX")) && has(8, "WAVE")) {
        f.kind = kWav;
        WalkRiff(s, f, has(0, "RIFX"));
    } else if ((has(0, "RF64") || has(0, "BW64")) && has(8, "WAVE")) {
        f.kind = kRf64;
        WalkRiff(s, f, false);
    } else if (got >= 40 && std::memcmp(h, kW64Riff, 16) == 0 && IsW64Chunk(h + 24, "wave")) {
        f.kind = kWave64;
        WalkW64(s, f);
    } else if (has(0, "FORM") && (has(8, "AIFF") || has(8, "AIFC"))) {
        f.kind = kAiff;
        WalkAiff(s, f, has(8, "AIFC"));
    } else if (has(0, "FORM") && (has(8, "8SVX") || has(8, "16SV"))) {
        f.kind = kSvx;
    } else if (has(0, ".snd") || has(0, "dns.")) {
        f.kind = kAu;
        ReadAu(s, f, has(0, ".snd"));
    } else if (has(0, "caff")) {
        f.kind = kCaf;
        WalkCaf(s, f);
    } else if (has(0, "fLaC")) {
        f.kind = kFlac;
        ReadFlacInfo(s, 4, f);
    } else if (has(0, "OggS")) {
        f.kind = kOgg;
        ReadOgg(s, f);
    } else if (has(0, "ID3") && got >= 10 && h[3] >= 2 && h[3] <= 4 &&
               ((h[6] | h[7] | h[8] | h[9]) & 0x80) == 0) {
        // An ID3v2 tag before the audio: FLAC or MPEG follows it.
        const int64_t tag = 10 + (h[6] << 21 | h[7] << 14 | h[8] << 7 | h[9]) + (h[5] & 0x10 ? 10 : 0);
        uint8_t next[4] = {};
        if (s.Read(tag, next, 4) && Is(next, "fLaC")) {
            f.kind = kFlac;
            ReadFlacInfo(s, tag + 4, f);
        } else {
            f.kind = kMpeg;
            if (!ReadMpeg(s, tag, f))
                f.headerCut = !s.Read(tag, next, 4);
        }
    } else if (ReadMpeg(s, 0, f)) {
        f.kind = kMpeg;
    } else if (has(0, "Creative Voice File\x1A")) {
        f.kind = kVoc;
    } else if (got >= 4 && IsIrcam(h)) {
        f.kind = kIrcam;
    } else if (has(0, "NIST_1A\n")) {
        f.kind = kNist;
    } else if (has(0, " paf") || has(0, "fap ")) {
        f.kind = kPaf;
    } else if (has(0, "MATLAB 5.0 MAT-file")) {
        f.kind = kMat5;
    } else if (has(0, "PVF1\n")) {
        f.kind = kPvf;
    } else if (has(0, "Extended Instrument: ")) {
        f.kind = kXi;
    } else if (got >= 21 && h[0] == 0xF0 && h[1] == 0x7E && h[3] == 0x01 && h[20] == 0xF7) {
        f.kind = kSds;
    } else if (has(0, "2BIT")) {
        f.kind = kAvr;
    } else if (has(0, "ALawSoundFile**")) {
        f.kind = kWve;
    }
    return f;
}

namespace {

struct Bytes {
    const uint8_t* data;
    size_t size;
};

size_t ReadBytes(void* context, int64_t offset, uint8_t* out, size_t count)
{
    const Bytes& b = *static_cast<const Bytes*>(context);
    if (offset < 0 || static_cast<uint64_t>(offset) >= b.size)
        return 0;
    const size_t n = count < b.size - static_cast<size_t>(offset) ? count : b.size - static_cast<size_t>(offset);
    std::memcpy(out, b.data + offset, n);
    return n;
}

size_t ReadFile(void* context, int64_t offset, uint8_t* out, size_t count)
{
    std::ifstream& file = *static_cast<std::ifstream*>(context);
    file.clear();
    if (!file.seekg(offset))
        return 0;
    file.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    return static_cast<size_t>(file.gcount());
}

}  // namespace

AudioFormat RecogniseAudioBytes(const uint8_t* bytes, size_t size)
{
    Bytes b{bytes, size};
    return RecogniseAudio(ReadBytes, &b, static_cast<int64_t>(size));
}

bool RecogniseAudioFile(const char* path, AudioFormat* format)
{
    errno = 0;
    std::ifstream file(path, std::ios::in | std::ios::binary);
    if (!file.is_open())
        return false;
    const int64_t size = static_cast<int64_t>(file.seekg(0, std::ios::end).tellg());
    if (size < 0) {
        errno = errno ? errno : EIO;
        return false;
    }
    *format = RecogniseAudio(ReadFile, &file, size);
    return true;
}

bool ParseAudioChannel(const char* text, int* channel)
{
    if (std::strcmp(text, "left") == 0) {
        *channel = 1;
        return true;
    }
    if (std::strcmp(text, "right") == 0) {
        *channel = 2;
        return true;
    }
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end || errno || n < 1 || n > 65535)
        return false;
    *channel = static_cast<int>(n);
    return true;
}

const char* AudioKindName(AudioKind kind)
{
    switch (kind) {
    case kRawRecording: return "raw recording";
    case kWav: return "WAV";
    case kRf64: return "RF64";
    case kWave64: return "Wave64";
    case kAiff: return "AIFF";
    case kAu: return "AU";
    case kCaf: return "CAF";
    case kFlac: return "FLAC";
    case kOgg: return "Ogg";
    case kMpeg: return "MPEG audio";
    case kVoc: return "VOC";
    case kIrcam: return "IRCAM";
    case kNist: return "NIST Sphere";
    case kPaf: return "PARIS";
    case kSvx: return "IFF 8SVX";
    case kMat5: return "Matlab 5";
    case kPvf: return "PVF";
    case kXi: return "FastTracker 2 XI";
    case kSds: return "MIDI sample dump";
    case kAvr: return "AVR";
    case kWve: return "Psion WVE";
    }
    return "audio";
}

std::string DescribeAudioFormat(const AudioFormat& f)
{
    std::string text = AudioKindName(f.kind);
    char part[64];
    if (f.bitsPerSample > 0 && !(f.kind == kOgg || f.kind == kMpeg)) {
        std::snprintf(part, sizeof part, ", %i-bit %s", f.bitsPerSample, f.floatSamples ? "float" : "integer");
        text += part;
    }
    if (f.channels > 0) {
        std::snprintf(part, sizeof part, ", %i channel%s", f.channels, f.channels == 1 ? "" : "s");
        text += part;
    }
    if (f.sampleRate > 0) {
        std::snprintf(part, sizeof part, ", %i samples/s", f.sampleRate);
        text += part;
        if (f.frames >= 0) {
            std::snprintf(part, sizeof part, ", %.2f s", static_cast<double>(f.frames) / f.sampleRate);
            text += part;
        }
    }
    return text;
}

std::string AudioFormatDamage(const AudioFormat& f)
{
    if (f.headerCut)
        return "it is cut inside its header, or its header is damaged (no audio data found)";
    if (!f.truncated)
        return "";
    if (f.kind == kOgg)
        return "it is truncated: the stream stops without its last page";
    char text[160];
    std::snprintf(text, sizeof text,
                  "it is truncated: its header announces %" PRId64 " bytes of audio data, the file holds %" PRId64,
                  f.dataBytes, f.fileSize > f.dataOffset ? f.fileSize - f.dataOffset : 0);
    return text;
}
