#include "capture/keeper.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "report/status.h"

namespace {

std::FILE* file;
std::string fileName;
std::vector<uint8_t> piece;
// Samples that have reached the file (the header says as many after each patch).
int64_t written;

void Put32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void Put16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

// A WAV's lengths are 32-bit: past 4 GiB (27 hours) the header keeps saying the largest even
// length, and the samples after it are still there for a reader that goes on to the file's end.
uint32_t HeaderLength(int64_t samples)
{
    return samples > 0xFFFFFFF0 ? 0xFFFFFFF0u : static_cast<uint32_t>(samples);
}

// Stops keeping after a failure: one line, and the lengths patched to what is surely on the disk,
// where the disk still takes that.
void GiveUp(int error)
{
    LogStatusF("Recording no longer kept: writing %s failed (%s); the blocks are decoded as before",
               fileName.c_str(), std::strerror(error ? error : EIO));
    uint8_t header[kKeepHeaderBytes];
    KeepHeader(header, HeaderLength(written));
    std::clearerr(file);
    if (std::fseek(file, 0, SEEK_SET) == 0)
        std::fwrite(header, 1, sizeof header, file);
    std::fclose(file);
    file = nullptr;
    piece.clear();
}

// Writes the held samples and then the header that counts them; false after GiveUp. The samples
// are flushed before the header, so the header never counts more than the file holds.
bool WritePiece(bool last)
{
    errno = 0;
    if (!piece.empty() && (std::fwrite(piece.data(), 1, piece.size(), file) != piece.size() || std::fflush(file) != 0)) {
        GiveUp(errno);
        return false;
    }
    written += static_cast<int64_t>(piece.size());
    piece.clear();
    // A RIFF chunk of odd length is followed by a pad byte, outside the data.
    const bool pad = last && (written & 1);
    uint8_t header[kKeepHeaderBytes];
    KeepHeader(header, HeaderLength(written));
    if (pad) {
        const uint8_t silence = 0x80;
        Put32(header + 4, HeaderLength(written) + 37);
        if (std::fwrite(&silence, 1, 1, file) != 1 || std::fflush(file) != 0) {
            GiveUp(errno);
            return false;
        }
    }
    if (std::fseek(file, 0, SEEK_SET) != 0 || std::fwrite(header, 1, sizeof header, file) != sizeof header ||
        std::fflush(file) != 0 || std::fseek(file, 0, SEEK_END) != 0) {
        GiveUp(errno);
        return false;
    }
    return true;
}

}  // namespace

void KeepHeader(uint8_t out[kKeepHeaderBytes], uint32_t samples)
{
    std::memcpy(out, "RIFF", 4);
    Put32(out + 4, 36 + samples);
    std::memcpy(out + 8, "WAVEfmt ", 8);
    Put32(out + 16, 16);
    Put16(out + 20, 1);  // PCM
    Put16(out + 22, 1);  // mono
    Put32(out + 24, 44100);
    Put32(out + 28, 44100);  // bytes a second
    Put16(out + 32, 1);      // bytes a frame
    Put16(out + 34, 8);      // bits a sample
    std::memcpy(out + 36, "data", 4);
    Put32(out + 40, samples);
}

bool StartKeeping(const char* name)
{
    StopKeeping();
    written = 0;
    fileName = name;
    errno = 0;
    file = std::fopen(name, "wb");
    if (!file) {
        LogStatusF("Recording not kept: cannot create %s (%s)", name, std::strerror(errno ? errno : EIO));
        return false;
    }
    piece.reserve(kKeepPieceBytes);
    if (!WritePiece(false))
        return false;
    LogStatusF("Recording kept in %s", name);
    return true;
}

void KeepSample(uint8_t sample)
{
    if (!file)
        return;
    piece.push_back(sample);
    if (piece.size() >= kKeepPieceBytes)
        WritePiece(false);
}

void StopKeeping()
{
    if (!file)
        return;
    if (WritePiece(true)) {
        std::fclose(file);
        file = nullptr;
    }
}

bool Keeping()
{
    return file != nullptr;
}

int64_t KeptSamples()
{
    return written + static_cast<int64_t>(piece.size());
}
