// Shared by the core's unit tests: a fixture that runs each test in a fresh temporary directory with
// the decoder's process-wide state reset, and a builder of sample streams from half-period lengths.
#ifndef QUORVANE_TEST_SUPPORT_H
#define QUORVANE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Samples built half-wave by half-wave, starting on the high side.
struct Signal {
    std::vector<uint8_t> samples;
    bool high = true;
    uint8_t highLevel = 200, lowLevel = 56;

    Signal& Half(int length);
    Signal& Pilot(int count, int length = 27);
    Signal& Sync(int first = 8, int second = 9);
    // Bits of the default timings: a 1 is two halves of 22 (44), a 0 two of 11 (22).
    Signal& Byte(uint8_t value);
    Signal& Bytes(const std::vector<uint8_t>& values);
    // A pair no bit class takes (60 then a time-out), which ends the block.
    Signal& EndOfBlock();
    // One whole block: pilot, sync, the bytes, the end.
    Signal& Block(const std::vector<uint8_t>& bytes);
};

// Block bytes: flag, payload, and the XOR checksum that makes the block XOR to 0.
std::vector<uint8_t> WithChecksum(uint8_t flag, const std::vector<uint8_t>& payload);
// A 19-byte header block (flag 0): type, ten name bytes, data length, two parameters, checksum.
std::vector<uint8_t> HeaderBlock(uint8_t type, const std::string& name, uint16_t dataLength);

// A TAP file of one block: 2-byte little-endian length (low 16 bits), then the block.
std::vector<uint8_t> TapFile(const std::vector<uint8_t>& block);

std::vector<uint8_t> ReadFileBytes(const std::string& name);
void WriteFileBytes(const std::string& name, const std::vector<uint8_t>& bytes);
std::string ReadFileText(const std::string& name);

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the samples to a raw file, opens it in file mode and runs the decoder thread's body on
    // this thread until the file ends; returns its exit code.
    int DecodeFile(const std::vector<uint8_t>& samples, const std::string& name = "input.pcm");
    std::vector<std::string> Messages();

    std::filesystem::path start, dir;
};

#endif
