#include "bench/bench_tape.h"

#include <cstdio>
#include <random>
#include <vector>

#include "tools/tapgen.h"

namespace {

TapgenBytes WithChecksum(TapgenBytes block)
{
    uint8_t check = 0;
    for (uint8_t byte : block)
        check ^= byte;
    block.push_back(check);
    return block;
}

TapgenBytes Header(uint8_t type, const char* name, uint16_t length)
{
    TapgenBytes block = {0x00, type};
    for (int i = 0; i < 10; i++)
        block.push_back(*name ? static_cast<uint8_t>(*name++) : ' ');
    block.insert(block.end(), {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                               0x00, 0x80, 0x00, 0x80});
    return WithChecksum(block);
}

TapgenBytes Data(std::mt19937& random, size_t size)
{
    TapgenBytes block = {0xFF};
    for (size_t i = 0; i < size; i++)
        block.push_back(static_cast<uint8_t>(random()));
    return WithChecksum(block);
}

}  // namespace

bool WriteBenchTape(const std::string& name, double minutes, BenchTape& tape)
{
    std::mt19937 random(1982);
    const std::vector<TapgenBytes> cycle = {
        Header(0, "loader", 1200), Data(random, 1200),
        Header(3, "screen", 6912), Data(random, 6912),
        Header(3, "game", 40000),  Data(random, 40000),
    };
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (!file)
        return false;
    const int64_t wanted = static_cast<int64_t>(minutes * 60 * kTapgenRate);
    TapgenBytes signal;
    TapgenSilence(signal);
    tape = BenchTape();
    bool ok = true;
    for (size_t next = 0; ok; next = (next + 1) % cycle.size()) {
        ok = std::fwrite(signal.data(), 1, signal.size(), file) == signal.size();
        tape.samples += static_cast<int64_t>(signal.size());
        signal.clear();
        if (tape.samples >= wanted)
            break;
        TapgenBlock(cycle[next].data(), cycle[next].size(), TapgenOptions(), signal);
        TapgenSilence(signal);
        tape.blocks++;
    }
    return std::fclose(file) == 0 && ok;
}
