#include "task/progress_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "platform/file.h"
#include "platform/text.h"
#include "task/download_task.h"
#include "task/url.h"
#include "tests/task/task_test_root.h"

namespace vardane {
namespace {

using test::TaskTestRoot;
using test::Utf16LeFile;

const char* const kExampleText =
    "[FileInfo]\r\n"
    "BaseURL=http://HOST/pub/file.zip\r\n"
    "LocalDir=/My Documents/\r\n"
    "LocalFileName=file.zip\r\n"
    "LocalTempFileName=file.zip.vd~\r\n"
    "ProxyHTTP=1\r\n"
    "ProxyFTP=1\r\n"
    "State=0\r\n"
    "ThreadCount=4\r\n"
    "Folder=0\r\n"
    "Cat=SOFTWARE\\Vardane\\Categories\\Download\r\n"
    "FileSize=1000003\r\n"
    "FilePos=200000\r\n"
    "Block_0=100001-250000\r\n"
    "Block_1=350001-500000\r\n"
    "Block_2=500001-750000\r\n"
    "Block_3=750001-1000003\r\n";

const char* const kDefaultText =
    "[FileInfo]\r\nBaseURL=\r\nLocalDir=\r\nLocalFileName=\r\nLocalTempFileName=\r\n"
    "ProxyHTTP=1\r\nProxyFTP=1\r\nState=2\r\nThreadCount=1\r\nFolder=0\r\n"
    "Cat=SOFTWARE\\Vardane\\Categories\\Download\r\nFileSize=\r\nFilePos=\r\n"
    "Block_0=\r\nBlock_1=\r\nBlock_2=\r\nBlock_3=\r\n";

TaskProgressRecord ExampleRecord() {
    TaskProgressRecord r;
    r.BaseURL = "http://HOST/pub/file.zip";
    r.LocalDir = "/My Documents/";
    r.LocalFileName = "file.zip";
    r.LocalTempFileName = "file.zip.vd~";
    r.State = "0";
    r.ThreadCount = "4";
    r.FileSize = "1000003";
    r.FilePos = "200000";
    r.Block = {"100001-250000", "350001-500000", "500001-750000", "750001-1000003"};
    return r;
}

TEST(ProgressFile, WritesTheExactBytesWithMode0600) {
    TaskTestRoot root;
    std::string path = root.Path("Tasks/1.pro~");
    ASSERT_TRUE(WriteProgress(ExampleRecord(), path));
    EXPECT_EQ(test::ReadFile(path), Utf16LeFile(kExampleText));
    EXPECT_EQ(test::FileMode(path), 0600u);

    ::chmod(path.c_str(), 0644);  // a rewrite restores the mode
    ASSERT_TRUE(UpdateProgress(path, [](TaskProgressRecord& r) { r.State = "2"; }));
    EXPECT_EQ(test::FileMode(path), 0600u);
    EXPECT_EQ(ReadProgress(path).State, "2");
    EXPECT_EQ(ReadProgress(path).Block[3], "750001-1000003");
}

// The server's version of the stored bytes follows the designed lines, each
// key only when known; a record without them (every older one) loads as
// before and is written back byte for byte as before.
TEST(ProgressFile, ValidatorKeysFollowTheBlocksAndAreOptional) {
    TaskTestRoot root;
    std::string path = root.Path("Tasks/1.pro~");
    TaskProgressRecord r = ExampleRecord();
    r.Validators = {"W/\"5f-1e\"", "", "20261207100000"};
    ASSERT_TRUE(WriteProgress(r, path));
    EXPECT_EQ(test::ReadFile(path), Utf16LeFile(std::string(kExampleText) +
                                                "ETag=W/\"5f-1e\"\r\nMDTM=20261207100000\r\n"));
    TaskProgressRecord back = ReadProgress(path);
    EXPECT_EQ(back.Validators.ETag, "W/\"5f-1e\"");
    EXPECT_EQ(back.Validators.ModTime, "20261207100000");
    EXPECT_EQ(ParseProgress(Utf16LeFile("LastModified=Mon, 07 Dec 2026 10:00:00 GMT\r\n"))
                  .Validators.LastModified,
              "Mon, 07 Dec 2026 10:00:00 GMT");

    TaskProgressRecord old = ParseProgress(Utf16LeFile(kExampleText));
    EXPECT_TRUE(old.Validators.Empty());
    EXPECT_EQ(old.Block[3], "750001-1000003");
    EXPECT_EQ(FormatProgress(old), Utf16LeFile(kExampleText));
}

std::vector<bool> syncedFolders;  // one entry per sync: a folder or a file
int CountingSync(int fd) {
    struct stat st {};
    ::fstat(fd, &st);
    syncedFolders.push_back(S_ISDIR(st.st_mode));
    return 0;
}

// The queue writes "completed" into a record the engine has just saved as
// such: the file is not replaced (no rename, no flush of new data beside a
// busy disk), yet a durable update still syncs the file and its folder.
TEST(ProgressFile, AnUpdateThatChangesNothingKeepsTheFileButStillSyncsIt) {
    TaskTestRoot root;
    std::string path = root.Path("Tasks/1.pro~");
    ASSERT_TRUE(WriteProgress(ExampleRecord(), path));
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    syncedFolders.clear();
    SetSyncFunctionForTest(CountingSync);
    bool same = UpdateProgress(path, [](TaskProgressRecord& r) { r.State = "0"; });
    std::vector<bool> sameSyncs = syncedFolders;
    syncedFolders.clear();
    bool deferred = UpdateProgress(
        path, [](TaskProgressRecord& r) { r.ThreadCount = "4"; }, Durability::Deferred);
    SetSyncFunctionForTest(nullptr);

    EXPECT_TRUE(same);
    EXPECT_TRUE(deferred);
    EXPECT_EQ(sameSyncs, (std::vector<bool>{false, true}));
    EXPECT_TRUE(syncedFolders.empty());
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(test::ReadFile(path), Utf16LeFile(kExampleText));
}

// A key beyond the designed lines comes after them and only when set; a file
// without it reads as no checksum, and the engine's merges keep it.
TEST(ProgressFile, ChecksumKeyFollowsTheDesignedLinesOnlyWhenSet) {
    TaskTestRoot root;
    std::string path = root.Path("Tasks/1.pro~");
    TaskProgressRecord record = ExampleRecord();
    record.Checksum = "sha256=00ff";
    ASSERT_TRUE(WriteProgress(record, path));
    EXPECT_EQ(test::ReadFile(path),
              Utf16LeFile(std::string(kExampleText) + "Checksum=sha256=00ff\r\n"));
    ASSERT_TRUE(UpdateProgress(path, [](TaskProgressRecord& r) { r.State = "2"; }));
    EXPECT_EQ(ReadProgress(path).Checksum, "sha256=00ff");
    EXPECT_EQ(ParseProgress(Utf16LeFile(kExampleText)).Checksum, "");
    EXPECT_EQ(ParseProgress(Utf16LeFile("checksum=md5=00\r\n")).Checksum, "");
}

// The task's own header values and its last error line: after every other
// key, only those set, kept by an update and by a restart from zero; a file
// without them has none. The packed form in memory holds every field.
TEST(ProgressFile, RequestHeaderKeysFollowTheOtherKeysOnlyWhenSet) {
    TaskTestRoot root;
    std::string path = root.Path("Tasks/1.pro~");
    TaskProgressRecord record = ExampleRecord();
    record.Checksum = "md5=00";
    record.Headers = {"sid=a=b; x=1", "http://HOST/page?q=1", ""};
    record.LastError = "File not found on the server";
    ASSERT_TRUE(WriteProgress(record, path));
    EXPECT_EQ(
        test::ReadFile(path),
        Utf16LeFile(std::string(kExampleText) +
                    "Checksum=md5=00\r\nCookie=sid=a=b; x=1\r\nReferer=http://HOST/page?q=1\r\n"
                    "LastError=File not found on the server\r\n"));
    ASSERT_TRUE(UpdateProgress(path, [](TaskProgressRecord& r) {
        r.Headers.UserAgent = "Agent/1.0 (X11)";
        ForgetStoredBytes(r);
    }));
    const TaskProgressRecord updated = ReadProgress(path);
    EXPECT_EQ(updated.Headers,
              (RequestHeaders{"sid=a=b; x=1", "http://HOST/page?q=1", "Agent/1.0 (X11)"}));
    EXPECT_EQ(updated.LastError, record.LastError);
    EXPECT_TRUE(ParseProgress(Utf16LeFile(kExampleText)).Headers.Empty());
    EXPECT_EQ(ParseProgress(Utf16LeFile(kExampleText)).LastError, "");

    record.Block[2] = std::string(300, 'x');  // a length beyond one byte
    const std::string packed = PackProgress(record);
    EXPECT_EQ(FormatProgress(UnpackProgress(packed)), FormatProgress(record));
    EXPECT_EQ(PackedBaseUrl(packed), record.BaseURL);
    EXPECT_EQ(FormatProgress(UnpackProgress("")), FormatProgress(TaskProgressRecord{}));
}

TEST(ProgressFile, MissingFileReadAndWrittenBackHoldsTheDefaults) {
    TaskTestRoot root;
    std::string path = root.Path("Tasks/none.pro~");
    ASSERT_TRUE(WriteProgress(ReadProgress(path), path));
    EXPECT_EQ(test::ReadFile(path), Utf16LeFile(kDefaultText));
    EXPECT_EQ(GetTaskState(root.AppDir(), "missing"), TaskState::Stopped);
}

TEST(ProgressFile, ReadRules) {
    // Without the UTF-16LE byte-order mark (UTF-8, or UTF-16LE bare) nothing is read.
    EXPECT_EQ(ParseProgress("[FileInfo]\r\nState=0\r\n").State, "2");
    EXPECT_EQ(ParseProgress(test::AsciiUtf16Le("[FileInfo]\r\nState=0\r\n")).State, "2");
    EXPECT_EQ(ParseProgress("").State, "2");

    TaskProgressRecord r = ParseProgress(
        Utf16LeFile("[FileInfo]\r\n"
                    "filesize=10\r\n"  // keys are case-sensitive
                    "Block_7=1-2\r\n"  // index outside 0..3
                    "Block_1=5-9\r\n"
                    "BaseURL=http://h/a.php?x=1&y=2\r\n"  // value keeps every later '='
                    "State=3\r\n"
                    "[Other]\r\n"
                    "State=1\r\n"  // other sections read alike, later wins
                    "no separator\r\n"
                    "ThreadCount=4"));  // last line without CR LF is ignored
    EXPECT_EQ(r.FileSize, "");
    EXPECT_EQ(r.Block[1], "5-9");
    EXPECT_EQ(r.Block[3], "");
    EXPECT_EQ(r.BaseURL, "http://h/a.php?x=1&y=2");
    EXPECT_EQ(r.State, "1");
    EXPECT_EQ(r.ThreadCount, "1");

    // Keys out of their order, repeated or unknown: each key sets its own
    // field, the last time it appears.
    r =
        ParseProgress(Utf16LeFile("FilePos=5\r\nBaseURL=u\r\nBlock_11=3-4\r\nBlock_=x\r\n"
                                  "=empty key\r\nFilePos=7\r\nCat=\r\nFolderX=9\r\n"));
    EXPECT_EQ(r.FilePos, "7");
    EXPECT_EQ(r.BaseURL, "u");
    EXPECT_EQ(r.Block, (std::array<std::string, 4>{"", "3-4", "", ""}));
    EXPECT_EQ(r.Cat, "");  // present but empty is not the default
    EXPECT_EQ(r.Folder, "0");
    // A lone surrogate reads as U+FFFD, other text as UTF-8; a NUL ends the
    // text and an odd last byte is dropped.
    const std::string bom("\xFF\xFE", 2);
    r = ParseProgress(bom + test::AsciiUtf16Le("LocalFileName=a") +
                      std::string("\x00\xD8\xE9\x00", 4) + test::AsciiUtf16Le("\r\nState=4\r\n") +
                      std::string("\0\0", 2) + test::AsciiUtf16Le("Folder=3\r\n") + "\x41");
    EXPECT_EQ(r.LocalFileName, "a\xEF\xBF\xBD\xC3\xA9");
    EXPECT_EQ(r.State, "4");
    EXPECT_EQ(r.Folder, "0");
    // The packed record of the parser is that of the record it gives.
    ProgressParser parser;
    parser.Parse(Utf16LeFile(kExampleText));
    EXPECT_EQ(parser.Packed(), PackProgress(ExampleRecord()));
    EXPECT_EQ(parser.Text(ProgressField::Block3), "750001-1000003");
    parser.Parse("");
    EXPECT_EQ(parser.Packed(), PackProgress(TaskProgressRecord{}));

    // The walk stops at an empty line.
    EXPECT_EQ(ParseProgress(Utf16LeFile("State=0\r\n\r\nFolder=4\r\n")).Folder, "0");
    EXPECT_EQ(ParseProgress(Utf16LeFile("State=0\r\n\r\nFolder=4\r\n")).State, "0");
}

class SaveProgressTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path = ProgressFilePath(root.AppDir(), "7");
        TaskProgressRecord r;
        r.BaseURL = "http://file/a.zip";
        r.FileSize = "100";
        r.FilePos = "50";
        ASSERT_TRUE(WriteProgress(r, path));
        AdoptTaskRecord(task, r, FormatProgress(r));
        TaskDescriptor& d = task.descriptor;
        d.ProgressPath = path;
        d.BaseURL = "http://task/b.zip";
        d.ThreadCount = 3;
        d.FileSize = 1000;
        d.Downloaded = 600;
        d.State = TaskState::Running;
    }

