#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "explorer/explorer_client.h"
#include "explorer/folder_listing.h"
#include "explorer/list_line.h"
#include "net/proxy.h"
#include "tests/engine/scripted_ftp.h"
#include "tests/explorer/explorer_test_root.h"
#include "tests/support/make_proxy.h"
#include "tests/support/require_server.h"
#include "tests/support/servers.h"

namespace vardane {
namespace {

using test::ExplorerRoot;
using test::RecordingWindow;
using test::ScriptedFtp;
using test::ScriptOptions;

bool Has(const std::vector<std::string>& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

std::string SiteOf(const ScriptedFtp& server, const std::string& userInfo = "") {
    std::string url = server.Url(userInfo);
    return url.substr(0, url.rfind('/') + 1);
}

// Scripted server -----------------------------------------------------------

TEST(ExplorerScripted, MsDosListingAndTheLoginOnTheWire) {
    ExplorerRoot root;
    ScriptOptions options;
    options.listing =
        "01-02-24  10:15AM       <DIR>          Sub Dir\r\n"
        "01-02-24  10:16AM           6442450944 big file.iso\r\n";
    ScriptedFtp server("", options);
    RecordingWindow window;
    {
        ExplorerClient client(root.Ctx(), &window);
        client.PostConnect(SiteOf(server, "joe:Pw-9@"));
        client.PostCwd("/pub/");
        ASSERT_TRUE(window.WaitIdles(1));
        EXPECT_FALSE(client.LastFailed());
    }
    const std::vector<std::string> listing = window.Texts(LogKind::Listing);
    ASSERT_EQ(listing.size(), 2u);
    ListEntry e;
    ASSERT_TRUE(ParseListEntry(listing[1], e));
    EXPECT_EQ(e.name, "big file.iso");
    EXPECT_EQ(e.size, 6442450944LL);
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER joe", "PASS Pw-9", "CWD /pub/",
                                                           "PWD", "TYPE A", "PASV", "LIST -la"}));
    const std::vector<std::string> sent = window.Texts(LogKind::Sent);
    EXPECT_TRUE(Has(sent, "PASS ******"));
    for (const RecordingWindow::Line& l : window.Lines()) {
        EXPECT_EQ(l.text.find("Pw-9"), std::string::npos) << l.text;
    }
}

// After a listing the client stays logged in: a change of folder goes over
// the same connection; a reset logs in again and returns to that folder. The
// folder is an address path: %20 is a blank, and a folder whose %0D%0A would
// end the CWD line is refused without a word to the server.
TEST(ExplorerScripted, CwdReusesTheConnectionAndResetReturnsToTheFolder) {
    ExplorerRoot root;
    ScriptedFtp server("", ScriptOptions{});
    RecordingWindow window;
    ExplorerClient client(root.Ctx(), &window);
    client.PostConnect(SiteOf(server));
    ASSERT_TRUE(window.WaitIdles(1));
    client.PostCwd("/sub%20dir/");
    ASSERT_TRUE(window.WaitIdles(2));
    client.PostReset();
    ASSERT_TRUE(window.WaitIdles(3));
    EXPECT_FALSE(client.LastFailed());
    client.PostCwd("/x%0D%0ADELE%20y/");
    ASSERT_TRUE(window.WaitIdles(4));
    EXPECT_TRUE(client.LastFailed());
    const std::vector<std::string> commands = server.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "USER anonymous"), 2);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "CWD /sub dir/"), 2);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "LIST -la"), 3);
    EXPECT_EQ(commands.back(), "LIST -la");
}

TEST(ExplorerScripted, MissingFolderEndsWithTheServersReply) {
    ExplorerRoot root;
    ScriptOptions options;
    options.cwdReply = "550 No such directory\r\n";
    ScriptedFtp server("", options);
    const FolderListing r = ListFolder(root.Ctx(), SiteOf(server), "/nothing/");
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.error, "550 No such directory");
    EXPECT_FALSE(Has(server.Commands(), "LIST -la"));
}

// Neither a silent server nor one that refuses every login may keep the
// client busy for ever.
TEST(ExplorerScripted, SilentServerAndEndlessRefusalEndTheOperation) {
    ExplorerRoot root;
    root.Ctx().settings.ConnectionTimeOut = 1;
    ScriptOptions silent;
    silent.greeting = "";
    ScriptedFtp quiet("", silent);
    RecordingWindow window;
    {
        ExplorerClient client(root.Ctx(), &window);
        client.PostConnect(SiteOf(quiet));
        ASSERT_TRUE(window.WaitIdles(1));
        EXPECT_TRUE(client.LastFailed());
    }
    EXPECT_TRUE(Has(window.Texts(LogKind::Error), root.Ctx().lang.GetLangText("Log_TimeOut")));

    ScriptOptions refusing;
    refusing.refuseUser = 1000;
    ScriptedFtp refuser("", refusing);
    const FolderListing r = ListFolder(root.Ctx(), SiteOf(refuser), "/");
    EXPECT_FALSE(r.Ok);
    const std::vector<std::string> commands = refuser.Commands();
    EXPECT_LE(std::count(commands.begin(), commands.end(), "USER anonymous"),
              ExplorerClient::kMaxLoginRefusals + 1);
}

