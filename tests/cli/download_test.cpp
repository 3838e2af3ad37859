// vardane-cli downloading against real servers: get over several
// connections, a queue run to its end, a second process handing its command
// (config too) to the running one, Ctrl-C followed by a resumed get, and get
// to its end: the name typed, a failure with its reason, a task that fails
// inside the engine's own restart; and a folder shared with another user.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "app/single_instance.h"
#include "platform/file.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/require_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {
namespace {

class DownloadTest : public ::testing::Test {
  protected:
    CliResult Cli(const std::vector<std::string>& args) { return RunCli(home.Path(), args); }
    std::vector<std::string> ListIds(const std::string& view) {
        return ListedIds(home.Path(), view);
    }
    TempDir home{"vardane-cli-dl"};
    TempDir target{"vardane-cli-target"};
};

TEST_F(DownloadTest, GetWithFourConnectionsWritesTheExactFile) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx;
    std::string sha = MakeRandomFile(nginx.Root() + "big.bin", 3 * 1024 * 1024 + 17);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    CliResult r = Cli({"get", nginx.Url("big.bin"), "--connections", "4", "--dir", target.Path()});
    ASSERT_EQ(0, r.status) << r.out << r.err;
    EXPECT_EQ(sha, Sha256OfFile(target.Path() + "big.bin"));
    EXPECT_FALSE(FileExists(target.Path() + "big.bin.vd~"));
    std::vector<std::string> done = Lines(Cli({"list", "completed"}).out);
    ASSERT_EQ(1u, done.size());
    EXPECT_EQ("completed", Fields(done[0])[1]);
    EXPECT_TRUE(ListIds("downloading").empty());
    EXPECT_NE(std::string::npos, nginx.AccessLog().find("206")) << "ranged requests";
}

TEST_F(DownloadTest, GetOverFtp) {
    VARDANE_REQUIRE_SERVER(FtpServer::kBinary);
    FtpServer ftp;
    std::string sha = MakeRandomFile(ftp.Root() + "pub.bin", 1024 * 1024 + 5);
    ASSERT_TRUE(ftp.Start()) << ftp.Diagnostics();
    CliResult r =
        Cli({"get", ftp.Url("pub.bin"), "--connections", "2", "--dir", target.Path(), "--verbose"});
    ASSERT_EQ(0, r.status) << r.out << r.err;
    EXPECT_EQ(sha, Sha256OfFile(target.Path() + "pub.bin"));
    // The protocol log, passwords hidden.
    EXPECT_NE(std::string::npos, r.out.find("/1] USER ")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("/1] PASS ******")) << r.out;
}

// The other FTP servers users meet: pyftpdlib with a password holding '@'
// and ':' (encoded into the address), pure-ftpd with a login (it needs root
// to switch to its virtual user); both with %20 in the path, which names a
// blank on the server.
TEST_F(DownloadTest, GetOverFtpFromPyftpdlibAndPureFtpd) {
    VARDANE_REQUIRE_SERVER(PyFtpServer::kBinary);
    PyFtpServer py({}, "p@ss:w0rd");
    ::mkdir((py.Root() + "sub folder").c_str(), 0755);
    std::string pySha = MakeRandomFile(py.Root() + "sub folder/my py.bin", 700 * 1024 + 3);
    ASSERT_TRUE(py.Start()) << py.Diagnostics();
    const std::string login = std::string(PyFtpServer::kUser) + ":p%40ss%3Aw0rd@";
    CliResult r = Cli({"get", py.Url("sub%20folder/my%20py.bin", login), "--connections", "4",
                       "--dir", target.Path()});
    ASSERT_EQ(0, r.status) << r.out << r.err;
    EXPECT_EQ(pySha, Sha256OfFile(target.Path() + "my py.bin"));

    VARDANE_REQUIRE_SERVER(PureFtpServer::kBinary);
    if (::geteuid() != 0) {
        GTEST_SKIP() << "pure-ftpd runs its sessions as nobody: root";
    }
    PureFtpServer pure;
    ::mkdir((pure.Root() + "sub folder").c_str(), 0755);
    std::string pureSha = MakeRandomFile(pure.Root() + "sub folder/pure.bin", 700 * 1024 + 5);
    ASSERT_TRUE(pure.Start()) << pure.Diagnostics();
    r = Cli(
        {"get", pure.Url("sub%20folder/pure.bin"), "--connections", "4", "--dir", target.Path()});
    ASSERT_EQ(0, r.status) << r.out << r.err;
    EXPECT_EQ(pureSha, Sha256OfFile(target.Path() + "pure.bin"));
}