    TaskTestRoot root;
    AppContext ctx{DataRoot{root.AppDir(), ""}};
    DownloadTask task{ctx};
    std::string path;
};

TEST_F(SaveProgressTest, MergesLiveValuesIntoTheFile) {
    task.descriptor.Blocks =
        TaskBlocks{{{601, 700, true}, {0, 0, false}, {900, 900, false}, {1, 0, false}}};
    task.descriptor.Validators.ETag = "\"v2\"";
    SaveProgress(task);
    TaskProgressRecord r = ReadProgress(path);
    EXPECT_EQ(task.descriptor.BaseURL, "http://file/a.zip");  // the file's address wins
    EXPECT_EQ(r.BaseURL, "http://file/a.zip");
    EXPECT_EQ(r.ThreadCount, "3");
    EXPECT_EQ(r.FileSize, "1000");
    EXPECT_EQ(r.FilePos, "600");
    EXPECT_EQ(r.Block, (std::array<std::string, 4>{"601-700", "0-0", "900-900", "1-0"}));
    EXPECT_EQ(r.Validators.ETag, "\"v2\"");
}

TEST_F(SaveProgressTest, KeepsSizeAndPositionOfAFailedOrSingleStreamTask) {
    StageTaskProgress(task, [](TaskProgressRecord& r) { r.BaseURL.clear(); });
    task.descriptor.State = TaskState::Failed;
    SaveProgress(task);
    TaskProgressRecord r = ReadProgress(path);
    EXPECT_EQ(r.BaseURL, "http://task/b.zip");  // an empty file address gets the task's
    EXPECT_EQ(r.FileSize, "100");
    EXPECT_EQ(r.FilePos, "50");
    EXPECT_EQ(r.Block[0], "");  // no block array: blocks untouched

    task.descriptor.State = TaskState::Running;
    task.descriptor.RangeMode = false;
    SaveProgress(task);
    EXPECT_EQ(ReadProgress(path).FileSize, "100");
}

