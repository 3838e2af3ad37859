#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "platform/deferred_sync.h"
#include "tests/support/temp_dir.h"

namespace vardane {
namespace {

using test::TempDir;

std::vector<std::string> Names(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

TEST(WriteFileAtomic, ReplacesContentAndHonoursMode) {
    TempDir dir;
    const std::string path = dir / "settings";
    const mode_t oldMask = ::umask(0077);
    ASSERT_TRUE(WriteFileAtomic(path, "first", 0644));
    ::umask(oldMask);
    EXPECT_EQ(ModeOf(path), 0644u);  // set explicitly, not through the umask
    ASSERT_TRUE(WriteFileAtomic(path, std::string("sec\0ond", 7), 0600));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, bytes));
    EXPECT_EQ(bytes, std::string("sec\0ond", 7));
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"settings"});  // no temporary left
    ASSERT_TRUE(WriteFileAtomic(path, "", 0600));
    EXPECT_EQ(FileSize(path), 0);
}

TEST(WriteFileAtomic, FailsWithoutTouchingAnythingWhenTheFolderIsMissing) {
    TempDir dir;
    EXPECT_FALSE(WriteFileAtomic(dir / "missing/file", "x"));
    EXPECT_FALSE(WriteFileAtomic(dir.Path(), "x"));
    EXPECT_TRUE(Names(dir).empty());
}

TEST(WriteFileAtomic, FailedWriteKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir / "list";
    ASSERT_TRUE(WriteFileAtomic(path, "old content", 0600));

    // Make the write itself fail (EFBIG) as a full disk would.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteFileAtomic(path, std::string(100000, 'n'), 0600);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, bytes));
    EXPECT_EQ(bytes, "old content");
    EXPECT_EQ(Names(dir), std::vector<std::string>{"list"});
}

// What the replaced sync saw: the kind of each synced descriptor and whether
// the target already held the new bytes at the time.
struct SyncLog {
    std::vector<bool> isFolder;
    std::vector<bool> targetHadNewBytes;
    std::string target;
    bool fail = false;
};
SyncLog syncLog;

int RecordingSync(int fd) {
    struct stat st {};
    ::fstat(fd, &st);
    syncLog.isFolder.push_back(S_ISDIR(st.st_mode));
    std::string now;
    syncLog.targetHadNewBytes.push_back(ReadFileBytes(syncLog.target, now) && now == "new");
    return syncLog.fail && !S_ISDIR(st.st_mode) ? -1 : 0;
}

// A crash must find the old or the new file whole: the data is synced
// before the rename, the folder after it, and a failed sync keeps the old.
TEST(WriteFileAtomic, SyncsTheFileBeforeTheRenameAndTheFolderAfter) {
    TempDir dir;
    syncLog = SyncLog{};
    syncLog.target = dir / "state";
    ASSERT_TRUE(WriteFileAtomic(syncLog.target, "old"));
    syncLog = SyncLog{{}, {}, syncLog.target, false};
    SetSyncFunctionForTest(RecordingSync);
    bool written = WriteFileAtomic(syncLog.target, "new");
    SyncLog seen = syncLog;
    syncLog = SyncLog{{}, {}, syncLog.target, true};
    bool failed = WriteFileAtomic(syncLog.target, "newer");
    SetSyncFunctionForTest(nullptr);

    EXPECT_TRUE(written);
    ASSERT_EQ(seen.isFolder, (std::vector<bool>{false, true}));
    EXPECT_EQ(seen.targetHadNewBytes, (std::vector<bool>{false, true}));
    EXPECT_FALSE(failed);
    std::string now;
    ASSERT_TRUE(ReadFileBytes(syncLog.target, now));
    EXPECT_EQ(now, "new");
    EXPECT_EQ(Names(dir), std::vector<std::string>{"state"});
}

// A deferred flush syncs the file, then its folder; one that fails is
// reported with its path, a file gone by then is not, and destruction
// flushes what is still queued.
TEST(DeferredSync, SyncsInOrderReportsFailuresAndFinishesOnDestruction) {
    TempDir dir;
    syncLog = SyncLog{{}, {}, dir / "a", true};
    ASSERT_TRUE(WriteFileAtomic(dir / "a", "a", 0644, Durability::Deferred));
    std::vector<std::string> failed;
    SetSyncFunctionForTest(RecordingSync);
    {
        DeferredSync sync([&failed](const std::string& path) { failed.push_back(path); });
        sync.Add(dir / "gone");
        sync.Add(dir / "a");
        sync.Drain();
        EXPECT_EQ(failed, std::vector<std::string>{dir / "a"});
        syncLog.fail = false;
        sync.Add(dir / "a");
    }
    SetSyncFunctionForTest(nullptr);
    // The failed file sync stops there; the second one goes on to the folder.
    EXPECT_EQ(syncLog.isFolder, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(failed.size(), 1u);
}

TEST(AppendFile, CreatesWithModeThenAppends) {
    TempDir dir;
    const std::string path = dir / "log";
    ASSERT_TRUE(AppendFile(path, "a", 0600));
    ASSERT_TRUE(AppendFile(path, "bc", 0644));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, bytes));
    EXPECT_EQ(bytes, "abc");
    EXPECT_EQ(ModeOf(path), 0600u);  // the mode applies only on creation
    EXPECT_FALSE(AppendFile(dir / "no/such", "x"));
}

TEST(Files, QueriesAndFolders) {
    TempDir dir;
    std::string bytes = "stale";
    EXPECT_FALSE(ReadFileBytes(dir / "none", bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(ReadFileBytes(dir.Path(), bytes));  // a folder is not a file
    EXPECT_EQ(FileSize(dir / "none"), -1);
    EXPECT_FALSE(FileExists(dir / "none"));
    EXPECT_FALSE(FileExists(dir.Path()));
    EXPECT_TRUE(DirectoryExists(dir.Path()));

    ASSERT_TRUE(MakeDirectories(dir / "a/b/c/"));
    EXPECT_TRUE(MakeDirectories(dir / "a/b"));  // already there
    EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
    ASSERT_TRUE(WriteFileAtomic(dir / "a/f", "12345"));
    EXPECT_FALSE(MakeDirectories(dir / "a/f/g"));  // a file in the way
    EXPECT_TRUE(FileExists(dir / "a/f"));
    EXPECT_EQ(FileSize(dir / "a/f"), 5);
    EXPECT_TRUE(RemoveFile(dir / "a/f"));
    EXPECT_FALSE(RemoveFile(dir / "a/f"));
}

}  // namespace
}  // namespace vardane
