// The TZX writer's choice of blocks for each kind of item, and the limits of the format's fields (a
// pause past 65535 ms, more than 255 pulses, a pause of 0 that would stop the tape). That the blocks
// are right for the real clients (tzxlist, tape2wav, a simulated load) is checked by tests/tape/.
#include "tape/tzx.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace {

struct Block {
    int id;
    std::vector<uint8_t> body;
};

int Word(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | b[at + 1] << 8;
}

int Triple(const std::vector<uint8_t>& b, size_t at)
{
    return Word(b, at) | b[at + 2] << 16;
}

// The blocks of an image, after its header; a block the walk does not know ends it.
std::vector<Block> Blocks(const std::vector<uint8_t>& image)
{
    std::vector<Block> blocks;
    size_t at = 10;
    while (at < image.size()) {
        const int id = image[at++];
        const std::vector<uint8_t> rest(image.begin() + static_cast<std::ptrdiff_t>(at), image.end());
        size_t size;
        switch (id) {
        case 0x10: size = 4 + Word(rest, 2); break;
        case 0x11: size = 0x12 + Triple(rest, 0x0F); break;
        case 0x12: size = 4; break;
        case 0x13: size = 1 + 2 * rest[0]; break;
        case 0x14: size = 10 + Triple(rest, 7); break;
        case 0x15: size = 8 + Triple(rest, 5); break;
        case 0x19: size = 4 + (Word(rest, 0) | Word(rest, 2) << 16); break;
        case 0x20: size = 2; break;
        case 0x30: size = 1 + rest[0]; break;
        default: ADD_FAILURE() << "unknown block " << id; return blocks;
        }
        EXPECT_LE(size, rest.size());
        blocks.push_back({id, std::vector<uint8_t>(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(size))});
        at += size;
    }
    return blocks;
}

TapeItem DataItem(const BlockTimings& timings, int pauseMs = 1000)
{
    TapeItem item;
    item.kind = kItemData;
    item.bytes = {0xFF, 1, 2, 3, 0xFF ^ 1 ^ 2 ^ 3};
    item.timings = timings;
    item.verdict = kVerdictOk;
    item.pauseMs = pauseMs;
    return item;
}

BlockTimings Turbo(std::vector<int> sync, int zero0, int zero1, int one0, int one1)
{
    BlockTimings t;
    t.pilot = 1700;
    t.pilotCount = 2058;
    t.sync = sync;
    t.zero[0] = zero0;
    t.zero[1] = zero1;
    t.one[0] = one0;
    t.one[1] = one1;
    return t;
}

struct Case {
    const char* name;
    std::function<TapeItem()> item;
    std::vector<int> ids;
    std::function<void(const std::vector<Block>&)> check;
};

class TzxBlocks : public ::testing::TestWithParam<Case> {};

TEST_P(TzxBlocks, KindAndFields)
{
    Tape tape;
    tape.items.push_back(GetParam().item());
    const std::vector<Block> blocks = Blocks(TzxImage(tape, "Quorvane 1.2.0"));
    ASSERT_GE(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].id, 0x30);
    EXPECT_EQ(std::string(blocks[0].body.begin() + 1, blocks[0].body.end()), "Quorvane 1.2.0");
    std::vector<int> ids;
    for (size_t i = 1; i < blocks.size(); ++i)
        ids.push_back(blocks[i].id);
    EXPECT_EQ(ids, GetParam().ids);
    if (GetParam().check && ids == GetParam().ids)
        GetParam().check(std::vector<Block>(blocks.begin() + 1, blocks.end()));
}

