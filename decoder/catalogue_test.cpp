#include "decoder/catalogue.h"

#include <cstdlib>
#include <filesystem>

#include "decoder/stop.h"
#include "decoder/tapfile.h"
#include "tests/fake_ui.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// A TAP file holding a 19-byte header block (checksum not looked at here).
Bytes HeaderFile(uint8_t type, const std::string& name, uint16_t dataLength)
{
    Bytes file{0x13, 0x00};
    for (uint8_t b : HeaderBlock(type, name, dataLength))
        file.push_back(b);
    return file;
}

class CatalogueTest : public CoreTest {};

TEST_F(CatalogueTest, EmptyDirectoryStartsAtOne)
{
    ScanTapeFiles();
    EXPECT_TRUE(FakeUiSnapshot().catalogue.empty());
    EXPECT_EQ(NextTapeNumber, 1);
    ScanTapeFiles();
    EXPECT_EQ(NextTapeNumber, 2);  // one past its previous value while no file exists
}

TEST_F(CatalogueTest, ListsInNumericOrderAndContinuesAfterTheHighest)
{
    WriteFileBytes("out010.tap", {0x01, 0x00, 0xFF});
    WriteFileBytes("out003.tap", {0x01, 0x00, 0xFF});
    WriteFileBytes("out000.tap", {0x01, 0x00, 0xFF});
    ScanTapeFiles();
    const FakeUi ui = FakeUiSnapshot();
    EXPECT_EQ(ui.catalogue, (Lines{"out000.tap Data:  (1)", "out003.tap Data:  (1)", "out010.tap Data:  (1)"}));
    EXPECT_EQ(ui.selected, 2);
    EXPECT_EQ(NextTapeNumber, 11);
}

TEST_F(CatalogueTest, NumbersPastNineHundredNinetyEightAreListedAndNeverReused)
{
    for (const char* name : {"out998.tap", "out999.tap", "out1000.tap", "out1234.tap"})
        WriteFileBytes(name, {0x00, 0x00});
    ScanTapeFiles();
    EXPECT_EQ(FakeUiSnapshot().catalogue.size(), 4u);
    EXPECT_EQ(FakeUiSnapshot().catalogue.back(), "out1234.tap Data:  (0)");
    EXPECT_EQ(NextTapeNumber, 1235);
    char name[32];
    TapeFileName(name, sizeof name, NextTapeNumber);
    EXPECT_STREQ(name, "out1235.tap");
}

TEST_F(CatalogueTest, OnlyTheExactNameFormCounts)
{
    for (const char* name : {"out01.tap", "out0005.tap", "out005.tap.bak", "xout007.tap", "out-01.tap",
                             "out12a.tap", "out1234567890.tap"})
        WriteFileBytes(name, {0x00, 0x00});
    ScanTapeFiles();
    EXPECT_TRUE(FakeUiSnapshot().catalogue.empty());
    EXPECT_EQ(NextTapeNumber, 1);
}

TEST_F(CatalogueTest, UppercaseNamesCountBecauseWindowsWouldOpenThemAsTheSameFile)
{
    EXPECT_EQ(TapeFileNumber("OUT007.TAP"), 7);
    EXPECT_EQ(TapeFileNumber("out007.tap"), 7);
    EXPECT_EQ(TapeFileNumber("out1000.tap"), 1000);
    EXPECT_EQ(TapeFileNumber("out01000.tap"), -1);
}

TEST_F(CatalogueTest, UnreadableEntryStillBlocksItsNumber)
{
    std::filesystem::create_directory("out004.tap");
    ScanTapeFiles();
    EXPECT_TRUE(FakeUiSnapshot().catalogue.empty());
    EXPECT_EQ(NextTapeNumber, 5);
}

// The Windows list is drawn again only when the rescan selects its last line: a scan that left
// that out would leave the list blank or stale on the screen, whatever it found.
TEST_F(CatalogueTest, EveryScanEndsWithTheListDrawnAgain)
{
    ScanTapeFiles();
    EXPECT_FALSE(FakeUiSnapshot().drawingHeld) << "empty directory";
    std::filesystem::create_directory("out002.tap");
    ScanTapeFiles();
    EXPECT_FALSE(FakeUiSnapshot().drawingHeld) << "only an unreadable entry";
    WriteFileBytes("out001.tap", {0x01, 0x00, 0xFF});
    ScanTapeFiles();
    FakeUi ui = FakeUiSnapshot();
    EXPECT_FALSE(ui.drawingHeld);
    EXPECT_EQ(ui.selected, 0);  // the last line described, not the unreadable entry after it
    std::filesystem::remove("out001.tap");
    ScanTapeFiles();
    ui = FakeUiSnapshot();
    EXPECT_FALSE(ui.drawingHeld) << "the last file gone";
    EXPECT_TRUE(ui.catalogue.empty());
    EXPECT_EQ(ui.selected, -1);
}

