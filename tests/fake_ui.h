// The tests' implementation of the user-interface seam: records every call so a test can look at the
// panes, the catalogue list and the boxes as the user would. Thread-safe (the decoder thread and a
// test's thread both call it).
#ifndef QUORVANE_FAKE_UI_H
#define QUORVANE_FAKE_UI_H

#include <string>
#include <vector>

struct FakeUi {
    std::string statusPane;  // everything inserted, "\r\n" included
    std::string headerPane;
    std::vector<std::string> catalogue;
    int selected = -1;
    bool drawingHeld = false;  // the list's drawing is held from a reset to the next selection
    int runEndedCalls = 0;
    std::vector<std::string> infoBoxes;
    int hour = 9, minute = 5, second = 7;
};

// A copy of the recorded state.
FakeUi FakeUiSnapshot();
// Clears the record (the clock keeps its value unless set).
void FakeUiClear();
void FakeUiSetClock(int hour, int minute, int second);

// The status pane's lines without their time stamps, as status.log would hold them.
std::vector<std::string> FakeUiStatusMessages();

#endif
