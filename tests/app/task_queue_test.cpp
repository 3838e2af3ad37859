// The task queue through its own interface: change notices a list model can
// follow one by one, the load rules, and the operations by id, which leave
// what a window shows and selects alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "app/task_queue.h"
#include "platform/file.h"
#include "tests/app/frame_fixture.h"

namespace vardane::test {
namespace {

// A list model that only follows the notices, as a Qt model would.
class MirrorModel : public ITaskQueueListener {
  public:
    explicit MirrorModel(const TaskQueue& queue) : source(queue) {}
    void OnTaskInserted(TaskList list, int index) override {
        log.push_back("insert " + std::to_string(index));
        rows.insert(rows.begin() + index, source.Tasks(list)[index].Id);
    }
    void OnTaskRemoved(TaskList, int index, const std::string& id) override {
        log.push_back("remove " + std::to_string(index));
        EXPECT_EQ(rows.at(index), id);
        rows.erase(rows.begin() + index);
    }
    void OnTaskMoved(TaskList, int from, int to) override {
        log.push_back("move " + std::to_string(from) + ">" + std::to_string(to));
        std::string id = rows.at(from);
        rows.erase(rows.begin() + from);
        rows.insert(rows.begin() + to, id);
    }
    void OnTaskChanged(TaskList, int index, unsigned fields) override {
        log.push_back("change " + std::to_string(index) + " " + std::to_string(fields));
    }
    std::vector<std::string> Ids(TaskList list) const {
        std::vector<std::string> ids;
        for (const QueuedTask& task : source.Tasks(list)) {
            ids.push_back(task.Id);
        }
        return ids;
    }

