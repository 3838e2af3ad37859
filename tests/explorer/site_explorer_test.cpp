#include "explorer/site_explorer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "explorer/explorer_tasks.h"
#include "settings/app_context.h"
#include "task/progress_file.h"
#include "task/url.h"
#include "tests/app/frame_fixture.h"
#include "tests/engine/scripted_ftp.h"

namespace vardane {
namespace {

class SiteExplorerTest : public test::FrameTest {
  protected:
    // Pumps the window loop until the explorer has rows and is idle (at most
    // 30 s).
    bool WaitListed(SiteExplorer& explorer) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < end) {
            loop.WaitAndPump(100);
            if (!explorer.Busy() && !explorer.Rows().empty()) {
                return true;
            }
        }
        return false;
    }
    std::vector<TaskProgressRecord> Tasks() {
        std::vector<TaskProgressRecord> tasks;
        for (const std::string& id : ListIds(TaskList::Downloading)) {
            tasks.push_back(ReadProgress(ProgressFilePath(dir.Path(), id)));
        }
        return tasks;
    }
};

// A hostile listing: names that climb out of the folder, carry a "/" or
// control characters, or run for a megabyte never become rows, folders or
// tasks; what is left lands below DownloadFolder/<site>/<folder>/.
TEST_F(SiteExplorerTest, PickedFilesBecomeTasksInsideTheSiteFolder) {
    const std::string longName(1 << 20, 'x');
    test::ScriptOptions options;
    options.listing =
        "total 9\r\n"
        "-rw-r--r-- 1 0 0 10 Mar 03 12:05 a.bin\r\n"
        "drwxr-xr-x 2 0 0 4096 Mar 03 12:05 sub\r\n"
        "drwxr-xr-x 2 0 0 4096 Mar 03 12:05 ..\r\n"
        "drwxr-xr-x 2 0 0 4096 Mar 03 12:05 up/../..\r\n"
        "-rw-r--r-- 1 0 0 10 Mar 03 12:05 ../../evil\r\n"
        "-rw-r--r-- 1 0 0 10 Mar 03 12:05 esc\x1b[2J\r\n"
        "-rw-r--r-- 1 0 0 10 Mar 03 12:05 " +
        longName +
        "\r\n"
        "-rw-r--r-- 1 0 0 5368709120 Mar 03 12:05 two words.iso\r\n"
        "weird line\r\n";
    test::ScriptedFtp server("", options);
    std::string url = server.Url();
    url = url.substr(0, url.rfind('/') + 1);
    WriteSite(*ctx, 1, {"S", url});
    CreateFrame();
    ctx->settings.DownloadFolder = dir.Path() + "Download";
    ctx->settings.ConnectionTimeOut = 10;
    FrameExplorerHost host(*frame);
    SiteExplorer explorer(*ctx, loop, questions, host);
    ASSERT_EQ(explorer.Sites().size(), 1u);
    ASSERT_TRUE(explorer.OpenSite(0));
    ASSERT_TRUE(WaitListed(explorer));

    const std::vector<ExplorerRow>& rows = explorer.Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(rows[0].Folder);
    EXPECT_EQ(rows[0].Name, "sub");
    EXPECT_EQ(rows[1].Name, "a.bin");
    EXPECT_EQ(rows[2].Name, "two words.iso");
    EXPECT_EQ(rows[2].SizeText, "5368709120");
    const TreeModel& tree = explorer.Folders();
    ASSERT_EQ(tree.Children(tree.Top()).size(), 1u);
    bool weirdLogged = false, longCut = false;
    for (const ExplorerLogLine& l : explorer.LogLines()) {
        weirdLogged = weirdLogged || l.Text == "weird line";
        longCut = longCut || l.Text.size() == SiteExplorer::kMaxLogText;
        EXPECT_LE(l.Text.size(), SiteExplorer::kMaxLogText);
    }
    EXPECT_TRUE(weirdLogged);
    EXPECT_TRUE(longCut);

    EXPECT_EQ(explorer.RowUrl(2), url + "two%20words.iso");
    explorer.SelectAll();
    EXPECT_EQ(explorer.CopyUrl(), url + "sub/");
    EXPECT_EQ(explorer.Download(), 2);
    EXPECT_EQ(explorer.Download(), 0);  // already queued
    std::vector<TaskProgressRecord> tasks = Tasks();
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[0].BaseURL, url + "a.bin");
    EXPECT_EQ(tasks[0].LocalDir, dir.Path() + "Download/S/");
    EXPECT_EQ(tasks[1].LocalFileName, "two words.iso");
    EXPECT_EQ(tasks[1].State, "2");

    // Into the sub-folder: the tap lists it, files keep the site's layout.
    explorer.TapRow(0);
    ASSERT_TRUE(WaitListed(explorer));
    EXPECT_EQ(explorer.FolderPath(explorer.CurrentFolder()), "/sub/");
    explorer.SetRowSelected(1, true);
    EXPECT_EQ(explorer.Download(), 1);
    tasks = Tasks();
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[2].BaseURL, url + "sub/a.bin");
    EXPECT_EQ(tasks[2].LocalDir, dir.Path() + "Download/S/sub/");
    EXPECT_EQ(server.Commands().back(), "LIST -la");
}

