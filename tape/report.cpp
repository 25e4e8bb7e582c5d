#include "tape/report.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

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

std::string Position(int64_t sample, double rate)
{
    char text[96];
    std::snprintf(text, sizeof text, "{\"sample\": %" PRId64 ", \"seconds\": %.6f}", sample,
                  static_cast<double>(sample) / rate);
    return text;
}

std::string Timings(const TapeItem& b)
{
    const BlockTimings& t = b.timings;
    std::string sync;
    for (size_t k = 0; k < t.sync.size(); ++k)
        sync += (k ? ", " : "") + std::to_string(t.sync[k]);
    char text[320];
    std::snprintf(text, sizeof text,
                  "{\"pilot\": %i, \"pilot_count\": %i, \"sync\": [%s], \"zero\": [%i, %i], \"one\": [%i, %i], "
                  "\"used_bits\": %i, \"tail\": %i, \"pause_ms\": %i}",
                  t.pilot, t.pilotCount, sync.c_str(), t.zero[0], t.zero[1], t.one[0], t.one[1], t.usedBits, t.tail,
                  b.pauseMs);
    return text;
}

void WriteBlock(std::FILE* out, const TapeItem& b, size_t number, double rate)
{
    const double meanPilot = b.timings.pilotCount ? TToSamples(b.timings.pilot, rate) : 0.0;
    std::fprintf(out,
                 "    {\"number\": %zu, \"file\": %s, \"start\": %s, \"end\": %s, \"length\": %zu"
                 ", \"checksum\": \"%s\", \"flag\": %i, \"kind\": \"%s\", \"pilot_half_periods\": %i, "
                 "\"mean_pilot_half_period\": %.3f, \"timings\": %s",
                 number, JsonString(b.file).c_str(), Position(b.first, rate).c_str(), Position(b.last, rate).c_str(),
                 b.bytes.size(), VerdictWord(b.verdict), b.bytes.empty() ? -1 : b.bytes[0], ItemKindWord(b),
                 b.timings.pilotCount, meanPilot, Timings(b).c_str());
    if (!b.repaired.empty()) {
        std::fprintf(out, ", \"repaired_bits\": [");
        for (size_t k = 0; k < b.repaired.size(); ++k)
            std::fprintf(out, "%s{\"byte\": %i, \"bit\": %i}", k ? ", " : "", b.repaired[k].byte, b.repaired[k].bit);
        std::fprintf(out, "]");
    }
    HeaderFields fields;
    if (ReadHeaderFields(b.bytes.data(), b.bytes.size(), &fields)) {
        // The name as it stands, its trailing blanks and any zero bytes included.
        std::fprintf(out,
                     ", \"header\": {\"type\": %i, \"type_name\": \"%s\", \"name\": %s, \"data_length\": %i, "
                     "\"param1\": %i, \"param2\": %i}",
                     fields.type, HeaderTypeName(fields.type), JsonString(std::string(fields.name, 10)).c_str(),
                     fields.dataLength, fields.param1, fields.param2);
    }
    if (!b.copies.empty()) {
        if (b.origin > 0)
            std::fprintf(out, ", \"from_play\": %i", b.origin);
        else
            std::fprintf(out, ", \"from_play\": \"rebuilt\"");
        std::fprintf(out, ", \"plays\": [");
        for (size_t k = 0; k < b.copies.size(); ++k) {
            const TapeItem::Copy& c = b.copies[k];
            std::fprintf(out, "%s{\"play\": %i", k ? ", " : "", c.play);
            if (c.first >= 0)
                std::fprintf(out, ", \"start\": %s, \"end\": %s, \"checksum\": \"%s\"", Position(c.first, rate).c_str(),
                             Position(c.last, rate).c_str(), VerdictWord(c.verdict));
            std::fprintf(out, "}");
        }
        std::fprintf(out, "]");
    }
    std::fprintf(out, "}");
}

void WriteItem(std::FILE* out, const TapeItem& item, size_t block, double rate)
{
    std::fprintf(out, "    {\"kind\": \"%s\", \"start\": %s, \"end\": %s", ItemKindWord(item),
                 Position(item.first, rate).c_str(), Position(item.last, rate).c_str());
    switch (item.kind) {
    case kItemData:
        std::fprintf(out, ", \"block\": %zu, \"checksum\": \"%s\", \"timings\": %s", block,
                     VerdictWord(item.verdict), Timings(item).c_str());
        break;
    case kItemTone:
        std::fprintf(out, ", \"pulse\": %i, \"count\": %i", item.pulse, item.count);
        break;
    case kItemPulses: {
        std::fprintf(out, ", \"pulses\": [");
        for (size_t k = 0; k < item.pulses.size(); ++k)
            std::fprintf(out, "%s%i", k ? ", " : "", item.pulses[k]);
        std::fprintf(out, "]");
        break;
    }
    case kItemPause:
        std::fprintf(out, ", \"ms\": %i", item.pauseMs);
        break;
    case kItemDirect:
        std::fprintf(out, ", \"samples\": %zu, \"rate\": %.0f", item.levels.size(), item.directRate);
        break;
    }
    std::fprintf(out, "}");
}

}  // namespace

bool WriteJsonReport(const std::string& path, const RunFacts& run, const Tape& tape, std::string* error)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        *error = std::strerror(errno);
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
    std::fprintf(out, "  \"sample_rate\": %.0f,\n  \"samples\": %" PRId64 ",\n  \"blocks\": [", tape.rate, run.samples);
    size_t blocks = 0;
    for (const TapeItem& item : tape.items) {
        if (item.kind != kItemData)
            continue;
        std::fprintf(out, blocks ? ",\n" : "\n");
        WriteBlock(out, item, ++blocks, tape.rate);
    }
    std::fprintf(out, "%s],\n  \"items\": [", blocks ? "\n  " : "");
    size_t block = 0;
    for (size_t i = 0; i < tape.items.size(); ++i) {
        std::fprintf(out, i ? ",\n" : "\n");
        block += tape.items[i].kind == kItemData;
        WriteItem(out, tape.items[i], block, tape.rate);
    }
    std::fprintf(out, "%s],\n  \"damage\": [", tape.items.empty() ? "" : "\n  ");
    for (size_t i = 0; i < tape.damaged.size(); ++i) {
        const DamagedStretch& d = tape.damaged[i];
        std::fprintf(out, "%s\n    {\"from\": %s, \"to\": %s, \"what\": %s}", i ? "," : "",
                     Position(d.from, tape.rate).c_str(), d.to < 0 ? "null" : Position(d.to, tape.rate).c_str(),
                     JsonString(d.what).c_str());
    }
    std::fprintf(out, "%s]\n}\n", tape.damaged.empty() ? "" : "\n  ");
    const bool ok = !std::ferror(out);
    if (std::fclose(out) != 0 || !ok) {
        *error = std::strerror(errno ? errno : EIO);
        return false;
    }
    return true;
}
