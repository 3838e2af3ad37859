#include "tests/app/frame_fixture.h"

#include "platform/data_root.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/registry_paths.h"
#include "task/progress_file.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane::test {

FakeSlot::~FakeSlot() {
    JoinWorker();
}

bool FakeSlot::Start(const std::string& id, const TaskProgressRecord& /*record*/) {
    if (!FileExists(ProgressFilePath(task_.ctx.AppDir(), id))) {
        return false;
    }
    engine_.started.push_back(id);
    TaskProgressRecord record = ReadProgress(ProgressFilePath(task_.ctx.AppDir(), id));
    {
        std::lock_guard<std::mutex> lock(task_.TaskLock);
        task_.descriptor = TaskDescriptor{};
        task_.descriptor.TaskId = id;
        task_.descriptor.BaseURL = record.BaseURL;
        task_.descriptor.LocalDir = record.LocalDir;
        task_.descriptor.LocalFileName = record.LocalFileName;
        task_.descriptor.State = TaskState::Running;
    }
    for (const std::string& bad : engine_.failAtStart) {
        if (bad == id) {
            SetTaskState(task_.ctx.AppDir(), id, TaskState::Failed);
            return false;
        }
    }
    task_.SetStop(false);
    task_.Active = true;
    return true;
}

void FakeSlot::Stop(bool noSuccessor) {
    task_.Finish(noSuccessor);
    if (engine_.endOnStop) {
        EndInBackground(TaskState::Stopped);
    }
}

bool FakeSlot::Idle() {
    return !task_.Active && workerDone_;
}

void FakeSlot::EndInBackground(TaskState state) {
    JoinWorker();
    TaskDescriptor d;
    {
        std::lock_guard<std::mutex> lock(task_.TaskLock);
        task_.descriptor.State = state;
        d = task_.descriptor;
    }
    SetTaskState(task_.ctx.AppDir(), d.TaskId, state);
    task_.Active = false;
    workerDone_ = false;
    worker_ = std::thread([this, d] {
        task_.owner->OnTaskState(d);
        workerDone_ = true;
    });
}

void FakeSlot::EndFromWorker(TaskState state) {
    EndInBackground(state);
    while (!workerDone_) {
        engine_.loop->WaitAndPump(10);
    }
    JoinWorker();
}

void FakeSlot::JoinWorker() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::unique_ptr<ISlotEngine> FakeEngine::MakeSlot(AppContext& ctx) {
    auto slot = std::make_unique<FakeSlot>(ctx, *this);
    slots.push_back(slot.get());
    return slot;
}

FrameTest::FrameTest() {
    // The real executable, so that the language files beside it are found.
    ctx = std::make_unique<AppContext>(DataRoot{dir.Path(), ExecutablePath(nullptr)});
    engine.loop = &loop;
    MakeDirectories(dir.Path() + "Tasks/");
    SetSetting("Connection", "MaxTasks", "1");
}

FrameTest::~FrameTest() {
    engine.endOnStop = true;  // whatever still runs ends when shutdown stops it
    if (frame) {
        frame->Close();
    }
    frame.reset();
}

void FrameTest::SetSetting(const std::string& group, const std::string& name,
                           const std::string& value) {
    RegistryKey key(ctx->registry);
    key.Open(RegRoot::CurrentUser, GroupKeyPath(group), true);
    key.SetString(name, value);
}

std::string FrameTest::AddTask(const std::string& id, const std::string& url, TaskState state,
                               TaskList list) {
    TaskProgressRecord record;
    record.BaseURL = url;
    record.LocalDir = dir.Path() + "Download/";
    TaskDescriptor parsed;
    ParseUrlInto(parsed, url);
    record.LocalFileName = parsed.FileName;
    record.State = IntToText(StoredState(state));
    record.ThreadCount = IntToText(2);
    WriteProgress(record, ProgressFilePath(dir.Path(), id));
    AppendListLine(ListFilePath(dir.Path(), list), id);
    return id;
}

void FrameTest::AddTasks(int count) {
    for (int i = 0; i < count; ++i) {
        AddTask(std::to_string(101 + i),
                "http://127.0.0.1/" + std::string(1, static_cast<char>('a' + i)) + ".bin");
    }
}

void FrameTest::CreateFrame(bool downloadAtStart) {
    frame = std::make_unique<MainFrame>(*ctx, loop, questions, host, engine);
    StartOptions options;
    options.StartThreads = false;
    options.AllowDownloadAtStart = downloadAtStart;
    frame->Create(options);
}

std::vector<std::string> FrameTest::ListIds(TaskList list) const {
    return ReadListIds(ListFilePath(dir.Path(), list));
}

TaskState FrameTest::FileState(const std::string& id) const {
    return GetTaskState(dir.Path(), id);
}

std::vector<int> FrameTest::Icons() const {
    std::vector<int> icons;
    for (const TaskRow& row : frame->View().Rows()) {
        icons.push_back(row.Icon);
    }
    return icons;
}

void FrameTest::SelectIds(const std::vector<std::string>& ids) {
    frame->View().ClearSelection();
    for (const std::string& id : ids) {
        frame->View().SetRowSelected(frame->View().FindRow(id), true);
    }
}

FakeSlot& FrameTest::SlotRunning(const std::string& id) {
    for (FakeSlot* slot : engine.slots) {
        if (slot->Task().Active && slot->Task().Snapshot().TaskId == id) {
            return *slot;
        }
    }
    ADD_FAILURE() << "task " << id << " is not running";
    return *engine.slots[0];
}

}  // namespace vardane::test
