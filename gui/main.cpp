// vardane: the program with its window. The first process on a data root
// owns it; a later one hands its address to the owner (which opens the New
// task dialog with it), or without one brings the owner's window to the
// front, and exits. vardane-cli commands on the same data root
// are served by the window's process.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "app/single_instance.h"
#include "cli/command_line.h"
#include "gui/gui_runtime.h"
#include "platform/data_root.h"
#include "settings/app_context.h"

namespace {

struct Arguments {
    std::optional<std::string> home;
    std::string url;
    bool ok = true;
};

// With VARDANE_TOOLTIP_LOG naming a file, each tooltip the program shows is
// appended to it, one a line: what a pointer resting on a row shows is read
// by the display test, as no X tool reads a tooltip's text.
class TooltipLog : public QObject {
  public:
    TooltipLog(QObject* parent, const QString& path) : QObject(parent), path_(path) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* label = qobject_cast<QLabel*>(watched);
        if (event->type() == QEvent::Show && label != nullptr &&
            label->windowType() == Qt::ToolTip) {
            QFile file(path_);
            if (file.open(QIODevice::Append | QIODevice::Text)) {
                file.write(label->text().simplified().toUtf8() + "\n");
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    QString path_;
};

Arguments Parse(int argc, char** argv) {
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--home" && i + 1 < argc) {
            args.home = argv[++i];
        } else if (arg.rfind("--home=", 0) == 0) {
            args.home = arg.substr(7);
        } else if (!arg.empty() && arg[0] == '-') {
            args.ok = false;  // Qt's own options were taken out already
        } else if (args.url.empty()) {
            args.url = arg;
        } else {
            args.ok = false;
        }
    }
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vardane;
    // SIGINT and SIGTERM close the window from the event loop, in every
    // thread's stead.
    BlockTerminationSignals();
    QApplication app(argc, argv);
    if (const QString log = qEnvironmentVariable("VARDANE_TOOLTIP_LOG"); !log.isEmpty()) {
        app.installEventFilter(new TooltipLog(&app, log));
    }
    Arguments args = Parse(argc, argv);
    if (!args.ok) {
        std::fprintf(stderr, "usage: vardane [--home DIR] [URL]\n");
        return 2;
    }
    DataRoot root = ResolveDataRoot(args.home, argc > 0 ? argv[0] : nullptr);
    std::unique_ptr<InstanceLock> lock;
    // The owner may be going away just as this process arrives: try again.
    for (int attempt = 0; attempt < 50 && !lock; ++attempt) {
        std::string error;
        lock = InstanceLock::TryAcquire(root.AppDir, &error);
        if (lock) {
            break;
        }
        if (!error.empty()) {
            std::fprintf(stderr, "vardane: %s\n", error.c_str());
            return 1;
        }
        if (args.url.empty()) {
            // The running window comes to the front; an owner without one
            // (vardane-cli run) has nothing to show.
            if (HandOverAddress(root.AppDir, "", 5000)) {
                return 0;
            }
            std::fprintf(stderr, "vardane: already running on %s without a window\n",
                         root.AppDir.c_str());
            return 0;
        }
        if (HandOverAddress(root.AppDir, args.url)) {
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!lock) {
        std::fprintf(stderr, "vardane: another process holds %s and does not answer\n",
                     root.AppDir.c_str());
        return 1;
    }
    AppContext ctx(root);
    int status = 0;
    {
        gui::GuiRuntime runtime(ctx, std::move(lock));
        runtime.SetExecutor([&runtime](const std::vector<std::string>& forwarded, CliIo& io) {
            return RunForwardedCommand(runtime, forwarded, io);
        });
        runtime.StartWindow(args.url);
        status = QApplication::exec();
    }
    return status;
}