    const TaskQueue& source;
    std::vector<std::string> rows;
    std::vector<std::string> log;
};

class TaskQueueTest : public FrameTest {};

TEST_F(TaskQueueTest, NoticesLetAModelFollowAddsMovesAndRemovals) {
    for (const char* id : {"1", "2", "3", "4", "5"}) {
        AddTask(id, "http://127.0.0.1/x.bin");
    }
    TaskQueue queue(dir.Path());
    MirrorModel model(queue);
    queue.AddListener(&model);
    queue.Load();
    model.rows = model.Ids(TaskList::Downloading);

    ASSERT_TRUE(queue.Swap("1", "4"));
    ASSERT_TRUE(queue.Move("2", 4));
    ASSERT_TRUE(queue.Remove("3"));
    AddTask("6", "http://127.0.0.1/y.bin");
    ASSERT_TRUE(queue.Append(TaskList::Downloading, "6", false));
    ASSERT_TRUE(queue.SetState("5", TaskState::Waiting));
    EXPECT_FALSE(queue.Append(TaskList::Completed, "6")) << "an id stands in one list only";

    EXPECT_EQ(model.rows, model.Ids(TaskList::Downloading));
    EXPECT_EQ(model.rows, ListIds(TaskList::Downloading)) << "the list file follows the queue";
    EXPECT_EQ((std::vector<std::string>{"move 0>3", "move 2>0", "move 1>4", "remove 1", "insert 4",
                                        "change 2 1"}),
              model.log);
    EXPECT_EQ(TaskState::Waiting, FileState("5"));
}

TEST_F(TaskQueueTest, AFileOneByteShortIsNotTakenForCompleted) {
    AddTask("1", "http://127.0.0.1/short.bin");
    AddTask("2", "http://127.0.0.1/huge.bin");
    AddTask("3", "http://127.0.0.1/full.bin");
    auto setSize = [&](const std::string& id, const std::string& pos, const std::string& size) {
        UpdateProgress(ProgressFilePath(dir.Path(), id), [&](TaskProgressRecord& r) {
            r.FilePos = pos;
            r.FileSize = size;
        });
    };
    setSize("1", "9999", "10000");
    setSize("2", "1152921504606846975", "1152921504606846976");  // 2^60 - 1 of 2^60
    setSize("3", "10000", "10000");
    CreateFrame();
    const std::vector<QueuedTask>& tasks = frame->Queue().Tasks(TaskList::Downloading);
    ASSERT_EQ(3u, tasks.size());
    EXPECT_EQ(TaskState::Stopped, tasks[0].State);
    EXPECT_EQ("99%", frame->View().Rows()[0].Columns[1]);
    EXPECT_EQ(TaskState::Stopped, tasks[1].State);
    EXPECT_EQ("99%", frame->View().Rows()[1].Columns[1]);
    EXPECT_EQ(TaskState::Stopped, FileState("2"));
    EXPECT_EQ(TaskState::Completed, tasks[2].State);
    EXPECT_EQ(TaskState::Completed, FileState("3"));
}

class CountReads : public IProgressFileObserver {
  public:
    CountReads() { SetProgressFileObserver(this); }
    ~CountReads() override { SetProgressFileObserver(nullptr); }
    void OnProgressRead(const std::string&) override { ++reads; }
    void OnProgressWritten(const std::string&, const std::string&) override {}
    int reads = 0;
};

// The queue answers lookups and writes states from the records it holds: the
// record a run hands back (blocks and all) is what a later state is written
// over, so a stop or a completion never puts back what the file held before
// the run.
TEST_F(TaskQueueTest, StatesAreWrittenFromTheAdoptedRecordWithoutReadingTheFile) {
    AddTask("1", "http://127.0.0.1/a.bin");
    AddTask("2", "http://127.0.0.1/b.bin", TaskState::Completed, TaskList::Completed);
    TaskQueue queue(dir.Path());
    queue.Load();
    CountReads counted;
    EXPECT_EQ(queue.DownloadingTaskOfUrl("HTTP://127.0.0.1/A.BIN"), "1");
    EXPECT_EQ(queue.DownloadingTaskOfUrl("http://127.0.0.1/b.bin"), "");  // completed

    TaskProgressRecord ran = queue.Find("1")->Record();
    ran.State = "0";
    ran.LocalTempFileName = "a.bin.vd~";
    ran.FileSize = "1000";
    ran.FilePos = "400";
    ran.Block = {"401-500", "501-1000", "0-0", "0-0"};
    ASSERT_TRUE(WriteProgress(ran, ProgressFilePath(dir.Path(), "1")));
    queue.Adopt("1", &ran);
    ASSERT_TRUE(queue.SetState("1", TaskState::Stopped));
    EXPECT_EQ(counted.reads, 0);
    TaskProgressRecord expected = ran;
    expected.State = "2";
    std::string disk;
    ASSERT_TRUE(ReadFileBytes(ProgressFilePath(dir.Path(), "1"), disk));
    EXPECT_EQ(disk, FormatProgress(expected));
}

TEST_F(TaskQueueTest, OperationsByIdLeaveTheViewAndTheSelectionAlone) {
    AddTasks(4);
    CreateFrame();
    SelectIds({"104"});

    frame->Operations().Start("101");
    frame->Operations().Start("102");  // one slot: waits
    frame->Operations().Start("103");
    frame->Operations().Stop("102");
    const TaskQueue& queue = frame->Queue();
    EXPECT_EQ(TaskState::Running, queue.Find("101")->State);
    EXPECT_EQ(TaskState::Stopped, queue.Find("102")->State);
    EXPECT_EQ(TaskState::Waiting, queue.Find("103")->State) << "a stop by id touches one task";
    EXPECT_EQ(std::vector<std::string>({"101"}), engine.started);

    frame->Operations().Move({"103"}, MoveKind::Top);
    EXPECT_EQ((std::vector<std::string>{"103", "101", "102", "104"}),
              ListIds(TaskList::Downloading));
    ASSERT_TRUE(frame->Operations().Delete({"102"}));
    EXPECT_EQ((std::vector<std::string>{"102"}), ListIds(TaskList::Deleted));

    EXPECT_EQ(TaskView::Downloading, frame->Pane().CurrentView());
    EXPECT_EQ(std::vector<int>({2}), frame->View().SelectedRows()) << "104 stays selected";
    EXPECT_EQ("104", frame->View().Rows()[2].Id());

    // The scheduler takes the next waiting task by its state, wherever the
    // window looks.
    frame->View().SelectView(TaskView::Completed);
    SlotRunning("101").EndFromWorker(TaskState::Stopped);
    EXPECT_EQ(TaskState::Running, queue.Find("103")->State);
    EXPECT_EQ(TaskView::Completed, frame->Pane().CurrentView());
}

// A list that is not a list (random bytes, a folder) would read as empty and
// the next change would rewrite it without its tasks.
TEST_F(TaskQueueTest, ABadListIsSetAsideAndRebuiltFromTheProgressFiles) {
    AddTasks(3);
    ASSERT_TRUE(WriteListFile(ListFilePath(dir.Path(), TaskList::Deleted), {"103"}));
    const std::string list = ListFilePath(dir.Path(), TaskList::Downloading);
    for (bool folder : {false, true}) {
        RemoveFile(list);
        if (folder) {
            ASSERT_TRUE(MakeDirectories(list));
        } else {
            ASSERT_TRUE(WriteFileAtomic(list, std::string("\x01\xfe garbage\n\x9c\x00zz", 16)));
        }
        TaskQueue queue(dir.Path());
        std::vector<std::string> problems = queue.Load();
        ASSERT_EQ(1u, problems.size());
        EXPECT_NE(std::string::npos, problems[0].find("Downloading.lst")) << problems[0];
        EXPECT_EQ((std::vector<std::string>{"101", "102"}), ListIds(TaskList::Downloading));
        EXPECT_EQ((std::vector<std::string>{"103"}), ListIds(TaskList::Deleted));
        EXPECT_EQ(2u, queue.Tasks(TaskList::Downloading).size());
        EXPECT_TRUE(queue.Load().empty()) << "the rebuilt list reads as sound";
    }
}

// A move writes the target list first; one cut short by a crash leaves the
// id in both files, and the next load keeps it in the later list only.
TEST_F(TaskQueueTest, AMoveCutShortLeavesTheTaskInTheLaterListNeverInNone) {
    AddTasks(3);
    {
        TaskQueue queue(dir.Path());
        queue.Load();
        MirrorModel model(queue);
        queue.AddListener(&model);
        model.rows = model.Ids(TaskList::Downloading);
        // Out of row 0 of Downloading, into row 0 of Completed.
        ASSERT_TRUE(queue.MoveToList("101", TaskList::Completed));
        EXPECT_FALSE(queue.MoveToList("101", TaskList::Downloading));
        EXPECT_EQ(model.log, (std::vector<std::string>{"remove 0", "insert 0"}));
        queue.RemoveListener(&model);
    }
    EXPECT_EQ((std::vector<std::string>{"102", "103"}), ListIds(TaskList::Downloading));
    EXPECT_EQ((std::vector<std::string>{"101"}), ListIds(TaskList::Completed));

    // As a crash between the two writes of moving 102 would leave them.
    ASSERT_TRUE(WriteListFile(ListFilePath(dir.Path(), TaskList::Completed), {"101", "102"}));
    TaskQueue queue(dir.Path());
    EXPECT_TRUE(queue.Load().empty());
    EXPECT_EQ(1u, queue.Tasks(TaskList::Downloading).size());
    EXPECT_EQ(2u, queue.Tasks(TaskList::Completed).size());
    EXPECT_EQ((std::vector<std::string>{"103"}), ListIds(TaskList::Downloading));
    EXPECT_EQ((std::vector<std::string>{"101", "102"}), ListIds(TaskList::Completed));
}

// The list file whose write the sync seam fails ("" none).
std::string failingList;

int FailingSync(int fd) {
    char path[4096];
    ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof(path));
    std::string name(path, n > 0 ? static_cast<size_t>(n) : 0);
    if (!failingList.empty() && name.find("/" + failingList + ".tmp") != std::string::npos) {
        errno = EIO;
        return -1;
    }
    return ::fsync(fd);
}

// A move writes the target list, then the source: whichever write fails, the
// task is still listed after a reload (in the source, or in the later list).
TEST_F(TaskQueueTest, AMoveWhoseWriteFailsLeavesTheTaskListed) {
    AddTasks(2);
    const struct {
        const char* failing;
        TaskList after;
    } cases[] = {{"Deleted.lst", TaskList::Downloading}, {"Downloading.lst", TaskList::Deleted}};
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteListFile(ListFilePath(dir.Path(), TaskList::Downloading), {"101", "102"}));
        ASSERT_TRUE(WriteListFile(ListFilePath(dir.Path(), TaskList::Deleted), {}));
        {
            TaskQueue queue(dir.Path());
            ASSERT_TRUE(queue.Load().empty());
            failingList = c.failing;
            SetSyncFunctionForTest(FailingSync);
            EXPECT_FALSE(queue.MoveToList("101", TaskList::Deleted)) << c.failing;
            SetSyncFunctionForTest(nullptr);
            failingList.clear();
        }
        TaskQueue reloaded(dir.Path());
        EXPECT_TRUE(reloaded.Load().empty());
        EXPECT_EQ(c.after, reloaded.ListOf("101")) << c.failing;
        EXPECT_EQ(TaskList::Downloading, reloaded.ListOf("102"));
    }
}

