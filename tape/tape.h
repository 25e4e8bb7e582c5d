// What a tape holds: the recording as a list of items in tape order, each with where it lies in the
// recording and what was measured of it. Producers (the rescue decoder's reading of one play, the
// combining of several plays) build items and write no files; every output (the numbered TAP files
// with status.log, the report, the joined TAP, the TZX) is written from the one list, and no writer
// reads the recording again.
// Pulse lengths are T-states of the Spectrum's 3.5 MHz clock, measured between interpolated edges, so
// a 44.1 kHz and a 48 kHz recording of one tape give the same tape.
// The checksum, a header's fields and the ROM's timings live here and nowhere else.
// Pure data and functions, any thread; nothing fails.
#ifndef QUORVANE_TAPE_TAPE_H
#define QUORVANE_TAPE_TAPE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The Spectrum's clock: T-states a second.
const double kTStatesPerSecond = 3500000.0;

// The ROM's timings, in T-states: a pilot pulse and how many a header's (flag below 128) and a data
// block's pilot have, the two sync pulses, the two pulses of a 0 and of a 1 bit, the tail pulse.
enum {
    kRomPilot = 2168,
    kRomHeaderPilotCount = 8063,
    kRomDataPilotCount = 3223,
    kRomSync1 = 667,
    kRomSync2 = 735,
    kRomZero = 855,
    kRomOne = 1710,
    kRomTail = 945,
};

enum TapeItemKind {
    kItemData,    // a block of bytes: with a pilot and sync (ROM-timed or turbo), or pure data
    kItemTone,    // a run of equal pulses with no data after it
    kItemPulses,  // a sequence of pulses of their own lengths
    kItemPause,   // silence (the hiss between blocks included)
    kItemDirect,  // a stretch that is none of these, kept as it is, sample by sample
};

// What the checksum says of a data block.
enum TapeVerdict {
    kVerdictOk,          // a block of the ROM's form whose bytes XOR to 0 at a length that fits
    kVerdictError,       // a block of the ROM's form whose checksum fails, or whose length does not fit
    kVerdictNone,        // a custom block with no XOR checksum: nothing vouches for its bytes
    kVerdictRepaired,    // made to XOR to 0 by flipping its least sure bits
    kVerdictUnfinished,  // cut short by the end of the recording
};

// What was measured of a data block, in T-states. A pure-data block has pilotCount 0 and no sync.
struct BlockTimings {
    int pilot = 0;                // one pilot pulse
    int pilotCount = 0;           // pilot pulses
    std::vector<int> sync;        // the sync pulses after the pilot (the ROM's two)
    int zero[2] = {0, 0};         // the two pulses of a 0 bit
    int one[2] = {0, 0};          // the two pulses of a 1 bit
    int usedBits = 8;             // bits of the last byte, 1 to 8, most significant first
    int tail = 0;                 // a pulse after the last bit, 0 when none
};

// One reading of a block's bytes, with how sure each bit was, in the order read (bit 7 of the first
// byte first): 255 a bit that could be nothing else, 0 one that could as well be the other.
struct Reading {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> sureness;
};

// A bit flipped by a repair: byte from 0, bit 7 the most significant.
struct RepairedBit {
    int byte;
    int bit;
};

struct TapeItem {
    TapeItemKind kind = kItemData;

    // kItemData: the bytes, flag to checksum as a TAP file holds them.
    std::vector<uint8_t> bytes;
    BlockTimings timings;
    TapeVerdict verdict = kVerdictError;
    std::vector<uint8_t> sureness;         // of `bytes`, a bit each, as in Reading
    std::vector<Reading> readings;         // every other reading of a block not ok (attempts, plays)
    std::vector<RepairedBit> repaired;     // kVerdictRepaired: the bits flipped
    std::vector<std::string> notes;        // lines logged after the block's verdict
    std::string file;                      // the numbered TAP file it was written to, once written

