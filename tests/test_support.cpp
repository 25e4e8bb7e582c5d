#include "tests/test_support.h"

#include <fstream>
#include <iterator>
#include <random>

#include "capture/capture.h"
#include "decoder/run.h"
#include "decoder/timing.h"
#include "tests/fake_ui.h"

Signal& Signal::Half(int length)
{
    samples.insert(samples.end(), length, high ? highLevel : lowLevel);
    high = !high;
    return *this;
}

Signal& Signal::Pilot(int count, int length)
{
    for (int i = 0; i < count; ++i)
        Half(length);
    return *this;
}

Signal& Signal::Sync(int first, int second)
{
    return Half(first).Half(second);
}

Signal& Signal::Byte(uint8_t value)
{
    for (int bit = 7; bit >= 0; --bit) {
        const int half = (value >> bit & 1) ? 22 : 11;
        Half(half).Half(half);
    }
    return *this;
}

Signal& Signal::Bytes(const std::vector<uint8_t>& values)
{
    for (uint8_t value : values)
        Byte(value);
    return *this;
}

Signal& Signal::EndOfBlock()
{
    return Half(60).Half(300);
}

Signal& Signal::Block(const std::vector<uint8_t>& bytes)
{
    return Pilot(400).Sync().Bytes(bytes).EndOfBlock();
}

std::vector<uint8_t> WithChecksum(uint8_t flag, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> block;
    block.reserve(payload.size() + 2);
    block.push_back(flag);
    for (uint8_t b : payload)
        block.push_back(b);
    uint8_t sum = 0;
    for (uint8_t b : block)
        sum ^= b;
    block.push_back(sum);
    return block;
}

std::vector<uint8_t> HeaderBlock(uint8_t type, const std::string& name, uint16_t dataLength)
{
    std::vector<uint8_t> payload{type};
    for (size_t i = 0; i < 10; ++i)
        payload.push_back(i < name.size() ? static_cast<uint8_t>(name[i]) : ' ');
    payload.push_back(dataLength & 0xFF);
    payload.push_back(dataLength >> 8);
    payload.insert(payload.end(), {0x0A, 0x00, 0x00, 0x80});
    return WithChecksum(0x00, payload);
}

std::vector<uint8_t> TapFile(const std::vector<uint8_t>& block)
{
    std::vector<uint8_t> file;
    file.reserve(block.size() + 2);
    file.push_back(static_cast<uint8_t>(block.size() & 0xFF));
    file.push_back(static_cast<uint8_t>(block.size() >> 8 & 0xFF));
    for (uint8_t b : block)
        file.push_back(b);
    return file;
}

std::vector<uint8_t> ReadFileBytes(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileText(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void CoreTest::SetUp()
{
    start = std::filesystem::current_path();
    // A directory of its own under the system's temporary folder (mkdtemp is POSIX only; the audio
    // tests run in the Windows builds too).
    std::random_device seed;
    std::mt19937 pick(seed());
    for (int tries = 0; dir.empty() && tries < 100; ++tries) {
        const auto candidate = std::filesystem::temp_directory_path() / ("quorvane-test-" + std::to_string(pick()));
        std::error_code failed;
        if (std::filesystem::create_directory(candidate, failed))
            dir = candidate;
    }
    ASSERT_FALSE(dir.empty()) << "no directory could be made in " << std::filesystem::temp_directory_path();
    std::filesystem::current_path(dir);
    FakeUiClear();
    FakeUiSetClock(9, 5, 7);
    ResetDecoder();
    CaptureState = 1;
    TimingSettings = DefaultTiming();
}

void CoreTest::TearDown()
{
    ResetDecoder();
    std::filesystem::current_path(start);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

int CoreTest::DecodeFile(const std::vector<uint8_t>& samples, const std::string& name)
{
    WriteFileBytes(name, samples);
    EXPECT_TRUE(BeginRun(name.c_str()));
    const int exitCode = RunDecoderHere();
    EndRun();
    return exitCode;
}

std::vector<std::string> CoreTest::Messages()
{
    return FakeUiStatusMessages();
}
