// vardane as a process, offscreen, on its own data root and its own D-Bus
// session bus: vardane-cli commands are served by the window's process, a
// download from nginx completes with the right bytes, the window's model
// lists it as completed and the completion notification reaches the bus; a
// second start hands its address over or brings the window to the front.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QSet>
#include <QStringList>
#include <QVariantMap>

#include "app/single_instance.h"
#include "gui/keep_awake.h"
#include "platform/file.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/require_server.h"
#include "tests/support/server_process.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {

// Stands in for the desktop's notification daemon and keeps what it got.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public Q_SLOTS:
    uint Notify(const QString& /*app*/, uint /*replaces*/, const QString& /*icon*/,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& /*hints*/, int /*timeout*/) {
        summaries << summary;
        bodies << body;
        lastActions = actions;
        return static_cast<uint>(bodies.size());
    }
    void CloseNotification(uint /*id*/) {}
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

  public:
    QStringList summaries;
    QStringList bodies;
    QStringList lastActions;
};

// Stands in for the desktop's screen saver and counts inhibitions held.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
  public Q_SLOTS:
    uint Inhibit(const QString& application, const QString& reason) {
        reasons << application + ": " + reason;
        held.insert(++last);
        return last;
    }
    void UnInhibit(uint cookie) { released += held.remove(cookie) ? 1 : 0; }

  public:
    QStringList reasons;
    QSet<uint> held;
    int released = 0;
    uint last = 0;
};

