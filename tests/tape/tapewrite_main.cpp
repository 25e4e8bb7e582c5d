// qv-tapewrite tzx ITEMS OUT.tzx       the tape's items, one a line, written by the TZX writer
// qv-tapewrite csw LENGTHS OUT.csw RATE pulse lengths in samples (fractions allowed), by the CSW writer
// The project's image writers driven from outside, so the checks with real clients (tests/tape/) can
// give them any tape before a decoder reads one. An item line is one of
//   data VERDICT PILOT COUNT SYNC ZERO0 ZERO1 ONE0 ONE1 USED TAIL PAUSE HEX
//   tone PULSE COUNT PAUSE
//   pulses P,P,... PAUSE
//   pause MS
//   direct RATE LEVELS PAUSE
// where VERDICT is ok, bad, none, repaired or unfinished, SYNC is a comma list or "-", LEVELS a string of
// 0 and 1. Exit status: 0 written, 1 the file could not be written (named on standard error), 2 bad
// usage or input.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tape/csw.h"
#include "tape/tzx.h"

namespace {

std::vector<int> List(const std::string& text)
{
    std::vector<int> values;
    if (text == "-")
        return values;
    std::istringstream in(text);
    std::string value;
    while (std::getline(in, value, ','))
        values.push_back(std::stoi(value));
    return values;
}

TapeVerdict Verdict(const std::string& word)
{
    const char* words[] = {"ok", "bad", "none", "repaired", "unfinished"};
    const TapeVerdict verdicts[] = {kVerdictOk, kVerdictError, kVerdictNone, kVerdictRepaired, kVerdictUnfinished};
    for (int i = 0; i < 5; ++i)
        if (word == words[i])
            return verdicts[i];
    throw std::invalid_argument("verdict " + word);
}

TapeItem Parse(const std::string& line)
{
    std::istringstream in(line);
    std::string kind, text;
    in >> kind;
    TapeItem item;
    if (kind == "data") {
        BlockTimings& t = item.timings;
        std::string verdict, sync, hex;
        in >> verdict >> t.pilot >> t.pilotCount >> sync >> t.zero[0] >> t.zero[1] >> t.one[0] >> t.one[1] >>
            t.usedBits >> t.tail >> item.pauseMs >> hex;
        item.verdict = Verdict(verdict);
        t.sync = List(sync);
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            item.bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    } else if (kind == "tone") {
        item.kind = kItemTone;
        in >> item.pulse >> item.count >> item.pauseMs;
    } else if (kind == "pulses") {
        item.kind = kItemPulses;
        in >> text >> item.pauseMs;
        item.pulses = List(text);
    } else if (kind == "pause") {
        item.kind = kItemPause;
        in >> item.pauseMs;
    } else if (kind == "direct") {
        item.kind = kItemDirect;
        in >> item.directRate >> text >> item.pauseMs;
        for (char c : text)
            item.levels.push_back(c == '1');
    } else {
        throw std::invalid_argument("item " + kind);
    }
    if (in.fail())
        throw std::invalid_argument("line '" + line + "'");
    return item;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "tzx" && argc == 4) || (mode == "csw" && argc == 5))) {
        std::fprintf(stderr, "usage: qv-tapewrite tzx ITEMS OUT.tzx | qv-tapewrite csw LENGTHS OUT.csw RATE\n");
        return 2;
    }
    std::ifstream input(argv[2]);
    if (!input) {
        std::fprintf(stderr, "qv-tapewrite: cannot read '%s'\n", argv[2]);
        return 2;
    }
    std::string error;
    if (mode == "csw") {
        CswWriter* writer = CswOpen(argv[3], std::stod(argv[4]), false, &error);
        if (writer) {
            double length;
            while (input >> length)
                CswAddPulse(writer, length);
        }
        if (!writer || !CswClose(writer, &error)) {
            std::fprintf(stderr, "qv-tapewrite: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    Tape tape;
    std::string line;
    try {
        while (std::getline(input, line))
            if (!line.empty())
                tape.items.push_back(Parse(line));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qv-tapewrite: %s: %s\n", argv[2], e.what());
        return 2;
    }
    if (!WriteTzx(argv[3], tape, "qv-tapewrite", &error)) {
        std::fprintf(stderr, "qv-tapewrite: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
