#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "platform/file.h"
#include "platform/registry_tree.h"
#include "tests/support/temp_dir.h"

namespace vardane {
namespace {

using test::TempDir;
constexpr RegRoot kCu = RegRoot::CurrentUser;
constexpr RegRoot kLm = RegRoot::LocalMachine;

std::string ReadText(const std::string& path) {
    std::string text;
    EXPECT_TRUE(ReadFileBytes(path, text));
    return text;
}

TEST(Registry, WritesTheDocumentedFileFormat) {
    TempDir dir;
    Registry registry(dir.Path());
    RegistryKey key(registry);
    ASSERT_TRUE(key.Open(kCu, "SOFTWARE\\Vardane\\Connection", true));
    key.SetString("MaxTasks", "1");
    key.SetDefault("the key's \"default\"");
    key.SetString("Alpha", "x");
    EXPECT_EQ(ReadText(dir / "Registry/HKCU.reg"),
              "[SOFTWARE]\n\n"
              "[SOFTWARE\\Vardane]\n\n"
              "[SOFTWARE\\Vardane\\Connection]\n"
              "@=\"the key's \\\"default\\\"\"\n"
              "\"Alpha\"=\"x\"\n"
              "\"MaxTasks\"=\"1\"\n\n");
    EXPECT_FALSE(FileExists(dir / "Registry/HKLM.reg"));  // untouched hive, no file

    struct stat st {};
    ASSERT_EQ(::stat((dir / "Registry/HKCU.reg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // it holds proxy passwords
}

TEST(Registry, HostileNamesAndValuesSurviveARoundTrip) {
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> hostile = {
        {"quote\"name", "va\"lue\""},
        {"back\\slash\\", "C:\\dir\\"},
        {"multi\nline\r\n", "line1\r\nline2\n\r"},
        {"eq=[sect]", "=[x]=\"\\n\""},
        {"@", "@=\"\""},
        {"  spaced  ", "  "},
        {"utf8 \xE4\xB8\xAD", "\xF0\x9F\x98\x80\t tab"},
    };
    const std::string keyPath = "SOFTWARE\\Vardane\\[odd]=key \"name\"]";
    {
        Registry registry(dir.Path());
        RegistryKey key(registry);
        ASSERT_TRUE(key.Open(kCu, keyPath, true));
        for (const auto& [name, value] : hostile) {
            key.SetString(name, value);
        }
        key.SetDefault("\\");
    }
    Registry again(dir.Path());
    EXPECT_TRUE(again.Store(kCu).SetAsideName().empty());
    RegistryKey key(again);
    ASSERT_TRUE(key.Open(kCu, keyPath, false));
    for (const auto& [name, value] : hostile) {
        EXPECT_EQ(key.QueryString(name), value) << name;
    }
    EXPECT_EQ(key.QueryDefault(), "\\");
}

TEST(Registry, NamesAreCaseInsensitiveAndKeepTheirFirstCase) {
    TempDir dir;
    Registry registry(dir.Path());
    RegistryKey key(registry);
    ASSERT_TRUE(key.Open(kCu, "Software\\Vardane", true));
    key.SetString("MaxTasks", "1");
    key.SetString("MAXTASKS", "2");

    RegistryKey other(registry);
    ASSERT_TRUE(other.Open(kCu, "SOFTWARE\\vardane", false));
    EXPECT_EQ(other.QueryString("maxtasks"), "2");
    const auto values = registry.Store(kCu).Values("software\\VARDANE");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].first, "MaxTasks");
    EXPECT_EQ(registry.Store(kCu).AllKeys(),
              (std::vector<std::string>{"Software", "Software\\Vardane"}));
    EXPECT_EQ(other.QueryString("missing"), "");
    EXPECT_EQ(other.QueryDefault(), "");
}

TEST(Registry, SubKeysEnumerateInCaseInsensitiveOrder) {
    TempDir dir;
    Registry registry(dir.Path());
    for (const char* name : {"video", "Music", "eBook", "_first", "Soft", "apps"}) {
        RegistryKey key(registry);
        ASSERT_TRUE(key.Open(kCu, std::string("Cat\\") + name, true));
    }
    RegistryKey cat(registry);
    ASSERT_TRUE(cat.Open(kCu, "cat", false));
    EXPECT_EQ(cat.SubKeyCount(), 6);
    std::vector<std::string> names;
    std::string name;
    for (int i = 0; cat.EnumSubKey(i, name); ++i) {
        names.push_back(name);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"_first", "apps", "eBook", "Music", "Soft", "video"}));
    EXPECT_FALSE(cat.EnumSubKey(-1, name));
}

TEST(Registry, OpenCreateCloseAndDelete) {
    TempDir dir;
    Registry registry(dir.Path());
    RegistryKey key(registry);
    EXPECT_FALSE(key.Open(kCu, "A\\B", false));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_TRUE(key.Open(kCu, "A\\B\\C", true));
    key.SetString("v", "1");
    EXPECT_TRUE(key.Open(kCu, "A", false));
    EXPECT_EQ(key.KeyPath(), "A");
    EXPECT_FALSE(key.Open(kCu, "A\\Missing", false));
    EXPECT_EQ(key.KeyPath(), "A");  // a failed open keeps the key held before
    EXPECT_EQ(key.SubKeyCount(), 1);

    // An invalid path cannot be created: still true, but reads and writes do nothing.
    EXPECT_TRUE(key.Open(kCu, "A\\\\B", true));
    EXPECT_FALSE(key.IsOpen());
    key.SetString("v", "x");
    EXPECT_EQ(key.QueryString("v"), "");

    EXPECT_TRUE(RegistryKey::DeleteKey(registry, kCu, "a\\b"));
    EXPECT_FALSE(registry.Store(kCu).KeyExists("A\\B\\C"));
    EXPECT_TRUE(registry.Store(kCu).KeyExists("A"));
    EXPECT_FALSE(RegistryKey::DeleteKey(registry, kCu, "A\\B"));
    EXPECT_FALSE(registry.Store(kLm).KeyExists("A"));  // two separate hives

    Registry reread(dir.Path());
    EXPECT_EQ(reread.Store(kCu).AllKeys(), std::vector<std::string>{"A"});
}

TEST(Registry, CorruptFileIsSetAsideAndTheStoreStartsEmpty) {
    TempDir dir;
    ASSERT_TRUE(MakeDirectories(dir / "Registry"));
    const std::string path = dir / "Registry/HKCU.reg";
    const std::string broken = "[Good]\n\"a\"=\"1\"\n\"b\"=\"unterminated\n";
    for (const std::string& bad :
         {broken, std::string("\"orphan\"=\"value\"\n"), std::string("[A\\\\B]\n"),
          std::string("[A]\n\"x\"=\"bad \\q escape\"\n"),
          std::string("[A]\n\"x\"=\"1\" trailing\n"), std::string("[A]\njunk\n")}) {
        ASSERT_TRUE(WriteFileAtomic(path, bad, 0600));
        Registry registry(dir.Path());
        RegistryStore& store = registry.Store(kCu);
        ASSERT_FALSE(store.SetAsideName().empty()) << bad;
        EXPECT_TRUE(store.AllKeys().empty()) << bad;  // never half-read
        EXPECT_EQ(ReadText(store.SetAsideName()), bad);
        EXPECT_FALSE(FileExists(path));
        // Usable at once: the next write makes a fresh file.
        RegistryKey key(registry);
        ASSERT_TRUE(key.Open(kCu, "Good", true));
        key.SetString("a", "2");
        Registry reread(dir.Path());
        EXPECT_TRUE(reread.Store(kCu).SetAsideName().empty());
        std::string value;
        EXPECT_TRUE(reread.Store(kCu).QueryValue("Good", "a", value));
        EXPECT_EQ(value, "2");
        RemoveFile(path);
    }
    int setAside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "Registry")) {
        setAside += entry.path().filename().string().rfind("HKCU.reg.corrupt-", 0) == 0;
    }
    EXPECT_EQ(setAside, 6);  // each one kept under its own name
}

