// Keeping a sound-card run's recording: every sample the decoder takes from the queue, in the order
// it takes them, goes into an 8-bit mono 44100/s WAV file, so that a tape played once can be
// decoded again (the rescue decoder) from exactly what the live run saw.
// Started by the run's owner before the decoder thread exists and stopped by it after that thread
// has ended (EndRun, decoder/run.h); KeepSample is called on the decoder thread only, so the
// thread that hands back the sound card's buffers never touches the disk. Samples are written in
// pieces of about three seconds, each followed by the header's lengths patched to what has been
// written: a file cut by a crash or a power cut opens with all but its last seconds.
// Failures: a file that cannot be created, a full disk or a write error stops the keeping only,
// with one status line saying why; what was written stays, its header patched where the disk still
// allows. Decoding is never affected.
#ifndef QUORVANE_KEEPER_H
#define QUORVANE_KEEPER_H

#include <cstdint>

// Bytes written before the header's lengths are patched: about three seconds at 44100/s.
enum { kKeepPieceBytes = 131072 };
// The canonical PCM WAV header the keeper writes; the samples follow it.
enum { kKeepHeaderBytes = 44 };

// Creates `name` and keeps from here on; logs where the recording goes ("Recording kept in NAME"),
// or why it is not kept. False when it is not.
bool StartKeeping(const char* name);

// Appends one sample the decoder has taken from the queue. Nothing when not keeping.
void KeepSample(uint8_t sample);

// The rest written, the lengths made right, the file closed. Nothing when not keeping.
void StopKeeping();

bool Keeping();

// Samples kept by the current or last keeping, as far as they reached the file.
int64_t KeptSamples();

// The canonical header of an 8-bit mono 44100/s recording of `samples` bytes.
void KeepHeader(uint8_t out[kKeepHeaderBytes], uint32_t samples);

#endif
