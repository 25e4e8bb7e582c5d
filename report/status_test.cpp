#include "report/status.h"

#include <thread>

#include "tests/fake_ui.h"
#include "tests/test_support.h"

namespace {

class StatusTest : public CoreTest {};

TEST_F(StatusTest, PaneGetsTheTimeStampAndTheFileOnlyTheMessage)
{
    FakeUiSetClock(9, 5, 7);
    LogStatus("Pilot stable.");
    EXPECT_EQ(FakeUiSnapshot().statusPane, "09:05:07 Pilot stable.\r\n");
    EXPECT_EQ(ReadFileText("status.log"), "Pilot stable.\r\n");
}

TEST_F(StatusTest, BlankSeparatorLine)
{
    FakeUiSetClock(23, 59, 0);
    LogStatus(" ");
    EXPECT_EQ(FakeUiSnapshot().statusPane, "23:59:00  \r\n");
    EXPECT_EQ(ReadFileText("status.log"), " \r\n");
}

TEST_F(StatusTest, LogFileGrowsAcrossRunsAndKeepsItsBytes)
{
    WriteFileBytes("status.log", {'o', 'l', 'd', '\r', '\n'});
    LogStatus("OnIDC_STOP -> ошибка функции waveInReset");
    const std::string expected = std::string("old\r\n") + "OnIDC_STOP -> \xEE\xF8\xE8\xE1\xEA\xE0 \xF4\xF3\xED\xEA\xF6\xE8\xE8 waveInReset\r\n";
    EXPECT_EQ(ReadFileText("status.log"), expected);
}

TEST_F(StatusTest, HeaderPaneHasNoTimeStampAndNoFile)
{
    ShowText("Wait 6912 bytes");
    EXPECT_EQ(FakeUiSnapshot().headerPane, "Wait 6912 bytes\r\n");
    EXPECT_FALSE(std::filesystem::exists("status.log"));
}

TEST_F(StatusTest, UnwritableLogStillShowsTheMessage)
{
    std::filesystem::create_directory("status.log");
    LogStatus("CRC summ ok");
    EXPECT_EQ(FakeUiSnapshot().statusPane, "09:05:07 CRC summ ok\r\n");
}

TEST_F(StatusTest, TwoThreadsNeverInterleaveWithinAMessage)
{
    const std::string a(200, 'a'), b(200, 'b');
    auto writer = [](const std::string& message) {
        for (int i = 0; i < 300; ++i)
            LogStatus(message.c_str());
    };
    std::thread first(writer, a), second(writer, b);
    first.join();
    second.join();
    const std::string log = ReadFileText("status.log");
    int lines = 0;
    for (size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2, ++lines) {
        const std::string line = log.substr(start, end - start);
        ASSERT_TRUE(line == a || line == b) << "line " << lines;
    }
    EXPECT_EQ(lines, 600);
}

}  // namespace
