// vardane-cli config: the store after the start-up, one value read and
// written, and the usage errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/cli_runner.h"

namespace vardane::test {
namespace {

class ConfigCommandTest : public ::testing::Test {
  protected:
    // vardane-cli with args; --home is the test's data root unless withHome is false.
    CliResult Run(const std::vector<std::string>& args, bool withHome = true) {
        return RunCli(withHome ? home_.Path() : std::string(), args);
    }

    TempDir home_{"vardane-cli-home"};
};

const char kConnection[] = "HKCU\\SOFTWARE\\Vardane\\Connection";

TEST_F(ConfigCommandTest, ListsEveryValueSortedAfterTheStartUp) {
    CliResult r = Run({"config"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    EXPECT_EQ(lines.size(), 59u);
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
    auto has = [&lines](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    // An empty value and a default value ("@", its text from the shipped
    // English file) in the listing's form.
    EXPECT_TRUE(has("HKCU\\SOFTWARE\\Vardane\\Protocol\\HTTPUserAgent_1="));
    EXPECT_TRUE(has("HKCU\\SOFTWARE\\Vardane\\Categories\\Download\\@=Downloading"));

    // A second run writes nothing new and lists the same.
    EXPECT_EQ(Run({"config"}).out, r.out);
}

TEST_F(ConfigCommandTest, GetsAndSetsOneValue) {
    CliResult get = Run({"config", kConnection, "MaxTasks"});
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, "1\n");

    EXPECT_EQ(Run({"config", kConnection, "MaxTasks", "3"}).status, 0);
    EXPECT_EQ(Run({"config", kConnection, "maxtasks"}).out, "3\n");

    // Emptied by hand: the next start writes the default again.
    EXPECT_EQ(Run({"config", kConnection, "MaxTasks", ""}).status, 0);
    EXPECT_EQ(Run({"config", kConnection, "MaxTasks"}).out, "1\n");

    // The long root name, a new key, and the default value "@".
    EXPECT_EQ(Run({"config", "HKEY_CURRENT_USER\\Test\\Key", "@", "two\nlines"}).status, 0);
    EXPECT_EQ(Run({"config", "HKCU\\Test\\Key", "@"}).out, "two\nlines\n");
    std::vector<std::string> lines = Lines(Run({"config"}).out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "HKCU\\Test\\Key\\@=two\\nlines"), lines.end());
}

TEST_F(ConfigCommandTest, MissingValuePrintsNothing) {
    CliResult r = Run({"config", kConnection, "NoSuchValue"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Run({"config", "HKCU\\No\\Such\\Key", "MaxTasks"}).status, 1);
}

TEST_F(ConfigCommandTest, BadUsageExitsWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"config", "--bogus"},
        {"config", "SOFTWARE\\Vardane\\Connection", "MaxTasks"},
        {"config", "HKXX\\SOFTWARE", "MaxTasks"},
        {"config", "HKCU\\", "MaxTasks"},
        {"config", kConnection},
        {"config", kConnection, "MaxTasks", "2", "extra"},
        {"--home"},
    };
    for (const auto& args : cases) {
        CliResult r = Run(args);
        std::string joined;
        for (const auto& a : args) {
            joined += a + " ";
        }
        EXPECT_EQ(r.status, 2) << joined;
        EXPECT_FALSE(r.err.empty()) << joined;
        EXPECT_EQ(r.out, "") << joined;
    }
    // Refused before the start-up: nothing was written.
    EXPECT_FALSE(std::filesystem::exists(home_ / "Registry/HKCU.reg"));
}

TEST_F(ConfigCommandTest, HomeMayFollowTheCommand) {
    CliResult r = Run({"config", "--home", home_.Path(), kConnection, "RetryCounts"}, false);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "99\n");
    EXPECT_TRUE(std::filesystem::exists(home_ / "Registry/HKCU.reg"));
}

}  // namespace
}  // namespace vardane::test