// A progress file that is missing (a restore under way) shows no row, but
// its line survives every rewrite of the list until its own delete.
TEST_F(TaskQueueTest, ALineWhoseRecordIsMissingIsKeptUntilItsOwnDelete) {
    AddTasks(4);
    const std::string record = ProgressFilePath(dir.Path(), "102");
    const std::string saved = ReadFile(record);
    ASSERT_TRUE(RemoveFile(record));
    CreateFrame();
    EXPECT_EQ(3u, frame->View().Rows().size());
    EXPECT_EQ((std::vector<std::string>{"102"}),
              frame->Queue().UnreadableIds(TaskList::Downloading));

    ASSERT_TRUE(frame->Operations().Delete({"101"}));
    frame->Operations().Move({"104"}, MoveKind::Top);
    frame->Operations().Start("103");
    SlotRunning("103").EndFromWorker(TaskState::Completed);
    EXPECT_EQ((std::vector<std::string>{"102", "104"}), ListIds(TaskList::Downloading));

    // Restored: the next load shows it where it stood.
    ASSERT_TRUE(WriteFileAtomic(record, saved));
    TaskQueue reloaded(dir.Path());
    reloaded.Load();
    EXPECT_EQ("102", reloaded.Tasks(TaskList::Downloading).at(0).Id);

    // Gone again: its own delete moves the line, and a second one drops it.
    ASSERT_TRUE(RemoveFile(record));
    ASSERT_TRUE(frame->Operations().Delete({"102"}));
    EXPECT_EQ((std::vector<std::string>{"104"}), ListIds(TaskList::Downloading));
    EXPECT_EQ((std::vector<std::string>{"101", "102"}), ListIds(TaskList::Deleted));
    ASSERT_TRUE(frame->Operations().Delete({"102"}));
    EXPECT_EQ((std::vector<std::string>{"101"}), ListIds(TaskList::Deleted));
}

}  // namespace
}  // namespace vardane::test
