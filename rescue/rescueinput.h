// The recording a rescue run reads: an audio file or a raw recording opened through
// audio/audiofile.h once for each of its channels (or for the one channel asked for), so that the
// rescue decoder sees every channel at full precision and can mix them or read one alone. The
// channels are read in step, a batch at a time, and the audio reader's batch observer
// (AudioBatchRead, audio/audiofeed.h) is called after each batch as in a default run, for the
// progress line and the report of stretches that could not be decoded.
// Opened by the console decoder's thread or the window's, and read by the thread that runs the rescue.
// Failures: OpenRescueInput refuses a file as OpenAudioFile does, with its message; a channel that
// ends early ends the recording for all.
#ifndef QUORVANE_RESCUE_RESCUEINPUT_H
#define QUORVANE_RESCUE_RESCUEINPUT_H

#include <cstdint>
#include <string>

#include "rescue/plays.h"
#include "rescue/rescue.h"
#include "tape/csw.h"

struct RescueInput;

// Opens `path`; `channel` is kMixChannels (every channel) or a channel number (audio/format.h).
// Null, with *error set, when the file is refused.
RescueInput* OpenRescueInput(const char* path, int channel, std::string* error);

// The recording as the rescue decoder reads it (for RunRescue, or a rescue into a folder).
RescueSource RescueInputSource(RescueInput* input);

// What the file was read as (the audio reader's description).
const std::string& RescueInputDescription(const RescueInput* input);

// Runs the rescue decoder (rescue/rescue.h) over the whole recording, its items onto `tape`, the
// half-waves it slices into `csw` when that is not null; returns its exit code.
int RunRescueInput(RescueInput* input, Tape& tape, CswWriter* csw = nullptr);

// Reads the whole recording as one of several plays of a tape (ReadPlay, rescue/rescue.h), its
// half-waves into `csw` when that is not null.
void ReadRescuePlay(RescueInput* input, Play& play, CswWriter* csw = nullptr);

void CloseRescueInput(RescueInput* input);

#endif