const Case kCases[] = {
    {"RomTimedWithItsPauseSplit", [] { return DataItem(RomTimings(0xFF), 70000); }, {0x10, 0x20},
     [](const std::vector<Block>& b) {
         EXPECT_EQ(Word(b[0].body, 0), 65535);
         EXPECT_EQ(Word(b[1].body, 0), 70000 - 65535);
     }},
    {"TurboWithUsedBits",
     [] {
         TapeItem item = DataItem(Turbo({450, 452}, 200, 201, 400, 399), 0);
         item.timings.usedBits = 5;
         return item;
     },
     {0x11},
     [](const std::vector<Block>& b) {
         const std::vector<uint8_t>& f = b[0].body;
         const std::vector<int> words = {Word(f, 0), Word(f, 2), Word(f, 4), Word(f, 6), Word(f, 8), Word(f, 10)};
         EXPECT_EQ(words, (std::vector<int>{1700, 450, 452, 201, 400, 2058}));
         EXPECT_EQ(f[12], 5);
         EXPECT_EQ(Word(f, 13), 0);
         EXPECT_EQ(Triple(f, 15), 5);
     }},
    {"CompositeSyncAsToneSequenceAndPureData",
     [] { return DataItem(Turbo({714, 1429, 2147, 2147, 2147, 1429, 714}, 565, 565, 1129, 1129)); },
     {0x12, 0x13, 0x14},
     [](const std::vector<Block>& b) {
         EXPECT_EQ(b[1].body[0], 7);
         EXPECT_EQ(Word(b[2].body, 5), 1000);  // the pause after the bits
     }},
    {"AsymmetricSymbolsAsGeneralizedData", [] { return DataItem(Turbo({667, 735}, 780, 780, 780, 1560)); },
     {0x12, 0x13, 0x19},
     [](const std::vector<Block>& b) {
         const std::vector<uint8_t>& f = b[2].body;
         EXPECT_EQ(Word(f, 4), 1000);
         EXPECT_EQ(Word(f, 6), 0);  // no pilot symbols
         EXPECT_EQ(Word(f, 12), 5 * 8);
         EXPECT_EQ(std::vector<int>({f[16], f[17], Word(f, 19), Word(f, 21), Word(f, 24), Word(f, 26)}),
                   (std::vector<int>{2, 2, 780, 780, 780, 1560}));
         EXPECT_EQ(f.size(), 28u + 5);
     }},
    {"PureDataKeepsItsTail",
     [] {
         TapeItem item = DataItem(Turbo({}, 855, 855, 1710, 1710), 500);
         item.timings.pilotCount = 0;
         item.timings.tail = 945;
         return item;
     },
     {0x14, 0x13, 0x20}, nullptr},
    {"BadBlockSaysSo",
     [] {
         TapeItem item = DataItem(RomTimings(0xFF));
         item.bytes.back() ^= 0x10;
         item.verdict = kVerdictError;
         return item;
     },
     {0x30, 0x10},
     [](const std::vector<Block>& b) {
         EXPECT_EQ(std::string(b[0].body.begin() + 1, b[0].body.end()), "Bad block: checksum error");
     }},
    {"RepairedBlockSaysSo",
     [] {
         TapeItem item = DataItem(RomTimings(0xFF));
         item.verdict = kVerdictRepaired;
         item.repaired = {{1, 3}, {2, 0}};
         return item;
     },
     {0x30, 0x10},
     [](const std::vector<Block>& b) {
         EXPECT_EQ(std::string(b[0].body.begin() + 1, b[0].body.end()), "Repaired by the checksum: 2 bits");
     }},
    {"PulsesSplitAt255",
     [] {
         TapeItem item;
         item.kind = kItemPulses;
         item.pulses.assign(300, 714);
         return item;
     },
     {0x13, 0x13},
     [](const std::vector<Block>& b) {
         EXPECT_EQ(b[0].body[0], 255);
         EXPECT_EQ(b[1].body[0], 45);
     }},
    {"PauseOfNothingDoesNotStopTheTape",
     [] {
         TapeItem item;
         item.kind = kItemPause;
         item.pauseMs = 0;
         return item;
     },
     {}, nullptr},
    {"LongToneSplit",
     [] {
         TapeItem item;
         item.kind = kItemTone;
         item.pulse = 2168;
         item.count = 70000;
         return item;
     },
     {0x12, 0x12},
     [](const std::vector<Block>& b) { EXPECT_EQ(Word(b[0].body, 2) + Word(b[1].body, 2), 70000); }},
    {"DirectAtTheRecordingsRate",
     [] {
         TapeItem item;
         item.kind = kItemDirect;
         item.directRate = 44100;
         item.levels = {1, 1, 0, 1, 0, 0, 0, 0, 1, 1, 1};
         item.pauseMs = 20;
         return item;
     },
     {0x15},
     [](const std::vector<Block>& b) {
         const std::vector<uint8_t>& f = b[0].body;
         EXPECT_EQ(Word(f, 0), 79);
         EXPECT_EQ(Word(f, 2), 20);
         EXPECT_EQ(f[4], 3);  // used bits of the last byte
         EXPECT_EQ(std::vector<int>({f[8], f[9]}), (std::vector<int>{0xD0, 0xE0}));
     }},
};

INSTANTIATE_TEST_SUITE_P(Items, TzxBlocks, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(TzxFile, UnwritableFileGivesTheReason)
{
    Tape tape;
    std::string full, missing;
    EXPECT_FALSE(WriteTzx("/dev/full", tape, "Quorvane", &full));
    EXPECT_EQ(full, std::strerror(ENOSPC));
    EXPECT_FALSE(WriteTzx("/nonexistent-dir/t.tzx", tape, "Quorvane", &missing));
    EXPECT_EQ(missing, std::strerror(ENOENT));
}

}  // namespace
