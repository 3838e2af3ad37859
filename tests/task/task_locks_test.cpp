// Runs under ThreadSanitizer: the task's operations from several threads at
// once, as workers, the slot thread and the window thread use them.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/text.h"
#include "task/download_task.h"
#include "task/progress_file.h"
#include "task/url.h"
#include "tests/task/task_test_root.h"

namespace vardane {
namespace {

TEST(TaskLocks, ConcurrentProgressAndStateUpdatesNeitherDeadlockNorTearTheFile) {
    test::TaskTestRoot root;
    AppContext ctx(DataRoot{root.AppDir(), ""});
    DownloadTask task(ctx);
    std::string path = ProgressFilePath(root.AppDir(), "1");
    TaskProgressRecord initial;
    initial.BaseURL = "http://u:secret@h/f.zip";
    ASSERT_TRUE(WriteProgress(initial, path));
    AdoptTaskRecord(task, initial, FormatProgress(initial));
    task.descriptor.ProgressPath = path;
    task.descriptor.Blocks = TaskBlocks{};
    task.SetStop(false);

    constexpr int kThreads = 4;
    constexpr int kRounds = 25;
    std::vector<std::thread> workers;
    task.AddRunningThreads(kThreads);  // counted before any of them runs
    for (int n = 0; n < kThreads; ++n) {
        workers.emplace_back([&task, n] {
            for (int i = 0; i < kRounds; ++i) {
                {
                    std::lock_guard lock(task.TaskLock);  // the receive path
                    task.descriptor.Downloaded += 1;
                    (*task.descriptor.Blocks)[n].From += 1;
                }
                task.SetBlockUsedState(n, i % 2 == 0);
                task.SetFileSize(1000 + i);
                SaveProgress(task);
                task.SetState(i % 2 ? TaskState::Running : TaskState::Waiting);
                task.AppendThreadLog(n, TaskLogEntry{"1", n, LogKind::Info, "x"});
                EXPECT_FALSE(task.IsStopped());
                EXPECT_TRUE(ParseUrl(task, "http://h/f.zip"));
                (void)task.Snapshot();
            }
            if (task.AddRunningThreads(-1) == 0) {
                task.Finish(false);  // the last one ends the task, exactly once
            }
        });
    }
    for (int i = 0; i < kRounds; ++i) {  // the window thread reading the logs
        for (int n = 0; n < kThreads; ++n) {
            (void)task.ThreadLog(n);
        }
    }
    for (std::thread& t : workers) {
        t.join();
    }
    EXPECT_EQ(task.GetRunningThreads(), 0);
    EXPECT_TRUE(task.IsStopped());
    EXPECT_EQ(task.GetDownloaded(), kThreads * kRounds);
    SaveProgress(task);
    TaskProgressRecord r = ReadProgress(path);
    EXPECT_EQ(r.BaseURL, "http://u:secret@h/f.zip");
    EXPECT_EQ(r.FilePos, IntToText(kThreads * kRounds));
    EXPECT_EQ(r.Block[3], IntToText(kRounds) + "-0");
}

}  // namespace
}  // namespace vardane
