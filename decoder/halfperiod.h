// Half-period measurement: turns the sample stream into lengths of half-waves measured against
// BaseLine, taking samples from the raw recording file or another file reader (file mode) or from
// the sample queue.
// Decoder thread only, except that the run's owner opens the raw input and sets file mode before
// the decoder thread is created, and closes and clears them after it has ended.
// Failures: a raw file that cannot be read further counts as its end, which leaves by throwing
// DecoderStopped{-1} (the decoder thread ends the run); a stop request leaves with DecoderStopped
// too.
#ifndef QUORVANE_HALFPERIOD_H
#define QUORVANE_HALFPERIOD_H

#include <cstdint>

#include "decoder/scan.h"


// Length in samples of the half-wave that has just ended, or -1 when no change of side came within
// kHalfPeriodTimeout samples.
int32_t ReadHalfPeriod();

// Bytes taken from the raw file so far (meaningful in file mode), modulo 2^32 past 2 GiB.
int32_t RawPosition();

// Opens the raw recording for reading (binary, never creating it); false when it does not open.
bool OpenRawInput(const char* name);
void CloseRawInput();
bool RawInputOpen();

// A file-mode source other than the raw file, such as an audio file read through a library. It
// hands over bytes that compare with BaseLine as its own samples do, one byte per sample at
// 44100/s, so that offsets stay sample counts. Its functions run on the decoder thread (close also
// on the run's owner, after the decoder has ended).
struct FileReader {
    // Fills `out` with up to `capacity` bytes and returns how many; 0 ends the recording (a read
    // failure included). baseLine is TimingSettings.BaseLine, for readers whose samples have more
    // precision than a byte: they hand over 0 for a sample below it and 255 for one that is not.
    int32_t (*read)(void* context, uint8_t* out, int32_t capacity, uint8_t baseLine);
    // Releases the recording; called once, when the input is closed.
    void (*close)(void* context);
    void* context;
};

// Takes `reader` as the raw input: what RawPosition, CloseRawInput and the end of the file say of
// the raw file holds of it.
void OpenReaderInput(const FileReader& reader);

// Samples taken from the file so far, without the 32-bit wrap of RawPosition.
int64_t FileSamplesTaken();


// Back to the state of a fresh process: polarity +1, run count 0. For tests and tools that decode
// several independent recordings in one process.
void ResetHalfPeriodState();

#endif