// Real servers ----------------------------------------------------------------

class ExplorerVsftpd : public ::testing::Test {
  protected:
    void SetUp() override {
        VARDANE_REQUIRE_SERVER(test::FtpServer::kBinary);
        const std::string sub = server.Root() + "with space/";
        ::mkdir(sub.c_str(), 0755);
        ::mkdir((server.Root() + "empty").c_str(), 0755);
        test::WriteFile(sub + "Grüße – ünïcode.txt", "hello");
        test::WriteFile(server.Root() + "big.bin", "");
        ASSERT_EQ(::truncate((server.Root() + "big.bin").c_str(), 5LL << 30), 0);
        ASSERT_TRUE(server.Start()) << server.Diagnostics();
    }
    std::map<std::string, ListEntry> Entries(const FolderListing& listing) {
        std::map<std::string, ListEntry> entries;
        for (const std::string& line : listing.lines) {
            ListEntry e;
            if (ParseListEntry(line, e)) {
                entries[e.name] = e;
            }
        }
        return entries;
    }

    ExplorerRoot root;
    test::FtpServer server;
};

TEST_F(ExplorerVsftpd, RootSubFolderEmptyAndMissingFolder) {
    const std::string site = server.Url("");
    FolderListing r = ListFolder(root.Ctx(), site, "/");
    ASSERT_TRUE(r.Ok) << r.error;
    auto entries = Entries(r);
    EXPECT_EQ(entries["with space"].type, EntryType::Folder);
    EXPECT_EQ(entries["big.bin"].size, 5LL << 30);

    r = ListFolder(root.Ctx(), site, "/with space/");
    ASSERT_TRUE(r.Ok) << r.error;
    entries = Entries(r);
    EXPECT_EQ(entries["Grüße – ünïcode.txt"].size, 5);

    // An empty folder ends the operation at once, not at the time-out.
    root.Ctx().settings.ConnectionTimeOut = 300;
    r = ListFolder(root.Ctx(), site, "/empty/");
    EXPECT_TRUE(r.Ok) << r.error;
    root.Ctx().settings.ConnectionTimeOut = 10;

    r = ListFolder(root.Ctx(), site, "/missing/");
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.error.substr(0, 3), "550") << r.error;
}

TEST_F(ExplorerVsftpd, ActiveModeAndThroughSocks5) {
    ProxyRecord active;
    active.PASV = false;
    root.SetFtpProxy(active);
    FolderListing r = ListFolder(root.Ctx(), server.Url(""), "/with space/");
    ASSERT_TRUE(r.Ok) << r.error;
    EXPECT_EQ(Entries(r).count("Grüße – ünïcode.txt"), 1u);

    VARDANE_REQUIRE_SERVER(test::MicroSocks::kBinary);
    test::MicroSocks socks("proxyuser", "proxypass");
    ASSERT_TRUE(socks.Start()) << socks.Diagnostics();
    root.SetFtpProxy(
        test::MakeProxy(proxySocks5, "127.0.0.1", socks.Port(), "proxyuser", "proxypass"));
    r = ListFolder(root.Ctx(), server.Url(""), "/");
    ASSERT_TRUE(r.Ok) << r.error;
    EXPECT_EQ(Entries(r)["big.bin"].size, 5LL << 30);
}

TEST(ExplorerPyftpdlib, UserLogin) {
    VARDANE_REQUIRE_SERVER(test::PyFtpServer::kBinary);
    test::PyFtpServer server;
    ::mkdir((server.Root() + "docs").c_str(), 0755);
    test::WriteFile(server.Root() + "docs/read me.txt", "abc");
    ASSERT_TRUE(server.Start()) << server.Diagnostics();
    ExplorerRoot root;
    const std::string login =
        std::string(test::PyFtpServer::kUser) + ":" + test::PyFtpServer::kPassword + "@";
    const FolderListing r = ListFolder(root.Ctx(), server.Url("", login), "/docs/");
    ASSERT_TRUE(r.Ok) << r.error;
    ASSERT_EQ(r.lines.size(), 1u);
    ListEntry e;
    ASSERT_TRUE(ParseListEntry(r.lines[0], e)) << r.lines[0];
    EXPECT_EQ(e.name, "read me.txt");
    EXPECT_EQ(e.size, 3);
}

}  // namespace
}  // namespace vardane
