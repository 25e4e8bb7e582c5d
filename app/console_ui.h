// The console decoder's implementation of the user-interface seam: status and header pane lines go to
// standard output as UTF-8 text, the catalogue list is kept in memory and printed at the end, boxes
// go to standard error. Runs on the one thread of the console decoder.
// Fails only as its output stream does (nothing is checked).
#ifndef QUORVANE_CONSOLE_UI_H
#define QUORVANE_CONSOLE_UI_H

#include <string>

// Windows-1251 bytes to UTF-8 (the files keep CP1251; a Linux terminal wants UTF-8).
std::string Cp1251ToUtf8(const std::string& text);

// A progress line on standard error, drawn over the last one; a pane line printed meanwhile
// clears it first, and the next call draws it again.
void ShowProgress(const char* text);
void ClearProgress();

// Prints the catalogue list as it stands.
void PrintCatalogue();

#endif
