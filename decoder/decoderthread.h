// The decoder thread's body: block after block, each into a block file of its own
// (decoder/blockfile.h), which numbers, finishes, lists and reports it.
// Runs on the decoder thread (or on the thread of a console run); begun and ended through the run
// unit (decoder/run.h), which also closes the TAP output after it.
// Failures: a file that cannot be created ends it (exit code 0) after "Can't create file. Exit
// task"; a failed write is logged when the block ends and decoding goes on.
#ifndef QUORVANE_DECODERTHREAD_H
#define QUORVANE_DECODERTHREAD_H

// Decodes blocks until stopped; returns the exit code (decoder/stop.h): 0 a TAP file could not be
// created, -1 the raw file ended, -2 stopped.
int DecoderThread();

#endif
