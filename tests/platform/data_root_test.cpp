#include "platform/data_root.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/file.h"
#include "tests/support/temp_dir.h"

namespace vardane {
namespace {

using test::TempDir;

// Sets or clears an environment variable for one test and restores it.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(DataRoot, OptionThenEnvironmentThenExecutableFolder) {
    TempDir dir;
    const std::string exe = dir / "bin/vardane-cli";
    ASSERT_TRUE(MakeDirectories(dir / "bin"));
    ScopedEnv home("VARDANE_HOME", (dir / "env").c_str());

    DataRoot root = ResolveDataRootFor(dir / "opt", exe);
    EXPECT_EQ(root.AppDir, dir / "opt/");
    EXPECT_EQ(root.AppPath, exe);
    EXPECT_TRUE(DirectoryExists(root.AppDir));  // created

    EXPECT_EQ(ResolveDataRootFor(std::nullopt, exe).AppDir, dir / "env/");
    EXPECT_EQ(ResolveDataRootFor(std::string(), exe).AppDir, dir / "env/");

    ScopedEnv noHome("VARDANE_HOME", nullptr);
    EXPECT_EQ(ResolveDataRootFor(std::nullopt, exe).AppDir, dir / "bin/");
}

// A folder that cannot be written, and an installed program's folder even
// when it can be (root's /usr/bin), keep no data.
TEST(DataRoot, UserDataFolderWhenTheExecutableFolderIsNotWritableOrInstalled) {
    TempDir dir;
    ScopedEnv noHome("VARDANE_HOME", nullptr);
    ASSERT_TRUE(MakeDirectories(dir / "usr/bin"));
    ASSERT_TRUE(MakeDirectories(dir / "usr/share/vardane/Lang"));
    const std::string exe = dir / "missing/bin/vardane";  // access(W_OK) fails
    for (const std::string& path : {exe, dir / "usr/bin/vardane"}) {
        ScopedEnv xdg("XDG_DATA_HOME", (dir / "xdg").c_str());
        EXPECT_EQ(ResolveDataRootFor(std::nullopt, path).AppDir, dir / "xdg/vardane/") << path;
        EXPECT_TRUE(DirectoryExists(dir / "xdg/vardane"));
    }
    ScopedEnv relativeXdg("XDG_DATA_HOME", "relative");
    ScopedEnv home("HOME", (dir / "home").c_str());
    EXPECT_EQ(ResolveDataRootFor(std::nullopt, exe).AppDir, dir / "home/.local/share/vardane/");
}

TEST(DataRoot, RelativeHomeBecomesAbsolute) {
    TempDir dir;
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
    const std::string appDir = ResolveDataRootFor(std::string("data/./x"), "/nowhere/exe").AppDir;
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(appDir, dir / "data/x/");
}

TEST(DataRoot, ExecutablePathIsTheRunningProgram) {
    const std::string path = ExecutablePath(nullptr);
    EXPECT_EQ(path.front(), '/');
    EXPECT_TRUE(path.ends_with("/platform_tests")) << path;
    EXPECT_TRUE(FileExists(path));
    TempDir dir;
    EXPECT_EQ(ResolveDataRoot(dir.Path(), "ignored").AppPath, path);
}

TEST(DataRoot, LanguageFoldersBestFirstWithoutDuplicates) {
    DataRoot root{"/data/", "/usr/bin/vardane"};
    EXPECT_EQ(LanguageFolders(root), (std::vector<std::string>{"/data/Lang/", "/usr/bin/Lang/",
                                                               "/usr/share/vardane/Lang/"}));
    root = {"/opt/v/bin/", "/opt/v/bin/vardane"};
    EXPECT_EQ(LanguageFolders(root),
              (std::vector<std::string>{"/opt/v/bin/Lang/", "/opt/v/share/vardane/Lang/"}));
    root = {"/data/", ""};
    EXPECT_EQ(LanguageFolders(root), std::vector<std::string>{"/data/Lang/"});
}

}  // namespace
}  // namespace vardane