TEST(Registry, HandEditedFilesAreAccepted) {
    TempDir dir;
    ASSERT_TRUE(MakeDirectories(dir / "Registry"));
    ASSERT_TRUE(WriteFileAtomic(dir / "Registry/HKLM.reg",
                                "\xEF\xBB\xBF; comment\r\n"
                                "  [SOFTWARE\\Vardane]  \r\n"
                                "\"AppPath\" = \"/opt/vardane\"\r\n"
                                "\r\n"
                                "[software\\VARDANE]\n"
                                "@=\"dflt\"\n"));
    Registry registry(dir.Path());
    EXPECT_TRUE(registry.Store(kLm).SetAsideName().empty());
    RegistryKey key(registry);
    ASSERT_TRUE(key.Open(kLm, "SOFTWARE\\Vardane", false));
    EXPECT_EQ(key.QueryString("apppath"), "/opt/vardane");
    EXPECT_EQ(key.QueryDefault(), "dflt");
}

TEST(Registry, BatchWritesOnceAtTheEnd) {
    TempDir dir;
    Registry registry(dir.Path());
    RegistryStore& store = registry.Store(kCu);
    const std::string path = dir / "Registry/HKCU.reg";
    store.BeginBatch();
    store.BeginBatch();
    ASSERT_TRUE(store.CreateKey("K"));
    ASSERT_TRUE(store.SetValue("K", "a", "1"));
    store.EndBatch();
    EXPECT_FALSE(FileExists(path));
    store.EndBatch();
    EXPECT_EQ(ReadText(path), "[K]\n\"a\"=\"1\"\n\n");
    EXPECT_FALSE(store.SetValue("Missing", "a", "1"));
}

TEST(Registry, ConcurrentWritersLoseNothing) {
    TempDir dir;
    {
        Registry registry(dir.Path());
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&registry, t] {
                for (int i = 0; i < 25; ++i) {
                    RegistryKey key(registry);
                    key.Open(kCu, "T\\" + std::to_string(t), true);
                    key.SetString("v" + std::to_string(i), std::to_string(i));
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    }
    Registry reread(dir.Path());
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(reread.Store(kCu).Values("T\\" + std::to_string(t)).size(), 25u);
    }
}

TEST(RegistryText, KeyPathsWithEmptyComponentsOrLineBreaksAreInvalid) {
    EXPECT_TRUE(SplitKeyPath("A\\B c\\D"));
    EXPECT_FALSE(SplitKeyPath(""));
    EXPECT_FALSE(SplitKeyPath("\\A"));
    EXPECT_FALSE(SplitKeyPath("A\\"));
    EXPECT_FALSE(SplitKeyPath("A\nB"));
    RegNode root;
    EXPECT_TRUE(ParseRegistryText("", root));
    EXPECT_EQ(FormatRegistryText(root), "");
}

}  // namespace
}  // namespace vardane
