// A block's file, from its opening to its place in the catalogue: the next numbered out%03i.tap
// opened with a placeholder in its length field, and once the block's bytes are in, its length
// written, an empty one deleted, the number moved on, the catalogue rescanned, a header block
// reported, the file named in the log and the list, and the block observer told. Every path that
// writes blocks (the decoder thread, the rescue of a damaged tape) ends each block here, so all
// of them number, log and list their files alike.
// Runs on the thread that decodes (the decoder thread, or a console run's). Touches the TAP output,
// NextTapeNumber, the catalogue, the status log and the header pane.
// A producer that holds a whole block (the rescue decoder's data items, tape/tape.h) writes it with
// WriteBlockFile, which logs the block's verdict and what was measured of it in one place.
// Failures: a file that cannot be created is refused by OpenBlockFile after "Can't create file.
// Exit task"; a failed write is logged by CloseBlockFile and the caller goes on with the next block.
#ifndef QUORVANE_BLOCKFILE_H
#define QUORVANE_BLOCKFILE_H

#include <cstdint>

#include "decoder/block.h"
#include "tape/tape.h"

// Called after each block, once its length has been written and before an empty one (fileLength
// 2) is deleted, with what was measured of the block. Null when nobody listens; set by the run's
// owner before the run.
extern void (*BlockDecoded)(const char* fileName, long fileLength, const BlockFacts& facts);

// Opens the file numbered NextTapeNumber for the next block, its name into name (size bytes, 32
// suffice), and writes the placeholder length. False, after "Can't create file. Exit task", when it
// cannot be created or the numbers have run out.
bool OpenBlockFile(char* name, int size);

// Finishes the file opened by OpenBlockFile once its `size` block bytes have been written, and
// does everything that follows a block, in this order: the write error if any, the observer, the
// deletion of an empty file or the next number, the rescan, the header report, the file's name in
// the log and at the end of the list, a blank line.
void CloseBlockFile(const char* name, int32_t size, const BlockFacts& facts);

// A data item's file: "Read N bytes", its verdict ("CRC summ ok", "Warning! CRC summ error ", "No
// checksum", or the bits a repair flipped), the timings of a block not read at the ROM's, the
// item's notes, then the file written and finished as CloseBlockFile finishes one; item.file gets
// its name. False when the file cannot be created.
bool WriteBlockFile(TapeItem& item);

#endif
