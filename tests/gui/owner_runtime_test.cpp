// The window's process serves other processes while one of its dialogs is
// open: their commands run, and a question goes back to its client instead
// of waiting in the window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/forwarding.h"
#include "app/single_instance.h"
#include "cli/command_line.h"
#include "gui/gui_runtime.h"
#include "gui/main_window.h"
#include "platform/data_root.h"
#include "platform/file.h"
#include "settings/app_context.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {
namespace {

class CaptureIo : public CliIo {
  public:
    explicit CaptureIo(bool terminal) : terminal_(terminal) {}
    void Out(std::string_view text) override { out += text; }
    void Err(std::string_view text) override { err += text; }
    bool InputIsTerminal() const override { return terminal_; }
    bool OutputIsTerminal() const override { return false; }
    std::optional<bool> AskYesNo(const std::string& /*text*/) override { return std::nullopt; }
    std::string WorkingDirectory() const override { return "/"; }
    std::string out, err;

  private:
    bool terminal_;
};

// A vardane-cli command from another thread, as another process sends it.
ForwardOutcome Forward(const std::string& root, const std::vector<std::string>& args,
                       CaptureIo& io) {
    int fd = ConnectToInstance(root);
    if (fd < 0) {
        return {};
    }
    ForwardOutcome outcome = ForwardCommand(fd, args, io, -1);
    close(fd);
    return outcome;
}

TEST(OwnerRuntime, ServesOtherProcessesWhileADialogIsOpen) {
    TempDir dir("vardane-owner-dialog");
    ASSERT_TRUE(MakeDirectories(dir.Path() + "Tasks/"));
    AppContext ctx(DataRoot{dir.Path(), ExecutablePath(nullptr)});
    gui::GuiRuntime runtime(ctx, InstanceLock::TryAcquire(ctx.AppDir()));
    runtime.SetExecutor([&runtime](const std::vector<std::string>& args, CliIo& io) {
        return RunForwardedCommand(runtime, args, io);
    });
    runtime.StartWindow("");

    CaptureIo addIo(false), listIo(false), deleteIo(true);
    ForwardOutcome added, listed, deleted;
    std::atomic<bool> done{false};
    std::thread client;
    QDialog dialog(runtime.Window());
    bool openThroughout = false;
    QElapsedTimer clock;
    clock.start();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!client.joinable()) {
            client = std::thread([&] {
                added = Forward(dir.Path(), {"add", "http://127.0.0.1:9/x.bin", "--manual"}, addIo);
                listed = Forward(dir.Path(), {"list"}, listIo);
                const std::string id = Lines(addIo.out).empty() ? "" : Lines(addIo.out)[0];
                deleted = Forward(dir.Path(), {"delete", id}, deleteIo);
                done = true;
            });
        }
        // The client's own limit: an owner held by the dialog never meets it.
        if (done || clock.elapsed() > 30000) {
            openThroughout = done && dialog.isVisible();
            dialog.reject();
        }
    });
    watch.start(20);
    dialog.exec();
    watch.stop();
    // Held requests (if any) are served now that the dialog is closed.
    while (!done && clock.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    client.join();

    EXPECT_TRUE(openThroughout) << "commands waited for the dialog";
    EXPECT_EQ(added.status, 0) << addIo.err;
    EXPECT_EQ(listed.status, 0) << listIo.err;
    EXPECT_NE(listIo.out.find("x.bin"), std::string::npos) << listIo.out;
    // The confirmation is the client's to ask; the task is still there.
    EXPECT_EQ(deleted.status, 1);
    EXPECT_TRUE(deleted.question.has_value());
    ASSERT_EQ(runtime.Frame().Queue().Tasks(TaskList::Downloading).size(), 1u);
    runtime.Window()->close();
}

}  // namespace
}  // namespace vardane::test
