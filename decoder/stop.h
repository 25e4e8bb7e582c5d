// The decoder thread's stop request. Stopping is cooperative: nobody terminates the thread. A request
// (Stop, shutdown) sets an atomic flag and wakes the sample queue's wait; the decoder notices it in
// ReadHalfPeriod (once per batch of file samples) or in PIPE::Read, and leaves by throwing
// DecoderStopped, which DecoderThread catches at its top and turns into its exit code.
// Raised from any thread; cleared by the thread that starts a run, before the decoder thread exists.
#ifndef QUORVANE_STOP_H
#define QUORVANE_STOP_H

// The decoder thread's exit codes.
enum {
    kExitCannotCreate = 0,   // a TAP file could not be created
    kExitEndOfFile = -1,     // the raw recording ended
    kExitStopped = -2,       // Stop or shutdown
};

struct DecoderStopped {
    int exit_code;
};

void RequestDecoderStop(int exitCode = kExitStopped);
void ClearDecoderStop();
bool DecoderStopRequested();

// The program is ending. Work whose only product is what the dialogs show (the catalogue's lines)
// is cut short; files are still finished as on any stop. Raised by the user-interface thread, never
// cleared.
void RequestShutdown();
bool ShutdownRequested();

// Throws DecoderStopped with the requested code when a stop has been requested.
void ThrowIfDecoderStopRequested();

#endif
