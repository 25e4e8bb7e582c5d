#include "report/panequeue.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// A list box as the user-interface thread keeps it: the queue's changes applied as LB_DELETESTRING,
// LB_ADDSTRING and LB_SETCURSEL would.
struct ListBox {
    Lines lines;
    int selected = -1;

    void Apply(const CatalogueChange& change)
    {
        if (!change.changed)
            return;
        ASSERT_LE(change.keep + change.remove, lines.size());
        ASSERT_EQ(change.keep + change.remove, lines.size()) << "only the tail is ever replaced";
        lines.resize(change.keep);
        if (selected >= static_cast<int>(lines.size()))
            selected = -1;
        lines.insert(lines.end(), change.add.begin(), change.add.end());
        if (change.reselect)
            selected = change.select;
    }
};

// The same operations carried out on the list at once, as the list box did when every change was
// sent to it: a rebuild's lines held until its selection.
struct DirectList {
    ListBox box;
    Lines held;
    bool rebuilding = false;

    void Reset() { held.clear(), rebuilding = true; }
    void Append(const std::string& line) { (rebuilding ? held : box.lines).push_back(line); }
    void SelectLast()
    {
        if (rebuilding) {
            box.lines = held;
            rebuilding = false;
        }
        box.selected = static_cast<int>(box.lines.size()) - 1;
    }
};

class PaneQueueTest : public ::testing::Test {
protected:
    void SetUp() override { ResetPaneQueue(); }
    void TearDown() override { ResetPaneQueue(); }
};

TEST_F(PaneQueueTest, StatusLinesComeOutInOneInsertionInTheirOrder)
{
    QueueStatusText("09:05:07 Read 19 bytes okey");
    QueueStatusText("\r\n");
    QueueHeaderText("Program:MYGAME    ");
    QueueStatusText("09:05:07 CRC summ ok");
    QueueStatusText("\r\n");
    EXPECT_EQ(TakeStatusText(), "09:05:07 Read 19 bytes okey\r\n09:05:07 CRC summ ok\r\n");
    EXPECT_EQ(TakeStatusText(), "");
    EXPECT_EQ(TakeHeaderText(), "Program:MYGAME    ");
}

TEST_F(PaneQueueTest, RebuildAfterABlockReplacesOnlyTheTail)
{
    ListBox box;
    QueueCatalogueReset();
    QueueCatalogueAppend("out001.tap Data:  (19)");
    QueueCatalogueSelectLast();
    QueueCatalogueAppend("out001.tap");
    box.Apply(TakeCatalogueChange());
    EXPECT_EQ(box.lines, (Lines{"out001.tap Data:  (19)", "out001.tap"}));
    EXPECT_EQ(box.selected, 0);

    QueueCatalogueReset();
    QueueCatalogueAppend("out001.tap Data:  (19)");
    QueueCatalogueAppend("out002.tap Data:  (6914)");
    QueueCatalogueSelectLast();
    QueueCatalogueAppend("out002.tap");
    const CatalogueChange change = TakeCatalogueChange();
    EXPECT_EQ(change.keep, 1u);
    EXPECT_EQ(change.remove, 1u);
    EXPECT_EQ(change.add, (Lines{"out002.tap Data:  (6914)", "out002.tap"}));
    box.Apply(change);
    EXPECT_EQ(box.selected, 1);
}

TEST_F(PaneQueueTest, HalfARebuildIsNeverTaken)
{
    QueueCatalogueReset();
    QueueCatalogueAppend("out001.tap Data:  (1)");
    EXPECT_FALSE(TakeCatalogueChange().changed);
    QueueCatalogueSelectLast();
    const CatalogueChange change = TakeCatalogueChange();
    EXPECT_TRUE(change.changed);
    EXPECT_EQ(change.add, (Lines{"out001.tap Data:  (1)"}));
    EXPECT_FALSE(TakeCatalogueChange().changed);
}

TEST_F(PaneQueueTest, EmptyRebuildStillSelectsSoTheOldSelectionGoes)
{
    QueueCatalogueReset();
    QueueCatalogueSelectLast();
    const CatalogueChange change = TakeCatalogueChange();
    EXPECT_TRUE(change.changed);
    EXPECT_TRUE(change.reselect);
    EXPECT_EQ(change.select, -1);
}

TEST_F(PaneQueueTest, RunEndIsTakenOnce)
{
    EXPECT_FALSE(TakeRunEnded());
    QueueRunEnded();
    EXPECT_TRUE(TakeRunEnded());
    EXPECT_FALSE(TakeRunEnded());
}

// Whatever the moments the user-interface thread takes its batches at, the list ends up with the
// lines and the selection it would have had with every change made at once.
TEST_F(PaneQueueTest, BatchesTakenAtAnyMomentEndAsTheDirectList)
{
    for (unsigned seed = 1; seed <= 200; ++seed) {
        ResetPaneQueue();
        std::mt19937 random(seed);
        DirectList direct;
        ListBox batched;
        for (int step = 0; step < 60; ++step) {
            const std::string line = "out" + std::to_string(random() % 12) + ".tap";
            switch (random() % 5) {
            case 0: QueueCatalogueReset(), direct.Reset(); break;
            case 1:
            case 2: QueueCatalogueAppend(line.c_str()), direct.Append(line); break;
            case 3: QueueCatalogueSelectLast(), direct.SelectLast(); break;
            case 4: batched.Apply(TakeCatalogueChange()); break;
            }
        }
        if (direct.rebuilding)
            QueueCatalogueSelectLast(), direct.SelectLast();
        batched.Apply(TakeCatalogueChange());
        ASSERT_EQ(batched.lines, direct.box.lines) << "seed " << seed;
        ASSERT_EQ(batched.selected, direct.box.selected) << "seed " << seed;
        ASSERT_FALSE(TakeCatalogueChange().changed);
    }
}

// The decoder thread queues while the user-interface thread takes: nothing is lost or reordered.
TEST_F(PaneQueueTest, TextQueuedWhileTakenArrivesWholeAndInOrder)
{
    std::string expected;
    for (int i = 0; i < 5000; ++i)
        expected += std::to_string(i) + "\r\n";
    std::thread decoder([] {
        for (int i = 0; i < 5000; ++i)
            QueueStatusText((std::to_string(i) + "\r\n").c_str());
    });
    std::string shown;
    while (shown.size() < expected.size())
        shown += TakeStatusText();
    decoder.join();
    EXPECT_EQ(shown, expected);
}

}  // namespace
