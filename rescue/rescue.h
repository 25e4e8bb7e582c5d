// Rescue decoding: a whole recording, held as full-precision samples, into numbered TAP files, for
// tapes whose signal a fixed base line and fixed windows lose (hum, hiss, drop-outs, clicks, DC
// drift, worn high frequencies, skewed edges, wandering speed). Each block is first read once with
// the settings that suit most tapes; when its checksum fails (or its length is not the one its
// header announced), the stretch of recording that holds it is sliced and read again with other
// settings (hum filtered harder, other hysteresis, hiss smoothed off, one channel alone, other bit
// windows) and the first attempt whose checksum is right is kept. Every attempt is logged. A block
// that no attempt gets right is kept as first read, and its position is reported.
// The output is the decoder's: out%03i.tap files numbered by NextTapeNumber in the current
// directory, the catalogue rescanned after each, a header block reported, status.log.
// Runs on the calling thread (the console decoder's). Touches the TAP output, NextTapeNumber, the
// catalogue, the status log and the block observer of decoder/decoderthread.h (with CurrentBlock
// describing the block); keeps samples only from a little before the block being read (and
// the failed block waiting for its attempts), so memory does not grow with the recording.
// Failures: a TAP file that cannot be created ends the run with kExitCannotCreate (decoder/stop.h)
// after "Can't create file. Exit task"; a failed write is logged and the run goes on.
#ifndef QUORVANE_RESCUE_RESCUE_H
#define QUORVANE_RESCUE_RESCUE_H

#include <cstddef>
#include <cstdint>

// Where the samples come from: interleaved frames of `channels` floats at `rate` frames a second.
struct RescueSource {
    int channels;
    double rate;
    // Up to `count` frames into out; how many were read, 0 at the end of the recording.
    size_t (*read)(void* context, float* out, size_t count);
    void* context;
};

// Decodes the recording to its end; returns kExitEndOfFile, or kExitCannotCreate.
int RunRescue(const RescueSource& source);

#endif
