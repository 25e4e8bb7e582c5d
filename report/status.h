// The program's messages: time-stamped status lines (pane and status.log), header-pane lines,
// information and fatal boxes. Called from both threads.
// status.log is in the current directory, opened for appending for each message, one message per
// CR LF line, bytes as they are (Windows-1251). Appends from the two threads are serialised, so one
// message is never interleaved with another. A message that cannot be written to the file is still
// shown; nothing else reports the failure.
#ifndef QUORVANE_STATUS_H
#define QUORVANE_STATUS_H

// "hh:mm:ss " + message into the status pane, then "\r\n"; message + CR LF appended to status.log.
void LogStatus(const char* message);

// message, then "\r\n", into the header pane; nothing goes to the file.
void ShowText(const char* message);

void ShowInfo(const char* text);

// Shows the box, then ends the process with exit code 0.
[[noreturn]] void FatalError(const char* text);

// Formats like printf and logs the result (pane lines are far shorter than the buffer).
void LogStatusF(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ShowTextF(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif
