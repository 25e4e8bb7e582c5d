// A run of the decoder on a recording opened through audio/audiofile.h. The half-period
// measurement needs nothing of a sample but its side of the base line, so each full-precision
// sample s goes to the decoder as the byte 0 when s < (BaseLine - 128) / 128 and as 255 when not:
// against any BaseLine those bytes compare exactly as the samples do, a 16-bit recording far
// below one 8-bit step still decodes, and the 8-bit machinery (and its offsets, now samples at
// 44100/s) stays as it is. For an 8-bit mono 44100/s file the result is that of its samples read
// as a raw recording.
// Begun by the run's owner; the samples are read on the decoder thread, which also calls the
// batch observer. Failures are the audio file's (audio/audiofile.h): a recording that cannot be
// read further ends the run as the end of a raw file does.
#ifndef QUORVANE_AUDIO_AUDIOFEED_H
#define QUORVANE_AUDIO_AUDIOFEED_H

#include <cstdint>

struct AudioFile;

// Begins a file-mode run (decoder/run.h) reading `file`, which the run now owns: its end closes
// it.
void BeginAudioRun(AudioFile* file);

// Called on the decoder thread after every batch read from the file (progress, damage reports);
// null when nobody listens. Set before the run begins.
extern void (*AudioBatchRead)(AudioFile* file);

// The byte that stands for `sample` against `baseLine`: 0 below its point of the scale, else 255.
inline uint8_t SideByte(float sample, uint8_t baseLine)
{
    return sample < (static_cast<int>(baseLine) - 128) * (1.0f / 128) ? 0 : 255;
}

#endif