TEST_F(SaveProgressTest, SizesBeyond32BitsRoundTrip) {
    const int64_t size = 5LL << 30;  // 5 GiB
    task.SetFileSize(size);
    task.descriptor.Downloaded = size - 7;
    task.descriptor.Blocks = TaskBlocks{{{size - 6, size, false}}};
    SaveProgress(task);
    TaskProgressRecord r = ReadProgress(path);
    EXPECT_EQ(r.FileSize, "5368709120");
    EXPECT_EQ(TextToInt(r.FilePos), size - 7);
    EXPECT_EQ(r.Block[0], "5368709114-5368709120");
}

// A state is written at once; a name and a size go with the next save.
TEST_F(SaveProgressTest, SingleFieldUpdates) {
    task.SetState(TaskState::Waiting);
    EXPECT_EQ(GetTaskState(root.AppDir(), "7"), TaskState::Waiting);
    EXPECT_EQ(ReadProgress(path).BaseURL, "http://file/a.zip");

    EXPECT_TRUE(task.SetLocalFileName("new.zip"));
    task.SetFileSize(1000);
    EXPECT_EQ(ReadProgress(path).LocalFileName, "");
    SaveProgress(task);
    EXPECT_EQ(ReadProgress(path).LocalFileName, "new.zip");
    EXPECT_EQ(ReadProgress(path).FileSize, "1000");
    // Once the temporary file exists its name is fixed.
    StageTaskProgress(task, [](TaskProgressRecord& r) { r.LocalTempFileName = "new.zip.vd~"; });
    EXPECT_FALSE(task.SetLocalFileName("other.zip"));
    EXPECT_EQ(TaskRecord(task).LocalFileName, "new.zip");
    EXPECT_EQ(task.Snapshot().LocalFileName, "new.zip");
}

}  // namespace
}  // namespace vardane