// A site saved with a folder and a login holding '@' and ':' is listed from
// that folder, logs in with the login as typed, and gives addresses that
// name each entry once, its login encoded.
TEST_F(SiteExplorerTest, SiteWithAPathListsThereAndBuildsItsAddresses) {
    test::ScriptOptions options;
    options.listing =
        "drwxr-xr-x 2 0 0 4096 Mar 03 12:05 pub\r\n"
        "-rw-r--r-- 1 0 0 10 Mar 03 12:05 read me?.txt\r\n";
    test::ScriptedFtp server("", options);
    std::string origin = server.Url();
    origin = origin.substr(0, origin.rfind('/'));  // ftp://127.0.0.1:<port>
    CreateFrame();
    ctx->settings.DownloadFolder = dir.Path() + "Download";
    const SiteDialogResult saved =
        SaveSiteDialog(*ctx, -1, {"S", origin + "/my%20pub/", true, "alice", "p@ss:w0rd"});
    ASSERT_TRUE(saved.Saved);
    const std::string base = "ftp://alice:p%40ss%3Aw0rd@" + origin.substr(6);
    EXPECT_EQ(saved.Stored.Url, base + "/my%20pub/");
    FrameExplorerHost host(*frame);
    SiteExplorer explorer(*ctx, loop, questions, host);
    ASSERT_TRUE(explorer.OpenSite(0));
    ASSERT_TRUE(WaitListed(explorer));
    ASSERT_EQ(explorer.Rows().size(), 2u);
    explorer.SetRowSelected(1, true);
    EXPECT_EQ(explorer.CopyUrl(), base + "/my%20pub/read%20me%3F.txt");
    explorer.TapRow(0);  // the folder named pub inside the site's folder
    ASSERT_TRUE(WaitListed(explorer));
    explorer.SetRowSelected(1, true);
    EXPECT_EQ(explorer.CopyUrl(), base + "/my%20pub/pub/read%20me%3F.txt");
    EXPECT_EQ(explorer.Download(), 1);
    const TaskProgressRecord task = Tasks().at(0);
    EXPECT_EQ(task.LocalDir, dir.Path() + "Download/S/pub/");
    EXPECT_EQ(task.LocalFileName, "read me?.txt");
    TaskDescriptor d;
    ASSERT_TRUE(ParseUrlInto(d, task.BaseURL));
    EXPECT_EQ(d.Password, "p@ss:w0rd");
    EXPECT_EQ(PercentDecode(d.RequestPath), "/my pub/pub/read me?.txt");
    const std::vector<std::string> commands = server.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "PASS p@ss:w0rd"), commands.end());
    EXPECT_NE(std::find(commands.begin(), commands.end(), "CWD /my pub/"), commands.end());
    EXPECT_NE(std::find(commands.begin(), commands.end(), "CWD /my pub/pub/"), commands.end());
}

}  // namespace
}  // namespace vardane
