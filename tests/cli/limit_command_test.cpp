// vardane-cli limit: the global limit set and shown as the status bar's
// control does, stored at once, alone and through a running owner.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {
namespace {

class LimitCommandTest : public ::testing::Test {
  protected:
    CliResult Cli(const std::vector<std::string>& args) { return RunCli(home.Path(), args); }
    // The flag and the value as the settings store holds them now.
    std::string Stored() {
        std::string text = ReadFile(home.Path() + "Registry/HKCU.reg");
        auto value = [&text](const std::string& name) {
            size_t at = text.find("\"" + name + "\"=\"");
            return at == std::string::npos
                       ? std::string("?")
                       : text.substr(at + name.size() + 4,
                                     text.find('"', at + name.size() + 4) - at - name.size() - 4);
        };
        return value("SpeedLimit") + " " + value("SpeedLimitKBSec");
    }
    TempDir home{"vardane-cli-limit"};
};

TEST_F(LimitCommandTest, SetsShowsAndStoresTheLimitAsTheControlDoes) {
    EXPECT_EQ("on, 1024 KB/s\n", Cli({"limit"}).out);  // the stored default
    ASSERT_EQ(0, Cli({"limit", "300"}).status);
    EXPECT_EQ("on, 300 KB/s\n", Cli({"limit"}).out);
    EXPECT_EQ("1 300", Stored());
    ASSERT_EQ(0, Cli({"limit", "off"}).status);
    EXPECT_EQ("off\n", Cli({"limit"}).out);
    EXPECT_EQ("0 1024", Stored());  // as the close stores a limit switched off

    for (const char* bad : {"0", "1025", "12x", "-5", "on"}) {
        CliResult r = Cli({"limit", bad});
        EXPECT_EQ(2, r.status) << bad;
        EXPECT_NE(std::string::npos, r.err.find("1 to 1024")) << r.err;
    }
    EXPECT_EQ("0 1024", Stored());
}

TEST_F(LimitCommandTest, RunningOwnerTakesTheLimitAtOnceAndKeepsItAfterItsExit) {
    CliProcess owner(home.Path(), {"run", "--stay"});
    ASSERT_TRUE(WaitUntil([&] { return FileExists(home.Path() + "vardane.sock"); }));
    ASSERT_EQ(0, Cli({"limit", "200"}).status);
    EXPECT_EQ("on, 200 KB/s\n", Cli({"limit"}).out);  // answered by the owner
    EXPECT_EQ("1 200", Stored());                     // stored before any close
    ASSERT_EQ(0, Cli({"limit", "off"}).status);
    EXPECT_EQ("off\n", Cli({"limit"}).out);
    EXPECT_EQ("0 1024", Stored());
    ASSERT_EQ(0, Cli({"limit", "123"}).status);

    owner.Interrupt();
    EXPECT_EQ(3, owner.Wait().status);
    EXPECT_FALSE(FileExists(home.Path() + "vardane.sock"));
    EXPECT_EQ("on, 123 KB/s\n", Cli({"limit"}).out);
    EXPECT_EQ("1 123", Stored());
}

}  // namespace
}  // namespace vardane::test