    // kItemTone: one pulse's length (T-states) and how many.
    int pulse = 0;
    int count = 0;
    // kItemPulses: each pulse's length (T-states).
    std::vector<int> pulses;
    // kItemDirect: the signal's side (1 high) at each sample of `directRate` a second.
    std::vector<uint8_t> levels;
    double directRate = 0;

    // The pause after the item in milliseconds (of a kItemPause, its length).
    int pauseMs = 0;

    // Where the item lies in the recording it was read from, in samples at that recording's rate:
    // its first sample (a data block's pilot, when it has one), where its data began (the sync's
    // end; equal to first when there is none), and the sample after its last.
    int64_t first = 0;
    int64_t dataAt = 0;
    int64_t last = 0;

    // Several plays of one tape: the play the item was taken from (from 1; 0 rebuilt from all of
    // them, and 0 for a single play), and where it lies in each play.
    int origin = 0;
    struct Copy {
        int play;          // from 1
        int64_t first;     // -1: the play has no copy
        int64_t last;
        TapeVerdict verdict;
    };
    std::vector<Copy> copies;
};

// A stretch of the recording that could not be read (a damaged frame of a compressed file).
struct DamagedStretch {
    int64_t from;
    int64_t to;
    std::string what;
};

struct Tape {
    std::vector<TapeItem> items;
    std::vector<DamagedStretch> damaged;
    double rate = 44100;  // samples a second of the recording the positions count
};

// The XOR of the bytes: 0 for a sound block of the ROM's form.
uint8_t XorChecksum(const std::vector<uint8_t>& bytes);

// A run of bytes that can be a block of the ROM's form: a flag and a checksum at least, and a header
// (flag 0) of its 19 bytes. Anything else is no block, whatever its checksum says.
bool WholeBlock(const std::vector<uint8_t>& bytes);

// A ROM header's fields: a block of 19 bytes whose flag is 0. type is the header's type byte, name
// its ten name bytes as they are (zeros included, a terminator after them), dataLength and the two
// parameters its little-endian words.
struct HeaderFields {
    int type;
    char name[11];
    int dataLength;
    int param1;
    int param2;
};

// True when `bytes` (flag to checksum, `count` of them) make a header; its fields into *header.
bool ReadHeaderFields(const uint8_t* bytes, size_t count, HeaderFields* header);

// The length of the block after a header, flag and checksum included, that a sound header
// announces; -1 for any other block.
int AnnouncedLength(const std::vector<uint8_t>& bytes);

// The word the header report puts before a header's name: "Program:", "Array:", "Bytes:", and
// "Data:" for a type it does not know.
const char* HeaderTypeWord(int type);

// The report's name of a header's type: "Program", "Number array", "Character array", "Bytes", and
// "Unknown" for a type it does not know.
const char* HeaderTypeName(int type);

// True when every pilot, sync and bit pulse of the timings lies within 2 % of the ROM's (the pilot
// count and the tail are not looked at): a block a TAP file can hold without losing anything a
// loader needs.
bool RomTimed(const BlockTimings& timings);

// True when the ROM's own loader reads the block: every pilot, sync and bit pulse within 12 % of the
// ROM's (a deck running a few per cent fast or slow), two sync pulses, symmetric bits, whole bytes.
// Such a block is a "rom" block in the report and the log and goes into a joined TAP file, whose
// loader knows no timings; the TZX keeps the measured ones unless RomTimed holds.
bool RomLoadable(const BlockTimings& timings);

// The ROM's timings for a block of flag `flag`: its pilot count by the flag, 8 bits in the last byte.
BlockTimings RomTimings(int flag);

// Samples at `rate` into T-states and back, rounded.
int SamplesToT(double samples, double rate);
double TToSamples(double tStates, double rate);

// The report's and the log's word for a kind and a verdict: "rom", "turbo", "pure data", "tone",
// "pulses", "pause", "direct"; "ok", "bad", "no checksum", "repaired", "unfinished".
const char* ItemKindWord(const TapeItem& item);
const char* VerdictWord(TapeVerdict verdict);

#endif
