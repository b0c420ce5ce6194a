#include "DebugLog.h"
#include "FaultHarness.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

struct FakeClockLog : DebugLog {
    Clock::time_point t{std::chrono::seconds(1'000'000)};
    FakeClockLog() {
        now = [this] { return t; };
        dateTimeText = [](Clock::time_point) { return std::string("2026/12/10 9:30:00"); };
    }
};

} // namespace

TEST(DebugLog, WritesTimestampsAndLinesWhileOn) {
    TempDir dir;
    FakeClockLog log;
    log.DebugMode = true;
    log.OpenDebugLog(dir / "song.txt");
    ASSERT_TRUE(log.IsOpen());
    log.DebugPrint("range:%d vol:%f\n", 20, 1.5);
    log.t += std::chrono::milliseconds(7900);
    log.WriteLogTimestamp();
    log.t += std::chrono::seconds(3);
    log.CloseDebugLog();
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(ReadText(dir / "song.txt"),
              "2026/12/10 9:30:00  0二阶段\nrange:20 vol:1.500000\n2026/12/10 9:30:00  7二阶段\n"
              "2026/12/10 9:30:00  10二阶段\n");
}

TEST(DebugLog, OffCreatesNothingAndLeavesAStaleFileAlone) {
    TempDir dir;
    WriteText(dir / "song.txt", "my lyrics");
    FakeClockLog log;
    log.OpenDebugLog(dir / "song.txt");
    log.DebugPrint("x\n");
    log.CloseDebugLog();
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(ReadText(dir / "song.txt"), "my lyrics");
}

TEST(DebugLog, SwitchingOffMidRunStopsWritingAndTheLogIsNeverReused) {
    TempDir dir;
    FakeClockLog log;
    log.DebugMode = true;
    log.OpenDebugLog(dir / "a.txt");
    log.DebugMode = false;
    log.DebugPrint("hidden\n");
    log.DebugMode = true;
    log.DebugPrint("shown\n");
    log.DebugMode = false;
    log.CloseDebugLog(); // closes without a last line
    EXPECT_FALSE(log.IsOpen());
    log.DebugMode = true;
    log.DebugPrint("after\n"); // no log open: nothing anywhere
    EXPECT_EQ(ReadText(dir / "a.txt"), "2026/12/10 9:30:00  0二阶段\nshown\n");

    // A log left open when the next run starts with the mode off is closed.
    log.OpenDebugLog(dir / "b.txt");
    log.DebugMode = false;
    log.OpenDebugLog(dir / "c.txt");
    EXPECT_FALSE(log.IsOpen());
    log.DebugMode = true;
    log.DebugPrint("late\n");
    EXPECT_EQ(ReadText(dir / "b.txt"), "2026/12/10 9:30:00  0二阶段\n");
}

TEST(DebugLog, AFileThatCannotBeCreatedLeavesNoLog) {
    TempDir dir;
    FakeClockLog log;
    log.DebugMode = true;
    log.OpenDebugLog(dir / "missing/song.txt");
    EXPECT_FALSE(log.IsOpen());
    log.DebugPrint("x\n");
    log.CloseDebugLog();
}

// The log is a file of the program's own: whatever had its name gives way,
// and a link planted there is never written through.
TEST(DebugLog, APlantedLinkIsReplacedNotWrittenThrough) {
    TempDir dir, decoys;
    for (PlantedLink kind : kPlantedLinks) {
        SCOPED_TRACE(Describe(kind));
        const std::string at = dir / ("song" + std::to_string(int(kind)) + ".txt");
        const std::string target = Plant(kind, at, decoys.path());
        FakeClockLog log;
        log.DebugMode = true;
        log.OpenDebugLog(at);
        log.DebugPrint("x\n");
        log.CloseDebugLog();
        EXPECT_FALSE(std::filesystem::is_symlink(at));
        EXPECT_EQ(ReadText(at), "2026/12/10 9:30:00  0二阶段\nx\n2026/12/10 9:30:00  0二阶段\n");
        EXPECT_TRUE(Untouched(kind, target));
    }
}
