// Task commands and views: delete, download again, moves, import, row
// building and the log list.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "app/command_ids.h"
#include "dialogs/edit_task_dialog.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "task/progress_file.h"
#include "task/task_list.h"
#include "tests/app/frame_fixture.h"

namespace vardane::test {
namespace {

using Ids = std::vector<std::string>;

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class CommandsTest : public FrameTest {
  protected:
    TaskProgressRecord Record(const std::string& id) const {
        return ReadProgress(ProgressFilePath(dir.Path(), id));
    }
    Ids RowIds() const {
        Ids ids;
        for (const TaskRow& row : frame->View().Rows()) {
            ids.push_back(row.Id());
        }
        return ids;
    }
};

TEST_F(CommandsTest, DeletingARunningTaskStopsItMovesItAndStartsTheNext) {
    AddTasks(2);
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    const std::string temp = dir.Path() + "Download/a.bin.vd~";
    ASSERT_TRUE(WriteFile(temp, "partial"));

    SelectIds({"101"});
    frame->OnCommand(ID_DELETE);
    ASSERT_EQ(1u, questions.asked.size());
    EXPECT_EQ(QuestionAnswer::No, questions.asked[0].Default);
    EXPECT_EQ(Ids({"102"}), RowIds());
    EXPECT_EQ(Ids({"102"}), ListIds(TaskList::Downloading));
    EXPECT_EQ(Ids({"101"}), ListIds(TaskList::Deleted));
    FakeSlot& slot = SlotRunning("101");
    EXPECT_TRUE(slot.Task().IsStopped());
    EXPECT_TRUE(FileExists(temp)) << "the workers may still write it";

    slot.EndFromWorker(TaskState::Stopped);
    EXPECT_FALSE(FileExists(temp));
    EXPECT_EQ(TaskState::Stopped, FileState("101"));
    EXPECT_EQ(TaskState::Stopped, frame->Queue().Find("101")->State);
    EXPECT_EQ(Ids({"101", "102"}), engine.started);
    EXPECT_EQ(Ids({"101"}), ListIds(TaskList::Deleted));
    EXPECT_TRUE(ListIds(TaskList::Completed).empty());
}

// The deleted list shows what the file says: a waiting task is stopped. A
// link planted at its temporary name is not followed into the file it names.
TEST_F(CommandsTest, ADeletedWaitingTaskIsStoppedInTheQueueAsInItsFile) {
    AddTasks(2);
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    ASSERT_EQ(TaskState::Waiting, frame->Queue().Find("102")->State);
    const std::string victim = dir.Path() + "victim.txt";
    ASSERT_TRUE(WriteFile(victim, "keep"));
    ASSERT_TRUE(MakeDirectories(dir.Path() + "Download/"));
    ASSERT_EQ(0, symlink(victim.c_str(), (dir.Path() + "Download/b.bin.vd~").c_str()));
    ASSERT_TRUE(frame->Operations().Delete({"102"}));
    EXPECT_EQ("keep", ReadFile(victim));
    EXPECT_TRUE(PathExists(dir.Path() + "Download/b.bin.vd~")) << "not ours to remove";
    EXPECT_EQ(TaskState::Stopped, FileState("102"));
    EXPECT_EQ(TaskState::Stopped, frame->Queue().Find("102")->State);
    frame->View().SelectView(TaskView::Deleted);
    EXPECT_EQ(std::vector<int>({imgTaskStopped}), Icons());
    SlotRunning("101").EndFromWorker(TaskState::Stopped);
    EXPECT_EQ(Ids({"101"}), engine.started) << "a deleted task never starts";
}

TEST_F(CommandsTest, DeleteAnsweredNoChangesNothingAndDeletedViewRemovesTheTask) {
    AddTask("101", "http://127.0.0.1/a.bin");
    CreateFrame();
    questions.answer = QuestionAnswer::No;
    frame->OnCommand(ID_DELETE_ALL);
    EXPECT_EQ(Ids({"101"}), ListIds(TaskList::Downloading));

    questions.answer = QuestionAnswer::Yes;
    frame->OnCommand(ID_DELETE_ALL);
    EXPECT_TRUE(ListIds(TaskList::Downloading).empty());
    frame->View().SelectView(TaskView::Deleted);
    EXPECT_EQ(Ids({"101"}), RowIds());
    frame->OnCommand(ID_DELETE_ALL);
    EXPECT_TRUE(ListIds(TaskList::Deleted).empty());
    EXPECT_FALSE(FileExists(ProgressFilePath(dir.Path(), "101")));
}

TEST_F(CommandsTest, DownloadAgainMakesAFreshTaskAtTheEndOfTheQueue) {
    AddTask("100", "http://127.0.0.1/z.bin");
    TaskProgressRecord done;
    done.BaseURL = "http://127.0.0.1/a.bin";
    done.LocalDir = dir.Path() + "Download/";
    done.LocalFileName = "a.bin";
    done.LocalTempFileName = "a.bin.vd~";
    done.State = "1";
    done.ThreadCount = "3";
    done.ProxyHTTP = "2";
    done.Folder = "1";
    done.Cat = "SOFTWARE\\Vardane\\Categories\\Downloaded\\Music";
    done.FileSize = "1000";
    done.FilePos = "1000";
    done.Block = {"251-250", "501-500", "1000-1000", "0-0"};
    WriteProgress(done, ProgressFilePath(dir.Path(), "101"));
    AppendListLine(ListFilePath(dir.Path(), TaskList::Completed), "101");
    CreateFrame();
    frame->View().SelectView(TaskView::Completed);
    SelectIds({"101"});
    frame->OnCommand(ID_REDOWNLOAD);

    EXPECT_EQ(TaskView::Downloading, frame->Pane().CurrentView());
    EXPECT_TRUE(ListIds(TaskList::Completed).empty());
    EXPECT_FALSE(FileExists(ProgressFilePath(dir.Path(), "101")));
    Ids downloading = ListIds(TaskList::Downloading);
    ASSERT_EQ(2u, downloading.size());
    EXPECT_EQ("100", downloading[0]);
    // Address, folder, name, connections and proxy carry over; the rest is
    // a new task's: stopped, in Downloading, no size, position or blocks.
    TaskProgressRecord fresh;
    fresh.BaseURL = done.BaseURL;
    fresh.LocalDir = done.LocalDir;
    fresh.LocalFileName = "a.bin";
    fresh.ThreadCount = "3";
    fresh.ProxyHTTP = "2";
    EXPECT_EQ(FormatProgress(fresh), FormatProgress(Record(downloading[1])));
    EXPECT_EQ(Ids({"100", downloading[1]}), RowIds());
    EXPECT_TRUE(engine.started.empty());
}

// The paths the sync hook was given (a file replaced since then still
// counts), from whichever thread called it.
std::mutex syncedLock;
std::set<std::string> synced;
int RecordingSync(int fd) {
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
    std::string name(path, n > 0 ? static_cast<size_t>(n) : 0);
    if (name.ends_with(" (deleted)")) {
        name.resize(name.size() - 10);
    }
    std::lock_guard lock(syncedLock);
    synced.insert(name);
    return 0;
}

// A new task starts without waiting for the disk: the dialog writes its two
// files unflushed, and the frame has them flushed once the task is started,
// at the latest before it closes.
TEST_F(CommandsTest, ANewTaskStartsBeforeItsFilesAreFlushedAndTheyAreFlushedByTheClose) {
    CreateFrame();
    synced.clear();
    SetSyncFunctionForTest(RecordingSync);
    EdtTaskDlg dialog(*ctx, questions);
    dialog.InitNew("http://127.0.0.1/new.bin");
    ASSERT_TRUE(dialog.Ok());
    std::set<std::string> whileWriting;
    {
        std::lock_guard lock(syncedLock);
        whileWriting = synced;
    }
    frame->Operations().Added(dialog.TaskId(), true);
    EXPECT_EQ(engine.started, Ids{dialog.TaskId()});
    engine.endOnStop = true;
    frame.reset();
    SetSyncFunctionForTest(nullptr);

    EXPECT_TRUE(whileWriting.empty());
    const std::string tasks = std::filesystem::canonical(dir.Path() + "Tasks").string();
    EXPECT_EQ(synced.count(tasks + "/" + dialog.TaskId() + ".pro~"), 1u);
    EXPECT_EQ(synced.count(tasks + "/Downloading.lst"), 1u);
    EXPECT_EQ(synced.count(tasks), 1u);
}

TEST_F(CommandsTest, DownloadAgainStartsAtOnceWhenTheDefaultSaysSo) {
    SetSetting("Default", "DownloadImmediately", "1");
    AddTask("101", "http://127.0.0.1/a.bin", TaskState::Completed, TaskList::Deleted);
    CreateFrame();
    frame->View().SelectView(TaskView::Deleted);
    SelectIds({"101"});
    frame->DownloadAgain();
    ASSERT_EQ(1u, engine.started.size());
    EXPECT_EQ(ListIds(TaskList::Downloading), engine.started);
    EXPECT_EQ(std::vector<int>({5}), Icons());
}

TEST_F(CommandsTest, MovesChangeRowsAndTheListFileAndStopAtTheEdges) {
    AddTasks(4);
    CreateFrame();
    SelectIds({"103"});
    frame->OnCommand(ID_MOVE_UP);
    EXPECT_EQ(Ids({"101", "103", "102", "104"}), ListIds(TaskList::Downloading));
    EXPECT_EQ(Ids({"101", "103", "102", "104"}), RowIds());
    EXPECT_EQ(std::vector<int>({1}), frame->View().SelectedRows());
    EXPECT_EQ("c.bin", frame->View().Rows()[1].Columns[0]);

    SelectIds({"101"});
    frame->OnCommand(ID_MOVE_UP);
    SelectIds({"104"});
    frame->OnCommand(ID_MOVE_DOWN);
    EXPECT_EQ(Ids({"101", "103", "102", "104"}), ListIds(TaskList::Downloading));

    // Two adjacent rows move together and keep their order.
    SelectIds({"101", "103"});
    frame->OnCommand(ID_MOVE_DOWN);
    EXPECT_EQ(Ids({"102", "101", "103", "104"}), ListIds(TaskList::Downloading));
    EXPECT_EQ(Ids({"102", "101", "103", "104"}), RowIds());
    EXPECT_EQ(std::vector<int>({1, 2}), frame->View().SelectedRows());
}

TEST_F(CommandsTest, MovingAWaitingTaskUpMakesItStartFirst) {
    AddTasks(3);
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    SelectIds({"103"});
    frame->OnCommand(ID_MOVE_UP);
    SlotRunning("101").EndFromWorker(TaskState::Stopped);
    EXPECT_EQ(Ids({"101", "103"}), engine.started);
}

// Counts the notices a bulk change sends and the durable writes of each
// list file (a list is replaced through a synced temporary file).
struct NoticeCounter : ITaskQueueListener {
    void OnTaskInserted(TaskList, int) override { ++single; }
    void OnTaskRemoved(TaskList, int, const std::string&) override { ++single; }
    void OnTaskMoved(TaskList, int, int) override { ++single; }
    void OnTaskChanged(TaskList, int, unsigned) override { ++single; }
    void OnListChanged(TaskList, bool) override { ++batches; }
    void OnListReordered(TaskList, const std::vector<int>&) override { ++batches; }
    int single = 0;
    int batches = 0;
};
std::map<std::string, int> listWrites;
int CountingSync(int fd) {
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
    const std::string name(path, n > 0 ? static_cast<size_t>(n) : 0);
    const size_t at = name.find(".lst.tmp-");
    if (at != std::string::npos) {
        ++listWrites[name.substr(name.rfind('/') + 1, at - name.rfind('/') - 1)];
    }
    return 0;
}

// 10,000 tasks moved, deleted and downloaded again, each in one operation:
// one write per list file and one notice per list, never one per task.
TEST_F(CommandsTest, BulkMoveDeleteAndDownloadAgainWriteEachListOnce) {
    constexpr int kTasks = 10000;
    Ids ids;
    for (int i = 0; i < kTasks; ++i) {
        TaskProgressRecord record;
        record.LocalFileName = "f" + std::to_string(i) + ".bin";
        record.LocalDir = dir.Path() + "Download/";
        record.BaseURL = "http://127.0.0.1/" + record.LocalFileName;
        record.State = "2";
        ids.push_back(std::to_string(100000 + i));
        ASSERT_TRUE(
            WriteProgress(record, ProgressFilePath(dir.Path(), ids.back()), Durability::Deferred));
    }
    ASSERT_TRUE(WriteListFile(ListFilePath(dir.Path(), TaskList::Downloading), ids));
    const std::string temp = dir.Path() + "Download/f7.bin.vd~";
    ASSERT_TRUE(MakeDirectories(dir.Path() + "Download/") && WriteFile(temp, "partial"));
    CreateFrame();
    NoticeCounter notices;
    frame->AddQueueListener(&notices);
    listWrites.clear();
    SetSyncFunctionForTest(CountingSync);

    // Every other task to the bottom: a stable partition, rows included.
    Ids odd;
    Ids expected;
    for (int i = 0; i < kTasks; i += 2) {
        expected.push_back(ids[i]);
        odd.push_back(ids[i + 1]);
    }
    expected.insert(expected.end(), odd.begin(), odd.end());
    frame->Operations().Move(odd, MoveKind::Bottom);
    EXPECT_EQ(expected, ListIds(TaskList::Downloading));
    EXPECT_EQ(expected, RowIds());
    EXPECT_EQ((std::map<std::string, int>{{"Downloading", 1}}), listWrites);
    EXPECT_EQ(1, notices.batches);

    // Select all + Del: rows walked from the bottom, one batch.
    frame->View().SelectAll();
    frame->OnCommand(ID_DELETE);
    EXPECT_TRUE(ListIds(TaskList::Downloading).empty());
    EXPECT_EQ(Ids(expected.rbegin(), expected.rend()), ListIds(TaskList::Deleted));
    EXPECT_TRUE(frame->View().Rows().empty());
    EXPECT_EQ("Total: 0 tasks", frame->View().FileCountText());
    EXPECT_FALSE(FileExists(temp));
    EXPECT_EQ((std::map<std::string, int>{{"Downloading", 2}, {"Deleted", 1}}), listWrites);
    EXPECT_EQ(3, notices.batches);

    frame->View().SelectView(TaskView::Deleted);
    ASSERT_TRUE(frame->Operations().Redownload(ListIds(TaskList::Deleted)));
    SetSyncFunctionForTest(nullptr);
    EXPECT_TRUE(ListIds(TaskList::Deleted).empty());
    const Ids fresh = ListIds(TaskList::Downloading);
    ASSERT_EQ(static_cast<size_t>(kTasks), fresh.size());
    EXPECT_EQ("http://127.0.0.1/f" + std::to_string(kTasks - 1) + ".bin", Record(fresh[0]).BaseURL);
    EXPECT_FALSE(FileExists(ProgressFilePath(dir.Path(), ids[0])));
    EXPECT_EQ((std::map<std::string, int>{{"Downloading", 3}, {"Deleted", 2}}), listWrites);
    EXPECT_EQ(5, notices.batches);
    EXPECT_EQ(0, notices.single);
    frame->RemoveQueueListener(&notices);
}

// A list of count addresses http://127.0.0.1/f<i>.bin.
std::string WriteAddressList(const TempDir& dir, int count) {
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines += "http://127.0.0.1/f" + std::to_string(i) + ".bin\n";
    }
    const std::string file = dir.Path() + "list.txt";
    EXPECT_TRUE(WriteFile(file, lines));
    return file;
}

TEST_F(CommandsTest, CancelledImportKeepsWhatItRead) {
    const std::string file = WriteAddressList(dir, 3000);
    CreateFrame();
    host.importChecksLeft = 1;  // the second look sees the Ctrl-C
    int count = frame->Operations().ImportFile(file);
    EXPECT_GT(count, 0);
    EXPECT_LT(count, 3000);
    Ids ids = ListIds(TaskList::Downloading);
    ASSERT_EQ(static_cast<size_t>(count), ids.size());
    EXPECT_EQ("http://127.0.0.1/f0.bin", Record(ids[0]).BaseURL);
}

// An import in steps leaves the model free between them: a command that
// changes the lists meanwhile is neither lost nor undone by the import.
TEST_F(CommandsTest, CommandsBetweenImportStepsKeepTheirEffect) {
    const std::string file = WriteAddressList(dir, 3000);
    AddTasks(2);
    CreateFrame();
    questions.answer = QuestionAnswer::Yes;
    std::unique_ptr<ImportRun> run = frame->Operations().BeginImport(file, false);
    ASSERT_TRUE(frame->Operations().ContinueImport(*run));
    SelectIds({"101"});
    frame->OnCommand(ID_DELETE);
    frame->Operations().Move({"102"}, MoveKind::Top);
    while (frame->Operations().ContinueImport(*run)) {
    }
    EXPECT_EQ(3000, frame->Operations().FinishImport(*run));
    Ids ids = ListIds(TaskList::Downloading);
    ASSERT_EQ(3001u, ids.size());
    EXPECT_EQ("102", ids[0]);
    EXPECT_EQ(Ids({"101"}), ListIds(TaskList::Deleted));
    EXPECT_EQ(3001u, std::set<std::string>(ids.begin(), ids.end()).size());
    EXPECT_EQ("http://127.0.0.1/f2999.bin", Record(ids.back()).BaseURL);
}

TEST_F(CommandsTest, ImportCountsValidAddressesOnly) {
    const std::string file = dir.Path() + "list.txt";
    ASSERT_TRUE(WriteFile(file,
                          "http://127.0.0.1/one.zip\r\n\r\nnot an address\r\n"
                          "ftp://127.0.0.1/pub/two.tar.gz\r\nhttp://127.0.0.1/dir/\r\n"
                          "http://127.0.0.1/get.cgi?f=three.bin\n"));
    SetSetting("Default", "ThreadCnt", "3");
    CreateFrame();
    EXPECT_EQ(3, frame->Operations().ImportFile(file));
    ASSERT_FALSE(questions.asked.empty());
    EXPECT_EQ("3 " + ctx->lang.GetLangText("Msg_ImportValidFilesCount"),
              questions.asked.back().Text);
    Ids ids = ListIds(TaskList::Downloading);
    ASSERT_EQ(3u, ids.size());
    EXPECT_EQ(ids, RowIds());
    TaskProgressRecord first = Record(ids[0]);
    EXPECT_EQ("http://127.0.0.1/one.zip", first.BaseURL);
    EXPECT_EQ("one.zip", first.LocalFileName);
    EXPECT_EQ("3", first.ThreadCount);
    EXPECT_EQ("2", first.State);
    EXPECT_EQ(WithTrailingSlash(ctx->settings.DownloadFolder), first.LocalDir);
    EXPECT_EQ("get.cgi", Record(ids[2]).LocalFileName);

    EXPECT_EQ(0, frame->Operations().ImportFile(dir.Path() + "missing.txt"));
    EXPECT_EQ("0 " + ctx->lang.GetLangText("Msg_ImportValidFilesCount"),
              questions.asked.back().Text);
}

// The count label follows every change of the rows (an import too), and a
// count of one takes the singular.
TEST_F(CommandsTest, CountTextsFollowTheRowsAndUseTheSingularForOne) {
    const std::string file = dir.Path() + "list.txt";
    CreateFrame();
    ASSERT_TRUE(WriteFile(file, "http://127.0.0.1/one.zip\n"));
    EXPECT_EQ(1, frame->Operations().ImportFile(file));
    EXPECT_EQ("1 address imported.", questions.asked.back().Text);
    EXPECT_EQ("Total: 1 task", frame->View().FileCountText());
    ASSERT_TRUE(WriteFile(file, "http://127.0.0.1/a.zip\nhttp://127.0.0.1/b.zip\n"));
    std::unique_ptr<ImportRun> run = frame->Operations().BeginImport(file, false);
    while (frame->Operations().ContinueImport(*run)) {
    }
    EXPECT_EQ(2, frame->Operations().FinishImport(*run));
    EXPECT_EQ("2 addresses imported.", questions.asked.back().Text);
    EXPECT_EQ("Total: 3 tasks", frame->View().FileCountText());
}

TEST_F(CommandsTest, RowsShowPercentSizeAndCorrectACompleteFile) {
    TaskProgressRecord full;
    full.LocalFileName = "full.bin";
    full.State = "2";
    full.FileSize = "400";
    full.FilePos = "400";
    WriteProgress(full, ProgressFilePath(dir.Path(), "101"));
    TaskProgressRecord part = full;
    part.LocalFileName = "part.bin";
    part.FilePos = "133";
    WriteProgress(part, ProgressFilePath(dir.Path(), "102"));
    TaskProgressRecord unknown;
    unknown.LocalFileName = "unknown.bin";
    unknown.FilePos = "77";
    WriteProgress(unknown, ProgressFilePath(dir.Path(), "103"));
    for (const char* id : {"101", "102", "103", "104"}) {
        AppendListLine(ListFilePath(dir.Path(), TaskList::Downloading), id);
    }
    CreateFrame();
    ASSERT_EQ(3u, frame->View().Rows().size()) << "a task without progress file shows no row";
    const TaskRow& r0 = frame->View().Rows()[0];
    EXPECT_EQ(imgTaskCompleted, r0.Icon);
    EXPECT_EQ("100%", r0.Columns[1]);
    EXPECT_EQ(TaskState::Completed, FileState("101"));
    const TaskRow& r1 = frame->View().Rows()[1];
    EXPECT_EQ(imgTaskStopped, r1.Icon);
    EXPECT_EQ("33%", r1.Columns[1]);
    EXPECT_EQ("400", r1.Columns[2]);
    EXPECT_EQ("133", r1.Columns[3]);
    EXPECT_EQ("", r1.Columns[4]);
    EXPECT_EQ("102", r1.Columns[5]);
    const TaskRow& r2 = frame->View().Rows()[2];
    EXPECT_EQ("??%", r2.Columns[1]);
    EXPECT_EQ("??", r2.Columns[2]);
    EXPECT_EQ("77", r2.Columns[3]);
}

TEST_F(CommandsTest, ProgressRefreshesTheRowAndTheLogListKeepsThirtyLines) {
    AddTask("101", "http://127.0.0.1/a.bin");
    CreateFrame();
    frame->OnCommand(ID_START_ALL);
    SelectIds({"101"});
    ASSERT_TRUE(frame->Log().LogTree().HasRoot);
    EXPECT_EQ(2, frame->Log().LogTree().ThreadCount);
    EXPECT_EQ(1, frame->Log().LogTree().SelectedThread);

    TaskDescriptor d = SlotRunning("101").Task().Snapshot();
    d.LocalFileName = "a(1).bin";
    d.FileSize = 0;
    d.Downloaded = 5000;
    d.AvgSpeedKB = 12.34;
    frame->OnTaskProgress(d);
    const TaskRow& row = frame->View().Rows()[0];
    EXPECT_EQ((std::array<std::string, 6>{"a(1).bin", "??%", "??", "5000", "12.3 KB/s", "101"}),
              row.Columns);
    EXPECT_EQ(imgTaskRunning, row.Icon);

    for (int i = 1; i <= 31; ++i) {
        frame->OnTaskLog(
            TaskLogEntry{"101", 0, static_cast<LogKind>(i % 4), "line " + std::to_string(i)});
        EXPECT_LE(frame->Log().LogList().size(), 30u);
    }
    ASSERT_EQ(1u, frame->Log().LogList().size());
    EXPECT_EQ("line 31", frame->Log().LogList()[0].Text);
    // Lines of another thread or task are not shown.
    frame->OnTaskLog(TaskLogEntry{"101", 1, LogKind::Info, "other thread"});
    frame->OnTaskLog(TaskLogEntry{"999", 0, LogKind::Info, "other task"});
    EXPECT_EQ(1u, frame->Log().LogList().size());

    // Two selected rows: no log tree.
    AddTask("102", "http://127.0.0.1/b.bin");
    frame->View().ReloadTaskList();
    frame->View().SelectAll();
    EXPECT_FALSE(frame->Log().LogTree().HasRoot);
}

TEST_F(CommandsTest, MenusFollowTheViewAndTheRootNodeSelectsDownloading) {
    CreateFrame();
    auto ids = [](const std::vector<MenuEntry>& menu) {
        std::vector<int> out;
        for (const MenuEntry& e : menu) {
            out.push_back(e.CommandId);
        }
        return out;
    };
    EXPECT_EQ(std::vector<int>({32783, 0, 32782, 32781, 32780, 0, 32778, 32777, 32776, 0, 32775}),
              ids(frame->Pane().ControlMenu()));
    frame->View().SelectView(TaskView::Completed);
    EXPECT_EQ(std::vector<int>({32833, 32834, 0, 32783, 32776, 32779, 0, 32775}),
              ids(frame->Pane().ControlMenu()));
    EXPECT_EQ(ids(frame->Pane().ControlMenu()), ids(frame->Pane().TaskPopupMenu()));
    frame->View().SelectFolderItem(frame->Pane().Folders().Top());
    EXPECT_EQ(TaskView::Downloading, frame->Pane().CurrentView());
    EXPECT_EQ(frame->Pane().Folders().Children(frame->Pane().Folders().Top())[0],
              frame->Pane().Folders().Selected());
}

TEST_F(CommandsTest, OpenFileAndFolderHandTheTargetToTheOpener) {
    AddTask("101", "http://127.0.0.1/a b.bin", TaskState::Completed, TaskList::Completed);
    const std::string folder = dir.Path() + "Download/";
    const std::string opener = dir.Path() + "opener.sh";
    const std::string record = dir.Path() + "opened";
    ASSERT_TRUE(WriteFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record + "'\n"));
    chmod(opener.c_str(), 0700);
    CreateFrame();
    frame->View().SelectView(TaskView::Completed);
    frame->Opener().Program = opener;
    frame->OnCommand(ID_OPEN_FILE);
    ASSERT_TRUE(WaitFor([&] { return ReadFile(record).size() > 0; }));
    frame->OnCommand(ID_OPEN_FOLDER);
    ASSERT_TRUE(
        WaitFor([&] { return ReadFile(record).find('\n') != ReadFile(record).rfind('\n'); }));
    EXPECT_EQ(folder + "a b.bin\n" + folder + "\n", ReadFile(record));
    // A program that cannot be started is not reported.
    frame->Opener().Program = dir.Path() + "missing-opener";
    frame->OnCommand(ID_OPEN_FILE);
    EXPECT_TRUE(questions.asked.empty());
}

TEST_F(CommandsTest, CommandLineAddressOpensTheNewTaskDialogLast) {
    StartOptions options;
    options.StartThreads = false;
    options.CommandLineUrl = "http://127.0.0.1/x.zip";
    frame = std::make_unique<MainFrame>(*ctx, loop, questions, host, engine);
    frame->Create(options);
    EXPECT_EQ(Ids({"http://127.0.0.1/x.zip"}), host.newTaskUrls);
}

}  // namespace
}  // namespace vardane::test
