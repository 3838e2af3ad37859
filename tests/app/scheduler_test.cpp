// The scheduler's rules: queue order, successors after each kind of end,
// abandoned starts, start-up repair and shutdown.
#include <gtest/gtest.h>

#include "app/command_ids.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "settings/registry_paths.h"
#include "tests/app/frame_fixture.h"

namespace vardane::test {
namespace {

using IconList = std::vector<int>;

class SchedulerTest : public FrameTest {};

TEST_F(SchedulerTest, OneSlotQueueStartsSuccessorsInListOrderUntilStopAll) {
    AddTasks(3);
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    EXPECT_EQ(IconList({5, 8, 8}), Icons());
    EXPECT_EQ(TaskState::Running, FileState("101"));
    EXPECT_EQ(TaskState::Waiting, FileState("102"));
    EXPECT_EQ(TaskState::Waiting, FileState("103"));
    EXPECT_EQ(std::vector<std::string>({"101"}), engine.started);

    // Stop: the upper waiting row takes the slot once the task has ended.
    SelectIds({"101"});
    frame->OnCommand(ID_STOP);
    EXPECT_EQ(IconList({5, 8, 8}), Icons()) << "a stop only asks the task to stop";
    SlotRunning("101").EndFromWorker(TaskState::Stopped);
    EXPECT_EQ(IconList({7, 5, 8}), Icons());
    EXPECT_EQ("0.0 KB/s", frame->View().Rows()[0].Columns[4]);

    // Stop All: the waiting row is stopped at once, the running one ends
    // without a successor.
    frame->OnCommand(ID_STOP_ALL);
    EXPECT_EQ(IconList({7, 5, 7}), Icons());
    EXPECT_EQ(TaskState::Stopped, FileState("103"));
    SlotRunning("102").EndFromWorker(TaskState::Stopped);
    EXPECT_EQ(IconList({7, 7, 7}), Icons());
    EXPECT_EQ(std::vector<std::string>({"101", "102"}), engine.started);
    EXPECT_EQ(1, frame->Scheduler().FreeSlotCount());
}

TEST_F(SchedulerTest, CompletedRangedTaskFreesItsSlotForTheQueue) {
    AddTasks(3);
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    // The last ranged read finishes the file and marks the task as one that
    // starts nothing: the queue must go on all the same.
    FakeSlot& slot = SlotRunning("101");
    slot.Task().Finish(true);
    slot.EndFromWorker(TaskState::Completed);

    EXPECT_EQ(IconList({5, 8}), Icons());
    EXPECT_EQ(-1, RowOf("101"));
    EXPECT_EQ(std::vector<std::string>({"102", "103"}), ListIds(TaskList::Downloading));
    EXPECT_EQ(std::vector<std::string>({"101"}), ListIds(TaskList::Completed));
    EXPECT_EQ(TaskState::Completed, FileState("101"));
    EXPECT_EQ(std::vector<std::string>({"a.bin"}), host.alerts);
    EXPECT_EQ(std::vector<std::string>({"101", "102"}), engine.started);
}

// The last progress notice may be a second old when the task completes: the
// row must not keep its percent, position and speed.
TEST_F(SchedulerTest, ACompletedTaskShowsItsWholeSizeAtOnce) {
    SetSetting("Connection", "MaxTasks", "2");
    AddTasks(3);
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    frame->View().SelectView(TaskView::Completed);
    for (const char* id : {"101", "102"}) {
        FakeSlot& slot = SlotRunning(id);
        TaskDescriptor d = slot.Task().Snapshot();
        d.FileSize = 1000;
        d.Downloaded = 600;
        d.BestPercent = 60;
        d.AvgSpeedKB = 512;
        frame->OnTaskProgress(d);
        {
            std::lock_guard<std::mutex> lock(slot.Task().TaskLock);
            slot.Task().descriptor.FileSize = id == std::string("101") ? 1000 : 0;
            slot.Task().descriptor.Downloaded = 1000;  // 102: one stream of unknown size
        }
        slot.EndFromWorker(TaskState::Completed);
    }
    ASSERT_EQ(2u, frame->View().Rows().size());
    for (const TaskRow& row : frame->View().Rows()) {
        EXPECT_EQ("100%", row.Columns[1]) << row.Id();
        EXPECT_EQ("1000", row.Columns[2]);
        EXPECT_EQ("1000", row.Columns[3]);
        EXPECT_EQ("", row.Columns[4]);
        EXPECT_EQ(imgTaskCompleted, row.Icon);
    }
    EXPECT_EQ(100, frame->Queue().Find("101")->Percent());
}

TEST_F(SchedulerTest, FailureAndSingleStreamCompletionStartTheNextTask) {
    AddTasks(3);
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    SlotRunning("101").EndFromWorker(TaskState::Failed);
    EXPECT_EQ(IconList({6, 5, 8}), Icons());
    SlotRunning("102").EndFromWorker(TaskState::Completed);
    EXPECT_EQ(IconList({6, 5}), Icons());
    EXPECT_EQ(std::vector<std::string>({"101", "102", "103"}), engine.started);
}

TEST_F(SchedulerTest, StoppingAWaitingTaskTouchesNoSlot) {
    AddTasks(3);
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    SelectIds({"102"});
    frame->OnCommand(ID_STOP);
    EXPECT_EQ(IconList({5, 7, 8}), Icons());
    EXPECT_EQ(TaskState::Stopped, FileState("102"));
    EXPECT_FALSE(SlotRunning("101").Task().IsStopped());
    // The stopped task is skipped by the successor rule.
    SlotRunning("101").EndFromWorker(TaskState::Stopped);
    EXPECT_EQ(IconList({7, 7, 5}), Icons());
}

TEST_F(SchedulerTest, AbandonedStartShowsTheFailureAndStartsTheNextTask) {
    AddTasks(3);
    engine.failAtStart = {"101"};
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    // 101 could not start: its row shows the failure and 102 takes the slot
    // that 101 never used; 103 waits behind it.
    EXPECT_EQ(IconList({6, 5, 8}), Icons());
    EXPECT_EQ(TaskState::Failed, FileState("101"));
    EXPECT_EQ(std::vector<std::string>({"101", "102"}), engine.started);

    // A task without progress file is absent: starting it makes no file.
    frame->Operations().Start("999");
    EXPECT_FALSE(FileExists(ProgressFilePath(dir.Path(), "999")));
    EXPECT_EQ(std::vector<std::string>({"101", "102"}), engine.started);
}

TEST_F(SchedulerTest, MaxTasksAboveFourUsesTheFourSlots) {
    SetSetting("Connection", "MaxTasks", "9");
    for (int i = 0; i < 6; ++i) {
        AddTask(std::to_string(200 + i), "http://127.0.0.1/f" + std::to_string(i) + ".bin");
    }
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    EXPECT_EQ(IconList({5, 5, 5, 5, 8, 8}), Icons());
    EXPECT_EQ(0, frame->Scheduler().FreeSlotCount());
}

TEST_F(SchedulerTest, StartUpRepairsRunningAndWaitingTasksAndHonoursDownloadAtStart) {
    AddTask("101", "http://127.0.0.1/a.bin", TaskState::Running);
    AddTask("102", "http://127.0.0.1/b.bin", TaskState::Waiting);
    AddTask("103", "http://127.0.0.1/c.bin", TaskState::Failed);
    {
        CreateFrame(false);
        EXPECT_EQ(IconList({7, 7, 6}), Icons());
        EXPECT_EQ(TaskState::Stopped, FileState("101"));
        EXPECT_EQ(TaskState::Stopped, FileState("102"));
        EXPECT_TRUE(engine.started.empty());
        frame->Close();
    }
    SetSetting("General", "DownloadAtStart", "1");
    CreateFrame(true);
    EXPECT_EQ(IconList({5, 8, 8}), Icons());
}

TEST_F(SchedulerTest, ShutdownDrainsWorkersStartsNothingAndKeepsTheSpeedLimit) {
    SetSetting("Connection", "MaxTasks", "2");
    SetSetting("Connection", "SpeedLimit", "0");
    AddTasks(3);
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    EXPECT_EQ(IconList({5, 5, 8}), Icons());
    frame->Speed().OnSpeedLimitValue(300);  // unchecked: no effect
    {
        std::lock_guard<std::mutex> lock(ctx->SpeedLock);
        EXPECT_EQ(1024, ctx->SpeedLimitKB);
    }
    frame->Speed().SetSpeedLimitChecked(true);
    {
        std::lock_guard<std::mutex> lock(ctx->SpeedLock);
        EXPECT_EQ(300, ctx->SpeedLimitKB);
    }
    frame->Speed().OnSpeedLimitValue(120);
    EXPECT_EQ("120 KB/s", frame->Speed().SpeedLimitCaption());

    // The tasks end from worker threads only while Close pumps the loop.
    engine.endOnStop = true;
    frame->Close();
    for (FakeSlot* slot : engine.slots) {
        EXPECT_TRUE(slot->Idle());
    }
    EXPECT_EQ(std::vector<std::string>({"101", "102"}), engine.started);
    EXPECT_EQ(TaskState::Waiting, FileState("103"));

    RegistryKey key(ctx->registry);
    key.Open(RegRoot::CurrentUser, GroupKeyPath("Connection"), false);
    EXPECT_EQ("1", key.QueryString("SpeedLimit"));
    EXPECT_EQ("120", key.QueryString("SpeedLimitKBSec"));
}

TEST_F(SchedulerTest, SpeedLimitOffIsStoredAs1024) {
    SetSetting("Connection", "SpeedLimit", "1");
    SetSetting("Connection", "SpeedLimitKBSec", "50");
    CreateFrame();
    EXPECT_TRUE(frame->Speed().SpeedLimitChecked());
    EXPECT_EQ(50, frame->Speed().SpeedLimitSliderValue());
    frame->OnCommand(ID_SPEEDLIMIT_CHECK);
    frame->Close();
    RegistryKey key(ctx->registry);
    key.Open(RegRoot::CurrentUser, GroupKeyPath("Connection"), false);
    EXPECT_EQ("0", key.QueryString("SpeedLimit"));
    EXPECT_EQ("1024", key.QueryString("SpeedLimitKBSec"));
}

TEST_F(SchedulerTest, CategoryViewStillFeedsTheWholeQueue) {
    AddTasks(3);
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    // Show a category that holds none of the tasks.
    const TreeModel& tree = frame->Pane().Folders();
    TreeItem downloading = tree.Children(tree.Top())[0];
    ASSERT_FALSE(tree.Children(downloading).empty());
    frame->View().SelectFolderItem(tree.Children(downloading)[0]);
    EXPECT_TRUE(frame->View().Rows().empty());
    SlotRunning("101").EndFromWorker(TaskState::Stopped);
    EXPECT_EQ(std::vector<std::string>({"101", "102"}), engine.started);
}

}  // namespace
}  // namespace vardane::test
