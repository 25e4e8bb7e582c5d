// Rescue decoding: a whole recording, held as full-precision samples, into numbered TAP files, for
// tapes whose signal a fixed base line and fixed windows lose (hum, hiss, drop-outs, clicks, DC
// drift, worn high frequencies, skewed edges, wandering speed). Each block is first read once with
// the settings that suit most tapes; when its checksum fails (or its length is not the one its
// header announced), the stretch of recording that holds it is sliced and read again with other
// settings (hum filtered harder, other hysteresis, hiss smoothed off, one channel alone, other bit
// windows) and the first attempt whose checksum is right is kept. Every attempt is logged. When no
// attempt gets it right, all its readings vote bit by bit, and a vote whose checksum still fails
// at a length a header announced (or a header's own) is repaired by the checksum when that is
// clearly the likeliest (rescue/repair.h); a block neither mends is kept as first read, and its
// position is reported. A block its header announced is good only at the announced length; a
// reading that ran past it is cut to it, and a failed block's second readings wait for the whole
// of the length announced. A reading of fewer than two bytes is no block and leaves no file; a
// flag-0 block of another length than a header's 19 bytes is kept as bad, whatever its checksum
// says.
// Several plays of one tape are each read the same way but silently, their blocks kept (see
// ReadPlay), and written once all are read (WritePlays).
// The output is the decoder's, each block written through its block file (decoder/blockfile.h):
// out%03i.tap files numbered by NextTapeNumber in the current directory, the catalogue rescanned
// after each, a header block reported, status.log, the block observer told.
// Runs on the calling thread (the console decoder's). Touches the TAP output and, through the
// block file, what that touches. Keeps samples only from a little
// before the block being read (and the failed block waiting for its attempts), so memory does not
// grow with the recording (a long block broken off early holds its whole announced length: about
// 50 MB a channel for a 48K game).
// Failures: a TAP file that cannot be created ends the run with kExitCannotCreate (decoder/stop.h)
// after "Can't create file. Exit task"; a failed write is logged and the run goes on.
#ifndef QUORVANE_RESCUE_RESCUE_H
#define QUORVANE_RESCUE_RESCUE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rescue/plays.h"

// Where the samples come from: interleaved frames of `channels` floats at `rate` frames a second.
struct RescueSource {
    int channels;
    double rate;
    // Up to `count` frames into out; how many were read, 0 at the end of the recording.
    size_t (*read)(void* context, float* out, size_t count);
    void* context;
    // When set, told of every half-wave the first reading slices, in the recording's order: its
    // length in samples and its side (+1 above the base line). The CSW writer's hook
    // (tape/csw.h, CswAddHalfWave), for the recording's pulses as they were cut.
    void (*sliced)(void* sink, double samples, int side) = nullptr;
    void* sink = nullptr;
};

// Decodes the recording to its end; every item found goes onto `tape` in tape order, a data block
// once its file is written. Returns kExitEndOfFile, or kExitCannotCreate.
int RunRescue(const RescueSource& source, Tape& tape);

// Several plays of one tape. Each play is read to its end as RunRescue reads it, streamed as
// RunRescue streams, but nothing is written or logged: its blocks are kept in `play` (their
// bytes, and for a bad one every reading with how sure each bit was; far less than the samples).
void ReadPlay(const RescueSource& source, Play& play);

// The plays' blocks, matched and sorted out by SortPlays (rescue/plays.h), written in tape order as
// RunRescue writes its blocks, each logged with the play it came from, or as rebuilt, and where it
// lies in every play, and kept on `tape` with its origin and copies. The plays left out are named
// in the log; a block found only in them is written where it fits by time, and left out with a
// line that says so where it does not. Returns kExitEndOfFile, or kExitCannotCreate.
int WritePlays(const std::vector<Play>& plays, const PlayedTape& sorted, Tape& tape);

#endif
