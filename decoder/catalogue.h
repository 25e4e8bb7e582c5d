// The tape catalogue: the main dialog's list of TAP files in the current directory, rebuilt by a
// scan that also recomputes NextTapeNumber. Called from the user-interface thread at start-up and
// from the decoder thread after each block; the list changes through the user-interface seam.
// Failures: files that do not open are skipped; short files read as end-of-file values.
#ifndef QUORVANE_CATALOGUE_H
#define QUORVANE_CATALOGUE_H

#include <cstdint>

// Rebuilds the list from every file named exactly out%03i.tap for its number (any number from 0 up,
// in numeric order) and sets NextTapeNumber one past the highest, or one past its previous value
// when there is none. The whole directory is read before NextTapeNumber is stored, once, and that
// happens before the list is filled. The last line is selected once the list is full. Once
// shutdown has been requested the list is left short (NextTapeNumber is still right).
// A file already described by an earlier scan is not opened again while its size and time of last
// writing stay the same; files added or removed by anyone are seen at the next scan.
void ScanTapeFiles();

// The file `name` (in the current directory) has just been written: the next scan describes it
// afresh even when its size and time look unchanged.
void TapeFileChanged(const char* name);

// Appends the catalogue line of one file and selects it.
void DescribeTapeFile(const char* name);

// The catalogue line of a file, without touching the list: name, label, length text, size.
// Exposed for the list and for tests; out gets at most size bytes, terminated. False when the file
// does not open (the line is then that of an empty file).
bool DescribeTapeLine(const char* name, char* out, int size);

// Number in a name of the exact out%03i.tap form (letter case aside, as Windows file names are),
// or -1.
int64_t TapeFileNumber(const char* name);

#endif
