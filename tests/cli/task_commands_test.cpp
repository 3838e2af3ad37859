// The one-shot commands of vardane-cli as a process: they change the list
// and progress files exactly as the window's commands do.
#include <gtest/gtest.h>

#include <cstdio>

#include "task/task_list.h"
#include "task/url.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {
namespace {

class TaskCommandsTest : public ::testing::Test {
  protected:
    CliResult Cli(const std::vector<std::string>& args) { return RunCli(home.Path(), args); }
    std::string Add(const std::string& url, std::vector<std::string> options = {}) {
        std::vector<std::string> args = {"add", url, "--manual"};
        args.insert(args.end(), options.begin(), options.end());
        CliResult r = Cli(args);
        EXPECT_EQ(0, r.status) << r.err;
        return r.out.empty() ? "" : Lines(r.out)[0];
    }
    std::vector<std::string> ListIds(const std::string& view = "downloading") {
        return ListedIds(home.Path(), view);
    }
    TempDir home{"vardane-cli-tasks"};
};

TEST_F(TaskCommandsTest, AddListShowAndRefuseADuplicate) {
    std::string id = Add("http://127.0.0.1:9/pub/a.zip", {"--connections", "3", "--name", "b.zip"});
    ASSERT_FALSE(id.empty());
    std::vector<std::string> lines = Lines(Cli({"list"}).out);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ((std::vector<std::string>{id, "stopped", "b.zip", "??%", "??", "", ""}),
              Fields(lines[0]));
    CliResult show = Cli({"show", id});
    EXPECT_EQ(0, show.status);
    EXPECT_NE(std::string::npos, show.out.find("BaseURL=http://127.0.0.1:9/pub/a.zip\n"));
    EXPECT_NE(std::string::npos, show.out.find("ThreadCount=3\n"));
    EXPECT_NE(std::string::npos, show.out.find("Cat=SOFTWARE\\Vardane\\Categories\\Download\n"));

    // Without an owner to run it, add says the task stays stopped.
    CliResult unstarted = Cli({"add", "http://127.0.0.1:9/pub/u.zip"});
    EXPECT_EQ(0, unstarted.status);
    EXPECT_NE(std::string::npos, unstarted.err.find("stays stopped")) << unstarted.err;

    CliResult again = Cli({"add", "HTTP://127.0.0.1:9/pub/a.zip"});
    EXPECT_EQ(1, again.status);
    EXPECT_FALSE(again.err.empty());
    CliResult bad = Cli({"add", "http://127.0.0.1:9/dir/"});
    EXPECT_EQ(1, bad.status);
    EXPECT_EQ(1, Cli({"show", "12345"}).status);
    EXPECT_EQ(2, Cli({"add"}).status);
    EXPECT_EQ(2, Cli({"add", "http://h/x.zip", "--connections", "5"}).status);

    // A save-to folder that cannot be made is said; the task stands.
    std::string file = home.Path() + "Tasks/Downloading.lst";
    CliResult noFolder = Cli({"add", "http://127.0.0.1:9/c.zip", "--manual", "--dir", file + "/x"});
    EXPECT_EQ(0, noFolder.status);
    EXPECT_NE(std::string::npos, noFolder.err.find("cannot create folder")) << noFolder.err;
    EXPECT_EQ(3u, ListIds().size());
}

TEST_F(TaskCommandsTest, MovesDeletesAndConfirmations) {
    std::string a = Add("http://127.0.0.1:9/a.bin");
    std::string b = Add("http://127.0.0.1:9/b.bin");
    std::string c = Add("http://127.0.0.1:9/c.bin");
    EXPECT_EQ(0, Cli({"move-up", c}).status);
    EXPECT_EQ((std::vector<std::string>{a, c, b}), ListIds());
    EXPECT_EQ(0, Cli({"move-down", a}).status);
    EXPECT_EQ((std::vector<std::string>{c, a, b}), ListIds());

    // Standard input is not a terminal: a confirmation needs --yes.
    CliResult refused = Cli({"delete", a});
    EXPECT_EQ(1, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find("--yes"));
    EXPECT_EQ(3u, ListIds().size());
    EXPECT_EQ(0, Cli({"delete", a, "--yes"}).status);
    EXPECT_EQ((std::vector<std::string>{c, b}), ListIds());
    EXPECT_EQ((std::vector<std::string>{a}), ListIds("deleted"));
    EXPECT_EQ(0, Cli({"delete", a, "--yes"}).status);
    EXPECT_TRUE(ListIds("deleted").empty());
    EXPECT_EQ(1, Cli({"show", a}).status) << "deleted from the deleted view: gone";
    EXPECT_EQ(1, Cli({"move-up", "999"}).status);
}

// A record away for a moment (a restore under way) must not cost its line.
TEST_F(TaskCommandsTest, ATaskWhoseRecordIsMissingIsNamedAndKeepsItsLine) {
    std::string a = Add("http://127.0.0.1:9/a.bin");
    std::string b = Add("http://127.0.0.1:9/b.bin");
    std::string c = Add("http://127.0.0.1:9/c.bin");
    const std::string record = ProgressFilePath(home.Path(), b);
    ASSERT_EQ(0, std::rename(record.c_str(), (record + ".away").c_str()));
    CliResult list = Cli({"list"});
    EXPECT_EQ(0, list.status);
    EXPECT_EQ(2u, Lines(list.out).size());
    EXPECT_NE(std::string::npos, list.err.find("task " + b + ":")) << list.err;
    EXPECT_EQ(0, Cli({"delete", a, "--yes"}).status);
    EXPECT_EQ((std::vector<std::string>{b, c}),
              ReadListIds(ListFilePath(home.Path(), TaskList::Downloading)));
    ASSERT_EQ(0, std::rename((record + ".away").c_str(), record.c_str()));
    EXPECT_EQ((std::vector<std::string>{b, c}), ListIds());
}

TEST_F(TaskCommandsTest, ImportPrintsTheCountLine) {
    const std::string file = home.Path() + "urls.txt";
    ASSERT_TRUE(
        WriteFile(file, "http://127.0.0.1:9/1.bin\n\nnot a url\nftp://127.0.0.1:9/2.bin\n"));
    CliResult r = Cli({"import", file, "--yes"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("2 addresses imported.\n", r.out);
    EXPECT_EQ(2u, ListIds().size());
}

TEST_F(TaskCommandsTest, CategoriesAddRenameDeleteAndFilterTheList) {
    CliResult list = Cli({"categories"});
    EXPECT_NE(
        std::string::npos,
        list.out.find("Downloading\\Music\tSOFTWARE\\Vardane\\Categories\\Download\\Music\n"));
    EXPECT_EQ(0, Cli({"categories", "add", "Downloading", "Games"}).status);
    CliResult duplicate = Cli({"categories", "add", "Downloading", "GAMES"});
    EXPECT_EQ(1, duplicate.status);
    EXPECT_FALSE(duplicate.err.empty());
    EXPECT_EQ(0, Cli({"categories", "rename", "Downloading\\Music", "Tunes"}).status);
    EXPECT_NE(
        std::string::npos,
        Cli({"categories"})
            .out.find("Downloading\\Tunes\tSOFTWARE\\Vardane\\Categories\\Download\\Music\n"));

    std::string game = Add("http://127.0.0.1:9/game.bin", {"--category", "Games"});
    Add("http://127.0.0.1:9/other.bin");
    CliResult games = Cli({"list", "--category", "Games"});
    ASSERT_EQ(1u, Lines(games.out).size()) << games.out << games.err;
    EXPECT_EQ(game, Fields(Lines(games.out)[0])[0]);

    EXPECT_EQ(1, Cli({"categories", "delete", "Downloading\\Games"}).status) << "needs --yes";
    EXPECT_EQ(0, Cli({"categories", "delete", "Downloading\\Games", "--yes"}).status);
    EXPECT_EQ(std::string::npos, Cli({"categories"}).out.find("Games"));
    EXPECT_EQ(1, Cli({"categories", "delete", "Downloading"}).status);
}

}  // namespace
}  // namespace vardane::test