// A folder named like a login and a host ("pub:x@127.0.0.1:<port>") is a
// folder: the login typed with --user goes to the address's own host, and
// the other host never hears of it.
TEST_F(DownloadTest, LoginGoesOnlyToTheAddresssHost) {
    VARDANE_REQUIRE_SERVER(PyFtpServer::kBinary);
    ScriptedServer other([](ScriptedConnection& c) {
        c.Write("220 ready\r\n");
        while (c.ReadLine()) {
            c.Write("331 go on\r\n");
        }
    });
    PyFtpServer py;
    const std::string folder = "pub:x@127.0.0.1:" + std::to_string(other.Port());
    ::mkdir((py.Root() + folder).c_str(), 0755);
    std::string sha = MakeRandomFile(py.Root() + folder + "/f.bin", 64 * 1024);
    ASSERT_TRUE(py.Start()) << py.Diagnostics();
    CliResult r = Cli({"get", py.Url(folder + "/f.bin"), "--user", PyFtpServer::kUser, "--password",
                       PyFtpServer::kPassword, "--dir", target.Path()});
    ASSERT_EQ(0, r.status) << r.out << r.err;
    EXPECT_EQ(sha, Sha256OfFile(target.Path() + "f.bin"));
    other.Stop();
    for (const std::string& request : other.Requests()) {
        EXPECT_EQ(request.find(PyFtpServer::kPassword), std::string::npos) << request;
    }
}

TEST_F(DownloadTest, RunWorksThroughAQueueOfOneSlot) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx;
    std::vector<std::string> shas;
    for (int i = 0; i < 3; ++i) {
        shas.push_back(MakeRandomFile(nginx.Root() + "q" + std::to_string(i) + ".bin",
                                      400 * 1024 + i, 10 + i));
    }
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    ASSERT_EQ(0, Cli({"config", "HKCU\\SOFTWARE\\Vardane\\Connection", "MaxTasks", "1"}).status);
    for (int i = 0; i < 3; ++i) {
        CliResult add = Cli({"add", nginx.Url("q" + std::to_string(i) + ".bin"), "--manual",
                             "--connections", "2", "--dir", target.Path()});
        ASSERT_EQ(0, add.status) << add.err;
    }
    // Each completion must hand the slot to the next waiting task.
    CliResult run = Cli({"run", "--all"});
    ASSERT_EQ(0, run.status) << run.out << run.err;
    EXPECT_EQ(3u, ListIds("completed").size());
    EXPECT_TRUE(ListIds("downloading").empty());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(shas[i], Sha256OfFile(target.Path() + "q" + std::to_string(i) + ".bin"));
    }
}

TEST_F(DownloadTest, SecondProcessHandsItsCommandsToTheRunningOne) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx;
    std::string sha = MakeRandomFile(nginx.Root() + "handed.bin", 700 * 1024, 7);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    CliProcess owner(home.Path(), {"run", "--stay"});
    ASSERT_TRUE(WaitUntil([&] { return FileExists(home.Path() + "vardane.sock"); }));

    CliResult added = Cli({"add", nginx.Url("nothing.bin"), "--manual"});
    ASSERT_EQ(0, added.status) << added.err;
    std::string id = Lines(added.out)[0];
    EXPECT_EQ((std::vector<std::string>{id}), ListIds("downloading"));
    // The owner's own list shows it, and the downloads run in the owner.
    CliResult got = Cli({"get", nginx.Url("handed.bin"), "--dir", target.Path()});
    EXPECT_EQ(0, got.status) << got.out << got.err;
    EXPECT_EQ(sha, Sha256OfFile(target.Path() + "handed.bin"));
    // The owner's completed row is whole at once, not the last second's.
    std::vector<std::string> done = Lines(Cli({"list", "completed"}).out);
    ASSERT_EQ(1u, done.size());
    std::vector<std::string> fields = Fields(done[0]);
    fields.erase(fields.begin());  // the id
    EXPECT_EQ((std::vector<std::string>{"completed", "handed.bin", "100%", "716800", "716800", ""}),
              fields);
    EXPECT_EQ(2, Cli({"frobnicate"}).status);

    // A second start with just an address (the GUI's way) adds a task there.
    ASSERT_TRUE(HandOverAddress(home.Path(), nginx.Url("other.bin")));
    std::vector<std::string> rows = Lines(Cli({"list"}).out);
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("other.bin", Fields(rows[1])[2]);

    owner.Interrupt();
    CliResult ownerResult = owner.Wait();
    EXPECT_EQ(3, ownerResult.status) << ownerResult.err;
    EXPECT_FALSE(FileExists(home.Path() + "vardane.sock"));
}

