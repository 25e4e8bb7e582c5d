#include "tape/csw.h"

#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

const size_t kBuffer = 1 << 16;
const int kCountAt = 0x1D;  // the header's pulse count
const int kFlagsAt = 0x22;  // its flags: bit 0 the initial level
const double kLongest = 4294967295.0;

}  // namespace

struct CswWriter {
    std::FILE* file = nullptr;
    z_stream z;
    uint8_t in[kBuffer];
    size_t inUsed = 0;
    uint8_t out[kBuffer];
    double carry = 0;        // what rounding to whole samples left over, -0.5 to 0.5
    uint64_t held = 0;       // the last pulse, kept until the next shows whether it joins it
    bool holding = false;
    bool joinNext = false;   // a pulse of no length came after the held one
    bool started = false;    // a half-wave has named the initial level
    bool high = false;
    uint64_t pulses = 0;
    std::string failure;     // the first failure, empty while all is well
};

namespace {

void Fail(CswWriter* w, const char* what, int cause)
{
    if (w->failure.empty())
        w->failure = cause ? std::strerror(cause) : what;
}

void Put(CswWriter* w, const void* data, size_t size)
{
    if (!w->failure.empty())
        return;
    errno = 0;
    if (std::fwrite(data, 1, size, w->file) != size)
        Fail(w, "write failed", errno ? errno : EIO);
}

// Compresses what `in` holds; with Z_FINISH, ends the stream.
void Deflate(CswWriter* w, int flush)
{
    w->z.next_in = w->in;
    w->z.avail_in = static_cast<uInt>(w->inUsed);
    int result;
    do {
        w->z.next_out = w->out;
        w->z.avail_out = kBuffer;
        result = deflate(&w->z, flush);
        if (result == Z_STREAM_ERROR) {
            Fail(w, "compression failed", 0);
            break;
        }
        Put(w, w->out, kBuffer - w->z.avail_out);
    } while (w->z.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    w->inUsed = 0;
}

void Emit(CswWriter* w, uint64_t samples)
{
    if (w->inUsed + 5 > kBuffer)
        Deflate(w, Z_NO_FLUSH);
    if (samples <= 255) {
        w->in[w->inUsed++] = static_cast<uint8_t>(samples);
    } else {
        const uint32_t n = samples > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(samples);
        const uint8_t bytes[5] = {0, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                                  static_cast<uint8_t>(n >> 24)};
        std::memcpy(w->in + w->inUsed, bytes, 5);
        w->inUsed += 5;
    }
    ++w->pulses;
}

void PutDword(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

CswWriter* CswOpen(const std::string& path, double rate, bool high, std::string* error)
{
    CswWriter* w = new CswWriter;
    w->high = high;
    std::memset(&w->z, 0, sizeof w->z);
    // Any deflate level reads back the same. The best (9) costs 7 s of processor time for an hour of
    // half-waves, more than the whole rescue run, for a file a fifth smaller; the default costs 0.6 s.
    if (deflateInit(&w->z, Z_DEFAULT_COMPRESSION) != Z_OK) {
        *error = "the compressor did not start";
        delete w;
        return nullptr;
    }
    w->file = std::fopen(path.c_str(), "wb");
    if (!w->file) {
        *error = std::strerror(errno);
        deflateEnd(&w->z);
        delete w;
        return nullptr;
    }
    uint8_t header[0x34] = {};
    std::memcpy(header, "Compressed Square Wave\x1A", 23);
    header[0x17] = 2;
    header[0x18] = 0;
    PutDword(header + 0x19, static_cast<uint32_t>(std::lround(rate > 0 && rate < kLongest ? rate : 44100)));
    header[0x21] = 2;  // Z-RLE
    header[kFlagsAt] = high ? 1 : 0;
    std::memcpy(header + 0x24, "Quorvane", 8);
    Put(w, header, sizeof header);
    return w;
}

void CswAddPulse(CswWriter* w, double samples)
{
    if (!w->failure.empty())
        return;
    if (!(samples > 0))
        samples = 0;
    else if (samples > kLongest)
        samples = kLongest;
    const double exact = samples + w->carry;
    const double whole = std::floor(exact + 0.5);
    w->carry = exact - whole;
    const uint64_t n = static_cast<uint64_t>(whole);
    // A pulse of no length: the edges on either side of it fall in one sample and cancel, so the
    // pulses around it are one. Before any pulse, it only turns the initial level over.
    if (n == 0) {
        if (w->holding)
            w->joinNext = !w->joinNext;
        else
            w->high = !w->high;
        return;
    }
    if (w->joinNext) {
        w->held += n;
        w->joinNext = false;
        return;
    }
    if (w->holding)
        Emit(w, w->held);
    w->held = n;
    w->holding = true;
}

void CswAddHalfWave(CswWriter* w, double samples, int side)
{
    if (!w->started) {
        w->started = true;
        w->high = side > 0;
    }
    CswAddPulse(w, samples);
}

uint64_t CswPulses(const CswWriter* w)
{
    return w->pulses;
}

bool CswClose(CswWriter* w, std::string* error)
{
    if (w->holding)
        Emit(w, w->held);
    Deflate(w, Z_FINISH);
    deflateEnd(&w->z);
    uint8_t count[4];
    PutDword(count, w->pulses > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(w->pulses));
    const uint8_t flags = w->high ? 1 : 0;
    if (w->failure.empty() && std::fseek(w->file, kCountAt, SEEK_SET) != 0)
        Fail(w, "seek failed", errno);
    Put(w, count, sizeof count);
    if (w->failure.empty() && std::fseek(w->file, kFlagsAt, SEEK_SET) != 0)
        Fail(w, "seek failed", errno);
    Put(w, &flags, 1);
    if (std::fclose(w->file) != 0)
        Fail(w, "write failed", errno);
    const bool written = w->failure.empty();
    if (!written)
        *error = w->failure;
    delete w;
    return written;
}