namespace {

// Waits up to timeoutMs for pred while serving this process's D-Bus objects.
bool ServeUntil(const std::function<bool()>& pred, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (pred()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

bool HasLine(const std::string& text, const std::string& id) {
    for (const std::string& line : Lines(text)) {
        if (!Fields(line).empty() && Fields(line)[0] == id) {
            return true;
        }
    }
    return false;
}

// A D-Bus session bus of the test's own, and this process's connection to it.
struct TestBus {
    void Start() {
        address = "unix:path=" + dir.Path() + "bus";
        ASSERT_TRUE(bus.Start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                               "--address=" + address},
                              dir.Path() + "log", 0))
            << bus.Diagnostics();
        // The socket file appears before the daemon listens on it: connect
        // until it answers.
        const QString name = QStringLiteral("vardane-test-bus");
        ASSERT_TRUE(ServeUntil(
            [&] {
                if (access((dir.Path() + "bus").c_str(), F_OK) != 0) {
                    return false;
                }
                connection = QDBusConnection::connectToBus(QString::fromStdString(address), name);
                if (!connection.isConnected()) {
                    QDBusConnection::disconnectFromBus(name);
                    return false;
                }
                return true;
            },
            10000))
            << bus.Diagnostics() << connection.lastError().message().toStdString();
    }
    ~TestBus() { QDBusConnection::disconnectFromBus(QStringLiteral("vardane-test-bus")); }

    TempDir dir{"vardane-bus"};
    std::string address;
    ServerProcess bus;
    QDBusConnection connection{QString()};
};

// The desktop is kept awake while downloads run: one inhibition, released
// when they end, also when they end before the desktop answered.
TEST(KeepAwake, OneInhibitionWhileActiveReleasedAfterwards) {
    VARDANE_REQUIRE_SERVER("dbus-daemon");
    TestBus test;
    ASSERT_NO_FATAL_FAILURE(test.Start());
    FakeScreenSaver saver;
    ASSERT_TRUE(test.connection.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
    ASSERT_TRUE(test.connection.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"),
                                               &saver, QDBusConnection::ExportAllSlots));
    QDBusConnection client = QDBusConnection::connectToBus(QString::fromStdString(test.address),
                                                           QStringLiteral("vardane-client-bus"));
    {
        gui::IdleInhibitor inhibitor(client);
        inhibitor.SetActive(true, "Vardane", "Downloading");
        inhibitor.SetActive(true, "Vardane", "Downloading");  // still one
        ASSERT_TRUE(ServeUntil([&] { return inhibitor.Holding(); }, 10000));
        EXPECT_EQ(saver.reasons, QStringList{"Vardane: Downloading"});
        inhibitor.SetActive(false, "Vardane", "Downloading");
        ASSERT_TRUE(ServeUntil([&] { return saver.held.isEmpty(); }, 10000));

        // Ended while the call was on its way: released once it answers.
        inhibitor.SetActive(true, "Vardane", "Downloading");
        inhibitor.SetActive(false, "Vardane", "Downloading");
        ASSERT_TRUE(ServeUntil([&] { return saver.released == 2; }, 10000));
        EXPECT_FALSE(inhibitor.Holding());

        // Held when the program ends: released then.
        inhibitor.SetActive(true, "Vardane", "Downloading");
        ASSERT_TRUE(ServeUntil([&] { return inhibitor.Holding(); }, 10000));
    }
    EXPECT_TRUE(ServeUntil([&] { return saver.held.isEmpty(); }, 10000));
    QDBusConnection::disconnectFromBus(QStringLiteral("vardane-client-bus"));
}

TEST(GuiProcess, ServesForwardedCommandsDownloadsAndNotifies) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    VARDANE_REQUIRE_SERVER("dbus-daemon");
    TestBus test;
    ASSERT_NO_FATAL_FAILURE(test.Start());
    const std::string& address = test.address;
    QDBusConnection& connection = test.connection;
    FakeNotifications notifications;
    ASSERT_TRUE(connection.registerService(QStringLiteral("org.freedesktop.Notifications")));
    ASSERT_TRUE(connection.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                          &notifications, QDBusConnection::ExportAllSlots));

    NginxServer nginx;
    const std::string sha = MakeRandomFile(nginx.Root() + "big.bin", 1 << 20, 7);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();

    TempDir home("vardane-gui-home");
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ServerProcess gui;
    ASSERT_TRUE(gui.Start({VARDANE_BINARY_DIR "/bin/vardane", "--home", home.Path()},
                          home.Path() + "gui.log", 0))
        << gui.Diagnostics();

    // vardane owns the data root once it listens on its socket.
    ASSERT_TRUE(ServeUntil(
        [&] { return access(InstanceSocketPath(home.Path()).c_str(), F_OK) == 0; }, 20000))
        << gui.Diagnostics();
    CliResult added = RunCli(home.Path(), {"add", nginx.Url("big.bin")});
    ASSERT_EQ(added.status, 0) << added.err << gui.Diagnostics();
    const std::string id = Lines(added.out).at(0);
    CliResult started = RunCli(home.Path(), {"start", id});
    ASSERT_EQ(started.status, 0) << started.err;

    // The window's model, asked through the forwarded list command.
    ASSERT_TRUE(ServeUntil(
        [&] {
            return HasLine(RunCli(home.Path(), {"list", "completed"}).out, id);
        },
        60000))
        << gui.Diagnostics();
    EXPECT_EQ(Sha256OfFile(home.Path() + "Download/big.bin"), sha);

    ASSERT_TRUE(ServeUntil([&] { return !notifications.bodies.isEmpty(); }, 10000))
        << gui.Diagnostics();
    EXPECT_TRUE(notifications.bodies[0].startsWith("big.bin "))
        << notifications.bodies[0].toStdString();
    EXPECT_EQ(notifications.summaries[0], "Vardane");
    ASSERT_EQ(notifications.lastActions.size(), 4);
    EXPECT_EQ(notifications.lastActions[0], "1524");
    EXPECT_EQ(notifications.lastActions[2], "1525");

    // A second start hands its address to the window and exits.
    MakeRandomFile(nginx.Root() + "other.bin", 1000, 8);
    const std::string second = std::string("timeout 20 ") +
                               VARDANE_BINARY_DIR "/bin/vardane --home " + home.Path() + " " +
                               nginx.Url("other.bin") + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(second.c_str()), 0);
    // Without an address the running window comes to the front.
    const std::string raise = std::string("timeout 20 ") +
                              VARDANE_BINARY_DIR "/bin/vardane --home " + home.Path() +
                              " >/dev/null 2>" + home.Path() + "raise.err";
    EXPECT_EQ(std::system(raise.c_str()), 0);
    std::string said;
    EXPECT_TRUE(ReadFileBytes(home.Path() + "raise.err", said));
    EXPECT_EQ(said.find("already running"), std::string::npos) << said;
#if !__has_include("gui/dialogs/gui_dialogs.h")
    // Without the New task dialog the address becomes a task at once.
    EXPECT_NE(RunCli(home.Path(), {"list"}).out.find("other.bin"), std::string::npos);
#endif

    gui.Stop();
    EXPECT_FALSE(gui.Running());
    connection.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
}

}  // namespace
}  // namespace vardane::test

#include "end_to_end_test.moc"