// A rescan runs after every block: it must not open again the files it has already described, yet
// see every change another program makes in TAPE.
TEST_F(CatalogueTest, RescanReadsOnlyNewOrChangedFiles)
{
    namespace fs = std::filesystem;
    WriteFileBytes("out001.tap", HeaderFile(0, "FIRST", 10));
    WriteFileBytes("out002.tap", {0x01, 0x00, 0xFF});
    ScanTapeFiles();
    const auto written = fs::last_write_time("out001.tap");

    // Same size and time: the line described before stays, so the file was not read again.
    WriteFileBytes("out001.tap", HeaderFile(0, "OTHER", 10));
    fs::last_write_time("out001.tap", written);
    ScanTapeFiles();
    EXPECT_EQ(FakeUiSnapshot().catalogue.front(), "out001.tap Head(Program):FIRST      10 (19)");

    // The decoder says it has written the file: described afresh.
    TapeFileChanged("out001.tap");
    ScanTapeFiles();
    EXPECT_EQ(FakeUiSnapshot().catalogue.front(), "out001.tap Head(Program):OTHER      10 (19)");

    // Another program grows one file, removes another and adds a third.
    WriteFileBytes("out001.tap", {0x02, 0x00, 0xFF, 0x00});
    fs::remove("out002.tap");
    WriteFileBytes("out005.tap", {0x01, 0x00, 0xFF});
    ScanTapeFiles();
    EXPECT_EQ(FakeUiSnapshot().catalogue, (Lines{"out001.tap Data:  (2)", "out005.tap Data:  (1)"}));
    EXPECT_EQ(NextTapeNumber, 6);
}

// Shutdown is never cleared, so it is tried in a child process.
TEST_F(CatalogueTest, ShutdownCutsTheListShortButNotTheNumber)
{
    for (const char* name : {"out001.tap", "out007.tap", "out010.tap"})
        WriteFileBytes(name, {0x01, 0x00, 0xFF});
    EXPECT_EXIT(
        {
            RequestShutdown();
            ScanTapeFiles();
            const FakeUi ui = FakeUiSnapshot();
            std::exit(NextTapeNumber == 11 && ui.catalogue.empty() && !ui.drawingHeld ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    ScanTapeFiles();
    EXPECT_EQ(FakeUiSnapshot().catalogue.size(), 3u);
}

// A file that shrinks while it is read: the words the read reached whole are the header's, the rest 0.
TEST(ReadTapHeaderTest, ReadCutShortKeepsTheWholeWordsItReached)
{
    Bytes file = HeaderFile(3, "CUT", 6912);
    file[16] = 0x34, file[17] = 0x12, file[18] = 0x78, file[19] = 0x56;
    TapHeader header;
    ASSERT_TRUE(ReadTapHeader(file.data(), 21, 21, &header));
    EXPECT_EQ(header.param1, 0x1234);
    EXPECT_EQ(header.param2, 0x5678);
    ASSERT_TRUE(ReadTapHeader(file.data(), 19, 21, &header));
    EXPECT_STREQ(header.name, "CUT       ");
    EXPECT_EQ(header.dataLength, 6912);
    EXPECT_EQ(header.param1, 0x1234);
    EXPECT_EQ(header.param2, 0);
    ASSERT_TRUE(ReadTapHeader(file.data(), 17, 21, &header));
    EXPECT_EQ(header.param1, 0);
    EXPECT_FALSE(ReadTapHeader(file.data(), 15, 21, &header));
}

struct LineCase {
    const char* what;
    Bytes file;
    const char* line;
};

class DescribeTest : public CoreTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(DescribeTest, Line)
{
    WriteFileBytes("out001.tap", GetParam().file);
    char line[128];
    DescribeTapeLine("out001.tap", line, sizeof line);
    EXPECT_STREQ(line, GetParam().line);
}

Bytes WithFlag(Bytes file, uint8_t flag)
{
    file[2] = flag;
    return file;
}

INSTANTIATE_TEST_SUITE_P(
    Files, DescribeTest,
    ::testing::Values(
        LineCase{"program", HeaderFile(0, "MYGAME", 0x4D2), "out001.tap Head(Program):MYGAME     1234 (19)"},
        LineCase{"array", HeaderFile(1, "NUMBERS", 10), "out001.tap Head(Array):NUMBERS    10 (19)"},
        LineCase{"chars", HeaderFile(2, "LETTERS", 10), "out001.tap Head(Array):LETTERS    10 (19)"},
        LineCase{"bytes", HeaderFile(3, "SCREEN$", 6912), "out001.tap Head(Bytes):SCREEN$    6912 (19)"},
        LineCase{"type 7", HeaderFile(7, "ODD", 5), "out001.tap Data:ODD        5 (19)"},
        LineCase{"zero in name", HeaderFile(0, std::string("AB\0CDEFGH", 9), 3), "out001.tap Head(Program):AB 3 (19)"},
        LineCase{"data flag", WithFlag(HeaderFile(0, "X", 3), 0xFF), "out001.tap Data:  (19)"},
        LineCase{"placeholder only", Bytes{0x20, 0x20}, "out001.tap Data:  (0)"},
        LineCase{"one byte", Bytes{0x20}, "out001.tap Data:  (-1)"},
        LineCase{"empty", Bytes{}, "out001.tap Data:  (-2)"},
        LineCase{"22 bytes", [] { Bytes b = HeaderFile(0, "LONG", 1); b.push_back(0); return b; }(),
                 "out001.tap Data:  (20)"}),
    [](const ::testing::TestParamInfo<LineCase>& info) {
        std::string name;
        for (char c : std::string(info.param.what))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

}  // namespace