// config against a running owner: the value takes effect there at once (a
// waiting task starts) and outlives the owner's own later saves and its exit.
TEST_F(DownloadTest, ConfigThroughTheRunningOwnerTakesEffectAndSurvivesItsExit) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxOptions options;
    options.limitRate = 64 * 1024;  // both tasks still run when MaxTasks changes
    NginxServer nginx(options);
    MakeRandomFile(nginx.Root() + "a.bin", 4 * 1024 * 1024, 1);
    MakeRandomFile(nginx.Root() + "b.bin", 4 * 1024 * 1024, 2);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    const std::string connection = "HKCU\\SOFTWARE\\Vardane\\Connection";
    ASSERT_EQ(0, Cli({"config", connection, "MaxTasks", "1"}).status);
    CliProcess owner(home.Path(), {"run", "--stay"});
    ASSERT_TRUE(WaitUntil([&] { return FileExists(home.Path() + "vardane.sock"); }));

    std::vector<std::string> ids;
    for (const char* name : {"slow/a.bin", "slow/b.bin"}) {
        CliResult added = Cli({"add", nginx.Url(name), "--manual", "--dir", target.Path()});
        ASSERT_EQ(0, added.status) << added.err;
        ids.push_back(Lines(added.out)[0]);
    }
    ASSERT_EQ(0, Cli({"start", ids[0], ids[1]}).status);
    auto states = [&] {
        std::string text;
        for (const std::string& row : Lines(Cli({"list"}).out)) {
            text += Fields(row)[1] + " ";
        }
        return text;
    };
    EXPECT_EQ("running waiting ", states());

    ASSERT_EQ(0, Cli({"config", connection, "MaxTasks", "2"}).status);
    EXPECT_EQ("running running ", states());
    EXPECT_EQ(1, Cli({"config", connection, "MaxTasks", "0"}).status) << "out of range";
    // The owner writes its store when a default is saved: the value stays.
    ASSERT_EQ(0, Cli({"add", nginx.Url("c.bin"), "--manual", "--save-default"}).status);
    EXPECT_EQ("2\n", Cli({"config", connection, "MaxTasks"}).out);

    ASSERT_EQ(0, Cli({"stop", "--all"}).status);
    owner.Interrupt();
    owner.Wait();
    EXPECT_EQ("2\n", Cli({"config", connection, "MaxTasks"}).out);
}

TEST_F(DownloadTest, InterruptedGetResumesToTheExactFile) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxOptions options;
    // Slow enough that the first progress save (after about 1 MiB) comes
    // seconds before the end, however loaded the machine is.
    options.limitRate = 64 * 1024;
    NginxServer nginx(options);
    const int64_t size = 1536 * 1024 + 333;
    std::string sha = MakeRandomFile(nginx.Root() + "slow.bin", size, 3);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    const std::string url = nginx.Url("slow/slow.bin");
    const std::string temp = target.Path() + "slow.bin.vd~";
    {
        CliProcess get(home.Path(), {"get", url, "--connections", "2", "--dir", target.Path()});
        // Wait until the first progress was saved, then Ctrl-C.
        ASSERT_TRUE(WaitUntil([&] {
            std::vector<std::string> rows = Lines(Cli({"list"}).out);
            return !rows.empty() && Fields(rows[0]).size() > 5 && Fields(rows[0])[5] != "" &&
                   Fields(rows[0])[5] != "0";
        })) << "no progress";
        get.Interrupt();
        CliResult r = get.Wait();
        EXPECT_EQ(3, r.status) << r.out << r.err;
    }
    std::vector<std::string> rows = Lines(Cli({"list"}).out);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("stopped", Fields(rows[0])[1]);
    EXPECT_TRUE(FileExists(temp));
    EXPECT_FALSE(FileExists(target.Path() + "slow.bin"));

    CliResult resumed = Cli({"get", url, "--dir", target.Path()});
    ASSERT_EQ(0, resumed.status) << resumed.out << resumed.err;
    EXPECT_EQ(sha, Sha256OfFile(target.Path() + "slow.bin"));
    EXPECT_EQ(1u, ListIds("completed").size()) << "the same task went on";
    EXPECT_NE(std::string::npos, nginx.AccessLog().find("206"));
}

