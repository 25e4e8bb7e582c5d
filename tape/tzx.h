// A tape as a TZX 1.20 image, item by item in tape order, for emulators and archives: the timings an
// emulator's loader needs are the ones measured, so a custom loader sees what the machine saw.
//   first, a text (0x30) naming the program that wrote it;
//   a data block of the ROM's timings: 0x10 with its pause;
//   a data block with a pilot, two sync pulses and symbols of two equal pulses: 0x11 with the measured
//   timings, pilot count and the used bits of its last byte;
//   any other data block: its pilot as a tone (0x12), its sync as a pulse sequence (0x13), its bits as
//   pure data (0x14), or as generalized data (0x19) when a symbol's two pulses differ, which no other
//   block can say (780+780 against 780+1560 T);
//   a tone: 0x12; a pulse sequence: 0x13; a pause: 0x20; a stretch kept as it is: 0x15.
// A block whose checksum fails, that has none, that was repaired or cut short is written with its bytes
// as the item holds them, after a text saying so: an emulator fails where the tape failed, and nobody
// takes such a block for a clean one.
// Any thread; touches only the file named.
// Failures: WriteTzx returns false with the reason in *error when the file cannot be created or
// written (a partial file may be left).
#ifndef QUORVANE_TAPE_TZX_H
#define QUORVANE_TAPE_TZX_H

#include <cstdint>
#include <string>
#include <vector>

#include "tape/tape.h"

// The whole image; `creator` is the first block's text ("Quorvane 1.2.0").
std::vector<uint8_t> TzxImage(const Tape& tape, const std::string& creator);

bool WriteTzx(const std::string& path, const Tape& tape, const std::string& creator, std::string* error);

#endif
