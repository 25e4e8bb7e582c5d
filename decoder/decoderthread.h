// The decoder thread's body: block after block into numbered TAP files, each finished with its
// length, an empty one deleted, the catalogue rescanned and a header block reported.
// Runs on the decoder thread (or on the thread of a console run); begun and ended through the run
// unit (decoder/run.h), which also closes the TAP output after it.
// Failures: a file that cannot be created ends it (exit code 0) after "Can't create file. Exit
// task"; a failed write is logged when the block ends and decoding goes on.
#ifndef QUORVANE_DECODERTHREAD_H
#define QUORVANE_DECODERTHREAD_H

// Called on the decoder thread after each block, once its file has been finished (or deleted, when
// the block was empty: fileLength 2), with CurrentBlock (decoder/block.h) describing the block.
// Null, as in the Windows program, when nobody listens; set by the run's owner before the run.
extern void (*BlockDecoded)(const char* fileName, long fileLength);

// Decodes blocks until stopped; returns the exit code (decoder/stop.h): 0 a TAP file could not be
// created, -1 the raw file ended (then the raw input and the TAP output are closed, ".PCM file
// closed" is logged and the front end is told, UiRunEnded), -2 stopped.
int DecoderThread();

struct TapHeader;

// The lines that report a header block just written: its type and name in the log and the header
// pane, the announced length of the data block after it. For every decoding path that writes
// blocks.
void ReportTapHeader(const TapHeader& header);

#endif