TEST_F(DownloadTest, NameOptionSetsAFreeLocalFileName) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx;
    std::string sha = MakeRandomFile(nginx.Root() + "server.bin", 200 * 1024 + 1);
    MakeRandomFile(nginx.Root() + "other.bin", 1000);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    CliResult r =
        Cli({"get", nginx.Url("server.bin"), "--name", "renamed.dat", "--dir", target.Path()});
    ASSERT_EQ(0, r.status) << r.out << r.err;
    // Another extension than the address's too: the typed name stands.
    EXPECT_EQ(sha, Sha256OfFile(target.Path() + "renamed.dat"));
    EXPECT_FALSE(FileExists(target.Path() + "server.bin"));

    // A stopped task that aims at a name keeps it: a later download whose
    // name is free on disk takes the next numbered one instead of sharing
    // the first task's temporary file.
    ASSERT_EQ(0, Cli({"add", nginx.Url("other.bin"), "--manual", "--name", "kept.dat", "--dir",
                      target.Path()})
                     .status);
    r = Cli({"get", nginx.Url("server.bin"), "--name", "kept.dat", "--dir", target.Path()});
    ASSERT_EQ(0, r.status) << r.out << r.err;
    EXPECT_EQ(sha, Sha256OfFile(target.Path() + "kept(1).dat"));
    EXPECT_FALSE(FileExists(target.Path() + "kept.dat"));
}

TEST_F(DownloadTest, FailedGetExitsOneWithTheTasksErrorLine) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx;
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    CliResult r = Cli({"get", nginx.Url("missing.bin"), "--dir", target.Path()});
    EXPECT_EQ(1, r.status) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.err.find("not found")) << r.err;
    std::vector<std::string> rows = Lines(Cli({"list"}).out);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("failed", Fields(rows[0])[1]);
}

TEST_F(DownloadTest, GetChecksOnlyWhatItWasGiven) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx;
    const int64_t size = 600 * 1024 + 9;
    std::string sha = MakeRandomFile(nginx.Root() + "sum.bin", size, 5);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();

    CliResult ok = Cli({"get", nginx.Url("sum.bin"), "--dir", target.Path(), "--connections", "2",
                        "--checksum", "SHA256=" + sha});
    ASSERT_EQ(0, ok.status) << ok.out << ok.err;
    EXPECT_EQ(sha, Sha256OfFile(target.Path() + "sum.bin"));

    const std::string wrong(64, '0');
    CliResult bad = Cli({"get", nginx.Url("sum.bin?again"), "--name", "bad.bin", "--dir",
                         target.Path(), "--checksum", "sha256=" + wrong});
    EXPECT_EQ(1, bad.status) << bad.out << bad.err;
    EXPECT_NE(std::string::npos, bad.err.find("sha256=" + wrong + " sha256=" + sha)) << bad.err;
    EXPECT_FALSE(FileExists(target.Path() + "bad.bin"));
    EXPECT_EQ(size, FileSize(target.Path() + "bad.bin.vd~"));
    EXPECT_EQ(sha, Sha256OfFile(target.Path() + "bad.bin.vd~"));

    // A checksum that cannot be one is bad usage, and nothing is added.
    for (const char* text : {"sha256=abc", "whirlpool=00", "0123"}) {
        CliResult usage = Cli({"add", nginx.Url("x.bin"), "--checksum", text});
        EXPECT_EQ(2, usage.status) << text << usage.err;
        EXPECT_NE(std::string::npos, usage.err.find(text)) << usage.err;
    }
    CliResult added =
        Cli({"add", nginx.Url("y.bin"), "--manual", "--checksum", "md5=" + sha.substr(0, 32)});
    ASSERT_EQ(0, added.status) << added.err;
    EXPECT_NE(
        std::string::npos,
        Cli({"show", Lines(added.out)[0]}).out.find("\nChecksum=md5=" + sha.substr(0, 32) + "\n"));
}

