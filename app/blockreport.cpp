#include "app/blockreport.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "decoder/block.h"
#include "decoder/blockfile.h"
#include "decoder/tapfile.h"
#include "rescue/rescue.h"
#include "tape/tape.h"

namespace {

struct Block {
    std::string file;
    BlockFacts facts;
    int64_t length;  // block bytes, without the two-byte length field
    int flag;
    bool header;
    TapHeader fields;
    BlockOrigin origin;  // several plays only
};

struct Damage {
    int64_t from;
    int64_t to;
    std::string what;
};

std::vector<Block> blocks;
std::vector<Damage> damage;

std::vector<uint8_t> ReadFile(const std::string& name)
{
    std::ifstream in(name, std::ios::in | std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Record(const char* name, long fileLength, const BlockFacts& facts)
{
    const std::vector<uint8_t> bytes = ReadFile(name);
    Block block{name, facts, fileLength - 2, bytes.size() > 2 ? bytes[2] : -1, false, {}, CurrentOrigin};
    block.header = ReadTapHeader(bytes.data(), static_cast<long>(bytes.size()), fileLength, &block.fields);
    blocks.push_back(block);
}

void OnBlockDecoded(const char* name, long fileLength, const BlockFacts& facts)
{
    // An empty block (a sync pulse and no whole byte) leaves no file, so it is no block of the tape.
    if (fileLength > 2)
        Record(name, fileLength, facts);
}

// Header names are Spectrum characters: ASCII, with the pound sign at 0x60 and the copyright sign
// at 0x7F.
std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        char escape[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == 0x60) {
            out += "\xC2\xA3";
        } else if (c == 0x7F) {
            out += "\xC2\xA9";
        } else if (c < 0x20 || c > 0x7E) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Position(int64_t sample)
{
    char text[96];
    std::snprintf(text, sizeof text, "{\"sample\": %" PRId64 ", \"seconds\": %.6f}", sample,
                  static_cast<double>(sample) / 44100);
    return text;
}

const char* Verdict(int32_t verdict)
{
    return verdict < 0 ? "unfinished" : verdict == 0 ? "ok" : "bad";
}

void WriteBlock(std::FILE* out, const Block& b, size_t number)
{
    const double meanPilot = b.facts.pilotHalfPeriods
                                 ? static_cast<double>(b.facts.pilotSamples) / b.facts.pilotHalfPeriods
                                 : 0.0;
    std::fprintf(out,
                 "    {\"number\": %zu, \"file\": %s, \"start\": %s, \"end\": %s, \"length\": %" PRId64
                 ", \"checksum\": \"%s\", \"flag\": %i, \"pilot_half_periods\": %i, \"mean_pilot_half_period\": %.3f",
                 number, JsonString(b.file).c_str(), Position(b.facts.pilotStart).c_str(),
                 Position(b.facts.end).c_str(), b.length, Verdict(b.facts.verdict), b.flag,
                 b.facts.pilotHalfPeriods, meanPilot);
    if (b.header) {
        // The name as it stands, its trailing blanks and any zero bytes included.
        std::fprintf(out,
                     ", \"header\": {\"type\": %i, \"type_name\": \"%s\", \"name\": %s, \"data_length\": %i, "
                     "\"param1\": %i, \"param2\": %i}",
                     b.fields.type, HeaderTypeName(b.fields.type),
                     JsonString(std::string(b.fields.name, 10)).c_str(), b.fields.dataLength, b.fields.param1,
                     b.fields.param2);
    }
    if (!b.origin.copies.empty()) {
        if (b.origin.from > 0)
            std::fprintf(out, ", \"from_play\": %i", b.origin.from);
        else
            std::fprintf(out, ", \"from_play\": \"rebuilt\"");
        std::fprintf(out, ", \"plays\": [");
        for (size_t k = 0; k < b.origin.copies.size(); ++k) {
            const CopyFacts& c = b.origin.copies[k];
            std::fprintf(out, "%s{\"play\": %i", k ? ", " : "", c.play);
            if (c.verdict >= 0)
                std::fprintf(out, ", \"start\": %s, \"end\": %s, \"checksum\": \"%s\"", Position(c.pilotStart).c_str(),
                             Position(c.end).c_str(), Verdict(c.verdict));
            std::fprintf(out, "}");
        }
        std::fprintf(out, "]");
    }
    std::fprintf(out, "}");
}

}  // namespace

void RecordBlocks()
{
    blocks.clear();
    damage.clear();
    BlockDecoded = OnBlockDecoded;
}

void RecordUnfinishedBlock(int64_t end)
{
    if (!CurrentBlock.dataBegun || CurrentBlock.verdict >= 0)
        return;
    char name[32];
    TapeFileName(name, sizeof name, NextTapeNumber);
    const std::vector<uint8_t> bytes = ReadFile(name);
    if (bytes.size() <= 2)
        return;
    BlockFacts facts = CurrentBlock;
    facts.end = end;
    Record(name, static_cast<long>(bytes.size()), facts);
}

void RecordDamage(int64_t from, int64_t to, const std::string& what)
{
    damage.push_back({from, to, what});
}

int RecordedBlockCount()
{
    return static_cast<int>(blocks.size());
}

bool WriteJsonReport(const std::string& path, const RunFacts& run)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "quorvane-decode: cannot write the report '%s'\n", path.c_str());
        return false;
    }
    std::fprintf(out, "{\n  \"input\": %s,\n  \"format\": %s,\n  \"channel\": %s,\n  \"tape_directory\": %s,\n",
                 JsonString(run.input).c_str(), JsonString(run.format).c_str(), JsonString(run.channel).c_str(),
                 JsonString(run.tapeDirectory).c_str());
    if (run.plays.size() > 1) {
        std::fprintf(out, "  \"plays\": [");
        for (size_t p = 0; p < run.plays.size(); ++p)
            std::fprintf(out, "%s\n    {\"play\": %zu, \"input\": %s, \"format\": %s, \"samples\": %" PRId64 "}",
                         p ? "," : "", p + 1, JsonString(run.plays[p].input).c_str(),
                         JsonString(run.plays[p].format).c_str(), run.plays[p].samples);
        std::fprintf(out, "\n  ],\n");
    }
    std::fprintf(out, "  \"sample_rate\": 44100,\n  \"samples\": %" PRId64 ",\n  \"blocks\": [", run.samples);
    for (size_t i = 0; i < blocks.size(); ++i) {
        std::fprintf(out, i ? ",\n" : "\n");
        WriteBlock(out, blocks[i], i + 1);
    }
    std::fprintf(out, "%s],\n  \"damage\": [", blocks.empty() ? "" : "\n  ");
    for (size_t i = 0; i < damage.size(); ++i)
        std::fprintf(out, "%s\n    {\"from\": %s, \"to\": %s, \"what\": %s}", i ? "," : "",
                     Position(damage[i].from).c_str(),
                     damage[i].to < 0 ? "null" : Position(damage[i].to).c_str(), JsonString(damage[i].what).c_str());
    std::fprintf(out, "%s]\n}\n", damage.empty() ? "" : "\n  ");
    const bool ok = !std::ferror(out);
    if (std::fclose(out) != 0 || !ok) {
        std::fprintf(stderr, "quorvane-decode: cannot write the report '%s'\n", path.c_str());
        return false;
    }
    return true;
}

bool WriteJoinedTap(const std::string& path)
{
    std::ofstream out(path, std::ios::out | std::ios::binary | std::ios::trunc);
    for (const Block& b : blocks) {
        std::vector<uint8_t> bytes = ReadFile(b.file);
        if (bytes.size() < 2)
            continue;
        // The unfinished block's file still holds the placeholder: the joined file gets its true
        // length (the low 16 bits, as every TAP length field, for a block past 64 KiB).
        const size_t length = bytes.size() - 2;
        bytes[0] = static_cast<uint8_t>(length & 0xFF);
        bytes[1] = static_cast<uint8_t>(length >> 8 & 0xFF);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    out.close();
    if (!out) {
        std::fprintf(stderr, "quorvane-decode: cannot write the joined TAP file '%s'\n", path.c_str());
        return false;
    }
    return true;
}
