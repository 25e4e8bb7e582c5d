// A run of the decoder: the one door through which every program, tool and test begins and ends one
// (as a game's midend is created and freed in one place). A run reads the raw recording file (file
// mode) or the sample queue; its decoder runs on a thread of its own or on the caller's.
// Called by the run's owner (the user-interface thread, the console's main thread, a test), never
// by the decoder thread. Touches the raw input, file mode, the stop request, the TAP output and the
// decoder thread.
// Failures: a raw file that does not open leaves everything as it was (BeginRun gives false); a
// thread that cannot be created is reported by StartDecoderThread.
#ifndef QUORVANE_RUN_H
#define QUORVANE_RUN_H

struct FileReader;

// Begins a run from the raw recording `rawName` (relative to the current directory), or, when it is
// null, from the sample queue: the source opened, file mode set accordingly, the stop request
// cleared. False when the raw file does not open.
bool BeginRun(const char* rawName);

// Begins a file-mode run whose samples come from `reader` (decoder/halfperiod.h) instead of a raw
// file; the run's end closes it.
void BeginRun(const FileReader& reader);

// Begins a run whose body is not the block decoder but `body` (the rescue of a whole recording,
// which reads its own input and returns an exit code of decoder/stop.h): file mode set, so that
// Stop touches no sound device, the stop request cleared. The body is to end soon after a stop
// request (DecoderStopRequested) and to call UiRunEnded (report/ui.h) when it ends by itself, as
// the decoder does at the end of a raw file.
void BeginRunWith(int (*body)());

// The body of the run begun (the decoder, or the one given), on the calling thread until it
// ends; returns its exit code (decoder/stop.h).
int RunDecoderHere();

// The body of the run begun, on a thread of its own, the decoder thread. False when the thread
// cannot be created.
bool StartDecoderThread();

// Ends the run: asks the decoder to stop and waits for its thread, then finishes the kept
// recording (capture/keeper.h), closes the TAP output and the raw input and turns file mode off.
// Returns the decoder's exit code: the one it ended with by itself, or kExitStopped. Nothing
// happens to a run already ended, bar the closing.
int EndRun();

// Back to the decoder state of a fresh process, for tools and tests that decode several
// independent recordings in one process: no run, half-period state and NextTapeNumber at their
// starting values, the stop request cleared.
void ResetDecoder();

#endif
