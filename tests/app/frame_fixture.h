// A MainFrame on its own temporary data root, with a scripted engine whose
// tasks end when the test says so, recorded questions and a recording host.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_frame.h"
#include "app/task_engine.h"
#include "dialogs/question.h"
#include "platform/window_loop.h"
#include "settings/app_context.h"
#include "task/download_task.h"
#include "task/task_list.h"
#include "task/url.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {

class FakeEngine;

// A slot whose task "runs" from Start until the test ends it.
class FakeSlot : public ISlotEngine {
  public:
    FakeSlot(AppContext& ctx, FakeEngine& engine) : task_(ctx), engine_(engine) {}
    ~FakeSlot() override;
    DownloadTask& Task() override { return task_; }
    bool Start(const std::string& id, const TaskProgressRecord& record) override;
    void Stop(bool noSuccessor) override;
    void Tick() override {}
    bool Idle() override;

    // Ends the task as its last worker would: final state written, Active
    // cleared, then the end reported from a worker thread (which blocks until
    // the window thread has handled it).
    void EndFromWorker(TaskState state);
    // The same without waiting: the end stays queued until the window loop
    // is pumped.
    void EndInBackground(TaskState state);
    void JoinWorker();

  private:
    DownloadTask task_;
    FakeEngine& engine_;
    std::thread worker_;
    std::atomic<bool> workerDone_{true};
};

class FakeEngine : public ITaskEngine {
  public:
    std::unique_ptr<ISlotEngine> MakeSlot(AppContext& ctx) override;
    void SampleSpeed(AppContext&, ITaskOwner* owner) override {
        if (owner != nullptr) {
            owner->OnSpeedTick();
        }
    }

    std::vector<FakeSlot*> slots;
    std::vector<std::string> started;  // ids in start order
    // Ids whose start is abandoned at once (bad address): state 5, no worker.
    std::vector<std::string> failAtStart;
    // When set, Stop ends the task from a worker thread at once (state 2).
    bool endOnStop = false;
    WindowLoop* loop = nullptr;
};

// Answers every question with a fixed answer and keeps what was asked.
class RecordingQuestions : public IQuestions {
  public:
    QuestionAnswer Ask(const Question& q) override {
        asked.push_back(q);
        if (q.Buttons == QuestionButtons::Ok) {
            return QuestionAnswer::Ok;
        }
        return answer;
    }
    QuestionAnswer answer = QuestionAnswer::Yes;
    std::vector<Question> asked;
};

class RecordingHost : public IMainFrameHost {
  public:
    void CompletionAlert(const std::string& name) override { alerts.push_back(name); }
    void OpenNewTaskDialog(const std::string& url) override { newTaskUrls.push_back(url); }
    bool ImportCancelled() override { return --importChecksLeft < 0; }
    void OnModelChanged(unsigned parts) override {
        if (modelChanged) {
            modelChanged(parts);
        }
    }
    // A window drawn over the frame (the GUI's tests) renders from here.
    std::function<void(unsigned)> modelChanged;
    int importChecksLeft = 1 << 30;
    std::vector<std::string> alerts;
    std::vector<std::string> newTaskUrls;
};

class FrameTest : public ::testing::Test {
  protected:
    FrameTest();
    ~FrameTest() override;

    // Registry value under HKCU SOFTWARE\Vardane\<group>.
    void SetSetting(const std::string& group, const std::string& name, const std::string& value);
    // A task of url in state with its progress file, appended to list's file.
    std::string AddTask(const std::string& id, const std::string& url,
                        TaskState state = TaskState::Stopped,
                        TaskList list = TaskList::Downloading);
    // count stopped tasks 101, 102... of http://127.0.0.1/a.bin, b.bin...
    void AddTasks(int count);
    void CreateFrame(bool downloadAtStart = false);

    std::vector<std::string> ListIds(TaskList list) const;
    TaskState FileState(const std::string& id) const;
    std::vector<int> Icons() const;
    int RowOf(const std::string& id) const { return frame->View().FindRow(id); }
    void SelectIds(const std::vector<std::string>& ids);
    FakeSlot& SlotRunning(const std::string& id);

    TempDir dir;
    std::unique_ptr<AppContext> ctx;
    WindowLoop loop;
    RecordingQuestions questions;
    RecordingHost host;
    FakeEngine engine;
    std::unique_ptr<MainFrame> frame;
};

}  // namespace vardane::test