TEST_F(DownloadTest, RedirectToAnUnreachableFtpAddressEndsTheGet) {
    ScriptedServer server([](ScriptedConnection& c) {
        c.ReadUntil("\r\n\r\n");
        c.Write(
            "HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1:1/etc/passwd\r\n"
            "Content-Length: 0\r\n\r\n");
        c.WaitForClose();
    });
    CliProcess get(home.Path(),
                   {"get", "http://127.0.0.1:" + std::to_string(server.Port()) + "/a.bin", "--dir",
                    target.Path()});
    std::optional<CliResult> r = get.WaitFor(60000);
    ASSERT_TRUE(r) << "get still runs after its task ended";
    EXPECT_EQ(1, r->status) << r->out << r->err;
    EXPECT_NE(std::string::npos, r->err.find("Invalid address")) << r->err;
    EXPECT_FALSE(FileExists(target.Path() + "passwd"));
}

// A second user for the life of a test (made with useradd, so root only).
class OtherUser {
  public:
    OtherUser() : name_("vdtest" + std::to_string(::getpid())) {
        std::string add = "useradd --system --no-create-home --shell /usr/sbin/nologin " + name_ +
                          " >/dev/null 2>&1";
        made_ = std::system(add.c_str()) == 0;
        if (const passwd* pw = made_ ? ::getpwnam(name_.c_str()) : nullptr) {
            uid = pw->pw_uid;
            gid = pw->pw_gid;
        }
    }
    ~OtherUser() {
        if (made_ && std::system(("userdel " + name_ + " >/dev/null 2>&1").c_str()) != 0) {
            ADD_FAILURE() << "userdel " << name_;
        }
    }
    OtherUser(const OtherUser&) = delete;
    OtherUser& operator=(const OtherUser&) = delete;
    bool Made() const { return made_ && uid != 0; }

    uid_t uid = 0;
    gid_t gid = 0;

  private:
    std::string name_;
    bool made_ = false;
};

// A folder everyone may write (1777): another user plants a link to the
// downloader's own file at one temporary name and a file of theirs at
// another. The downloader's file keeps its bytes, the other user's file gets
// none of the download, and both downloads complete under the next name.
TEST_F(DownloadTest, PlantsOfAnotherUserInASharedFolderAreLeftAlone) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    if (::geteuid() != 0) {
        GTEST_SKIP() << "making a second user needs root";
    }
    OtherUser other;
    ASSERT_TRUE(other.Made()) << "useradd failed";
    NginxServer nginx;
    std::string shaA = MakeRandomFile(nginx.Root() + "a.bin", 200 * 1024 + 1, 41);
    std::string shaB = MakeRandomFile(nginx.Root() + "b.bin", 200 * 1024 + 2, 42);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    ASSERT_EQ(::chmod(target.Path().c_str(), 01777), 0);
    TempDir mine{"vardane-cli-mine"};
    const std::string own = mine.Path() + "own.txt";
    ASSERT_TRUE(WriteFile(own, "mine alone"));
    ASSERT_EQ(::chmod(own.c_str(), 0600), 0);
    const std::string link = target.Path() + "a.bin.vd~";
    ASSERT_EQ(::symlink(own.c_str(), link.c_str()), 0);
    ASSERT_EQ(::lchown(link.c_str(), other.uid, other.gid), 0);
    const std::string theirs = target.Path() + "b.bin.vd~";
    ASSERT_TRUE(WriteFile(theirs, ""));
    ASSERT_EQ(::chown(theirs.c_str(), other.uid, other.gid), 0);
    ASSERT_EQ(::chmod(theirs.c_str(), 0666), 0);

    for (const char* name : {"a.bin", "b.bin"}) {
        CliResult r = Cli({"get", nginx.Url(name), "--dir", target.Path()});
        EXPECT_EQ(0, r.status) << name << r.out << r.err;
    }
    EXPECT_EQ(shaA, Sha256OfFile(target.Path() + "a(1).bin"));
    EXPECT_EQ(shaB, Sha256OfFile(target.Path() + "b(1).bin"));
    EXPECT_EQ("mine alone", ReadFile(own));
    EXPECT_EQ(0, FileSize(theirs));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

}  // namespace
}  // namespace vardane::test
