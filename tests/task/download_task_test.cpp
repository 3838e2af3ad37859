#include "task/download_task.h"

#include <gtest/gtest.h>

#include "tests/task/task_test_root.h"

namespace vardane {
namespace {

using test::TaskTestRoot;

class DownloadTaskTest : public ::testing::Test {
  protected:
    TaskTestRoot root;
    AppContext ctx{DataRoot{root.AppDir(), ""}};
    DownloadTask task{ctx};
};

// A slot reused for the next task carries nothing of the last one over.
TEST_F(DownloadTaskTest, ResetClearsTheTask) {
    task.descriptor.Host = "h";
    task.descriptor.FileSize = 9;
    task.descriptor.RangeMode = false;
    task.descriptor.Blocks = TaskBlocks{};
    task.descriptor.LocalDir = "/d/";
    task.descriptor.LocalFileName = "f.zip";
    EXPECT_EQ(task.TempPath(), "/d/f.zip.vd~");
    task.Reset();
    TaskDescriptor d = task.Snapshot();
    EXPECT_FALSE(d.Blocks.has_value());
    EXPECT_EQ(d.Host, "");
    EXPECT_EQ(d.FileSize, 0);
    EXPECT_TRUE(d.RangeMode);
    EXPECT_EQ(task.LocalPath(), "");
}

TEST_F(DownloadTaskTest, BlockUsedStateIsTracedForRealIndexesOnly) {
    std::vector<std::string> trace;
    task.TraceHook = [&](const std::string& line) { trace.push_back(line); };
    task.SetBlockUsedState(-1, true);
    EXPECT_TRUE(trace.empty());

    task.SetBlockUsedState(2, true);  // no block array yet: only the trace
    task.descriptor.Blocks = TaskBlocks{};
    task.SetBlockUsedState(2, true);
    EXPECT_TRUE((*task.descriptor.Blocks)[2].Lock);
    task.SetBlockUsedState(2, false);
    task.SetBlockUsedState(9, true);  // beyond the array: nothing touched
    EXPECT_EQ(trace, (std::vector<std::string>{
                         "SetBlockUsedState,iID=2,bLock=1", "SetBlockUsedState,iID=2,bLock=1",
                         "SetBlockUsedState,iID=2,bLock=0", "SetBlockUsedState,iID=9,bLock=1"}));
    EXPECT_FALSE((*task.descriptor.Blocks)[2].Lock);
}

TEST_F(DownloadTaskTest, ThreadLogKeepsAtMostThirtyEntriesDroppedInOneGo) {
    for (int i = 0; i < 30; ++i) {
        task.AppendThreadLog(1, TaskLogEntry{"id", 1, LogKind::Info, "line " + std::to_string(i)});
    }
    EXPECT_EQ(task.ThreadLog(1).size(), 30u);
    task.AppendThreadLog(1, TaskLogEntry{"id", 1, LogKind::Error, "31st"});
    ASSERT_EQ(task.ThreadLog(1).size(), 1u);
    EXPECT_EQ(task.ThreadLog(1)[0].Text, "31st");
    EXPECT_TRUE(task.ThreadLog(0).empty());
    task.ClearThreadLogs();
    EXPECT_TRUE(task.ThreadLog(1).empty());
}

}  // namespace
}  // namespace vardane
