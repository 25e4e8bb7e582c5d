#include "tests/faults/fault_support.h"

#include <sys/mount.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "decoder/catalogue.h"
#include "decoder/tapfile.h"

namespace fs = std::filesystem;

Recording MakeRecording(const std::vector<Bytes>& blocks)
{
    Recording recording;
    for (const Bytes& block : blocks) {
        recording.signal.Pilot(400).Sync().Bytes(block);
        const size_t dataEnd = recording.signal.samples.size();
        recording.signal.EndOfBlock();
        if (block.empty())
            continue;
        recording.blocks.push_back(block);
        recording.dataEnds.push_back(dataEnd);
        recording.blockEnds.push_back(recording.signal.samples.size());
    }
    return recording;
}

size_t BlocksSurelyDone(const Recording& recording, size_t length)
{
    size_t done = 0;
    while (done < recording.blockEnds.size() && recording.blockEnds[done] <= length)
        ++done;
    return done;
}

size_t BlocksPossiblyDone(const Recording& recording, size_t length)
{
    size_t done = 0;
    while (done < recording.dataEnds.size() && recording.dataEnds[done] < length)
        ++done;
    return done;
}

Bytes TaggedBlock(uint16_t tag, size_t payloadLength, std::mt19937& random)
{
    Bytes payload{static_cast<uint8_t>(tag & 0xFF), static_cast<uint8_t>(tag >> 8)};
    for (size_t i = 0; i < payloadLength; ++i)
        payload.push_back(static_cast<uint8_t>(random() % 0xFF));
    Bytes block = WithChecksum(0xFF, payload);
    // The checksum byte itself may come out as 0xFF; an extra byte keeps the block free of it at
    // the cost of a checksum error, which the decoder reports and keeps all the same.
    if (block.back() == 0xFF)
        block.back() = 0xFE;
    return block;
}

bool IsUnfinished(const Bytes& file)
{
    return file.size() >= 2 && file[0] == 0x20 && file[1] == 0x20;
}

std::string TapName(int64_t number)
{
    char name[32];
    TapeFileName(name, sizeof name, static_cast<int32_t>(number));
    return name;
}

std::map<int64_t, Bytes> TapFiles()
{
    std::map<int64_t, Bytes> files;
    std::error_code error;
    for (fs::directory_iterator it(".", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const int64_t number = TapeFileNumber(name.c_str());
        if (number >= 0 && it->is_regular_file())
            files[number] = ReadFileBytes(name);
    }
    return files;
}

int Repeats(int native)
{
    double scale = 1;
    if (const char* text = std::getenv("QV_FAULT_SCALE"))
        scale = std::atof(text);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    scale /= 3;
#endif
    const int count = static_cast<int>(native * scale);
    return count < 1 ? 1 : count;
}

uint32_t FaultSeed()
{
    if (const char* text = std::getenv("QV_FAULT_SEED"))
        return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
    return std::random_device()();
}

Mounts::~Mounts()
{
    UnmountAll();
}

bool Mounts::Tmpfs(const std::string& path, const std::string& options)
{
    std::error_code ignored;
    fs::create_directories(path, ignored);
    if (mount("quorvane-test", path.c_str(), "tmpfs", 0, options.c_str()) != 0)
        return false;
    mounted.push_back(path);
    return true;
}

bool Mounts::RemountReadOnly(const std::string& path)
{
    return mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool Mounts::BindReadOnly(const std::string& source, const std::string& target)
{
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return false;
    mounted.push_back(target);
    // A bind takes the read-only flag only on a second pass.
    return mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

void Mounts::UnmountAll()
{
    for (auto it = mounted.rbegin(); it != mounted.rend(); ++it)
        umount2(it->c_str(), MNT_DETACH);
    mounted.clear();
}
