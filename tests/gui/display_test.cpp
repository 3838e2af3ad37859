// vardane on a real X display (Xvfb with a window manager), driven by real
// key events (xdotool): a pasted link opens the New task dialog and becomes
// a task, the keys start, stop and delete tasks, and a task the server
// refuses fails and says why in its row's tooltip under the pointer. The
// outcome is read with vardane-cli from the window's process, the tooltip
// from the file the window logs tooltips to. Skipped (loudly) without Xvfb;
// under CI=true that is a failure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QClipboard>
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/single_instance.h"
#include "platform/file.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/require_server.h"
#include "tests/support/server_process.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {
namespace {

// Runs a shell command; its standard output.
std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof(buffer), pipe) != nullptr) {
            out += buffer;
        }
        pclose(pipe);
    }
    return out;
}

// Polls pred every 50 ms for up to timeoutMs, serving this process's X
// clipboard meanwhile (vardane reads the pasted text from it).
bool Within(int timeoutMs, const std::function<bool()>& pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (pred()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pred();
}

// Key presses to the focused window, as a person's keyboard sends them.
void Keys(const std::string& keys) {
    std::system(("xdotool key --clearmodifiers " + keys).c_str());
    QCoreApplication::processEvents();
}

std::string StateOf(const std::string& home, const std::string& file, const std::string& view) {
    const std::vector<std::string> args =
        view.empty() ? std::vector<std::string>{"list"} : std::vector<std::string>{"list", view};
    for (const std::string& line : Lines(RunCli(home, args).out)) {
        std::vector<std::string> fields = Fields(line);
        if (fields.size() > 2 && fields[2] == file) {
            return fields[1];
        }
    }
    return "";
}

TEST(RealDisplay, PastedLinksAndKeysDriveTheWindow) {
    for (const char* tool : {"Xvfb", "xdotool", "openbox"}) {
        VARDANE_REQUIRE_SERVER(tool);
    }
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxOptions options;
    options.limitRate = 64 * 1024;
    NginxServer nginx(options);
    MakeRandomFile(nginx.Root() + "slow.bin", 16 << 20, 3);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();

    // A display number nobody uses.
    int display = 90 + static_cast<int>(getpid() % 400);
    for (struct stat st{};
         stat(("/tmp/.X11-unix/X" + std::to_string(display)).c_str(), &st) == 0;) {
        ++display;
    }
    TempDir dir("vardane-display");
    const std::string name = ":" + std::to_string(display);
    ServerProcess xvfb;
    ASSERT_TRUE(
        xvfb.Start({FindServer("Xvfb"), name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                   dir.Path() + "xvfb.log", 0))
        << xvfb.Diagnostics();
    setenv("DISPLAY", name.c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");  // no desktop services: no tray
    ASSERT_TRUE(Within(10000, [&] {
        return !Output("xdotool getdisplaygeometry 2>/dev/null").empty();
    })) << xvfb.Diagnostics();
    ServerProcess wm;
    ASSERT_TRUE(wm.Start({FindServer("openbox"), "--sm-disable"}, dir.Path() + "wm.log", 0))
        << wm.Diagnostics();

    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int argc = 1;
    char arg0[] = "display_test";
    char* argv[] = {arg0, nullptr};
    auto app = std::make_unique<QGuiApplication>(argc, argv);

    TempDir home("vardane-display-home");
    const std::string tips = home.Path() + "tooltips.txt";
    setenv("VARDANE_TOOLTIP_LOG", tips.c_str(), 1);
    // Both tasks run at once.
    ASSERT_EQ(
        0, RunCli(home.Path(), {"config", "HKCU\\SOFTWARE\\Vardane\\Connection", "MaxTasks", "2"})
               .status);
    ServerProcess gui;
    ASSERT_TRUE(gui.Start({VARDANE_BINARY_DIR "/bin/vardane", "--home", home.Path()},
                          home.Path() + "gui.log", 0))
        << gui.Diagnostics();
    ASSERT_TRUE(Within(20000, [&] {
        return access(InstanceSocketPath(home.Path()).c_str(), F_OK) == 0;
    })) << gui.Diagnostics();
    std::string main;
    // Generous: beside the rest of the suite on two CPUs the first paint
    // can take long; a window that never shows still fails.
    ASSERT_TRUE(Within(60000, [&] {
        main = Output("xdotool search --onlyvisible --name '^Vardane$' 2>/dev/null | head -1");
        return !main.empty();
    })) << gui.Diagnostics();
    main.erase(main.find_last_not_of("\n") + 1);
    auto focusMain = [&] {
        std::system(("xdotool windowactivate --sync " + main + " >/dev/null 2>&1").c_str());
    };
    // A dialog just opened: the window manager may not have given it the
    // keyboard yet.
    auto focusNewest = [&] {
        std::string last;
        for (const std::string& id :
             Lines(Output("xdotool search --onlyvisible --name '^Vardane$' 2>/dev/null"))) {
            if (id != main) {
                last = id;
            }
        }
        std::system(("xdotool windowactivate --sync " + last + " >/dev/null 2>&1").c_str());
        Within(300, [] { return false; });
    };
    auto windows = [] {
        return Lines(Output("xdotool search --onlyvisible --name '^Vardane$' 2>/dev/null")).size();
    };

    // Each link pasted into the window: the New task dialog, accepted.
    for (const std::string file : {"slow.bin", "missing.bin"}) {
        focusMain();
        QGuiApplication::clipboard()->setText(
            QString::fromStdString(nginx.Url(file == "slow.bin" ? "slow/" + file : file)));
        Keys("ctrl+v");
        ASSERT_TRUE(Within(15000, [&] { return windows() > 1; })) << "no New task dialog";
        focusNewest();
        Keys("Return");  // accepts, also with the focus in the address field
        ASSERT_TRUE(Within(15000, [&] { return StateOf(home.Path(), file, "") == "stopped"; }))
            << file << RunCli(home.Path(), {"list"}).out << gui.Diagnostics();
    }

    // Select all, start: the refused one fails, the other runs; stop it.
    focusMain();
    Keys("ctrl+a ctrl+s");
    ASSERT_TRUE(Within(20000, [&] {
        return StateOf(home.Path(), "slow.bin", "") == "running" &&
               StateOf(home.Path(), "missing.bin", "") == "failed";
    })) << RunCli(home.Path(), {"list"}).out;

    // The pointer rests on the rows, top down, until the failed one's
    // tooltip says what the server answered.
    bool told = false;
    for (int y = 60; y < 360 && !told; y += 12) {
        std::system(("xdotool mousemove --window " + main + " 60 " + std::to_string(y)).c_str());
        told = Within(1200, [&] {
            std::string text;
            return ReadFileBytes(tips, text) && text.find("not found") != std::string::npos;
        });
    }
    std::string shown;
    ReadFileBytes(tips, shown);
    EXPECT_TRUE(told) << shown;
    Keys("ctrl+t");
    ASSERT_TRUE(Within(15000, [&] { return StateOf(home.Path(), "slow.bin", "") == "stopped"; }))
        << RunCli(home.Path(), {"list"}).out;

    // Delete asks (No is its default): yes with the button's access key.
    Keys("Delete");
    ASSERT_TRUE(Within(15000, [&] { return windows() > 1; })) << "no delete question";
    focusNewest();
    Keys("alt+y");
    ASSERT_TRUE(Within(15000, [&] {
        return Lines(RunCli(home.Path(), {"list", "deleted"}).out).size() == 2;
    })) << RunCli(home.Path(), {"list"}).out;

    // Quit with its key: the process ends (no tray to stay in here).
    focusMain();
    Keys("ctrl+q");
    EXPECT_TRUE(Within(15000, [&] { return !gui.Running(); })) << gui.Diagnostics();
    app.reset();
}

}  // namespace
}  // namespace vardane::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
