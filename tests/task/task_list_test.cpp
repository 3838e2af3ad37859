#include "task/task_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "task/progress_file.h"
#include "task/url.h"
#include "tests/task/task_test_root.h"

namespace vardane {
namespace {

using test::TaskTestRoot;
using test::Utf16LeFile;
using Ids = std::vector<std::string>;

class TaskListTest : public ::testing::Test {
  protected:
    TaskTestRoot root;
    std::string list = ListFilePath(root.AppDir(), TaskList::Downloading);
};

TEST_F(TaskListTest, AppendWritesTheByteOrderMarkOnlyForANewFile) {
    EXPECT_EQ(ListFilePath("/d/", TaskList::Completed), "/d/Tasks/Completed.lst");
    EXPECT_EQ(ListFilePath("/d/", TaskList::Deleted), "/d/Tasks/Deleted.lst");
    ASSERT_TRUE(AppendListLine(list, "11"));
    ASSERT_TRUE(AppendListLine(list, "22"));
    EXPECT_EQ(test::ReadFile(list), Utf16LeFile("11\r\n22\r\n"));

    test::WriteFile(list, "");  // an empty file counts as new
    ASSERT_TRUE(AppendListLine(list, "33"));
    EXPECT_EQ(test::ReadFile(list), Utf16LeFile("33\r\n"));
}

TEST_F(TaskListTest, EmptyLinesLoseNoTask) {
    test::WriteFile(list, Utf16LeFile("1\r\n\r\n2\r\n3\r\n\r\n4\r\n"));
    EXPECT_EQ(ReadListIds(list), (Ids{"1", "2", "3", "4"}));

    ASSERT_TRUE(SwapListLines(list, "1", "3"));
    EXPECT_EQ(test::ReadFile(list), Utf16LeFile("3\r\n2\r\n1\r\n4\r\n"));

    test::WriteFile(list, Utf16LeFile("1\r\n\r\n2\r\n"));
    ASSERT_TRUE(RemoveListLine(list, "1"));
    EXPECT_EQ(test::ReadFile(list), Utf16LeFile("2\r\n"));
}

TEST_F(TaskListTest, RemoveAndSwapTouchOnlyTheirIds) {
    test::WriteFile(list, Utf16LeFile("5\r\n6\r\n5\r\n7\r\n"));
    ASSERT_TRUE(RemoveListLine(list, "5"));
    EXPECT_EQ(ReadListIds(list), (Ids{"6", "7"}));
    ASSERT_TRUE(RemoveListLine(list, "8"));  // absent id: list unchanged
    EXPECT_EQ(test::ReadFile(list), Utf16LeFile("6\r\n7\r\n"));

    test::WriteFile(list, Utf16LeFile("a\r\nb\r\nc\r\nd\r\n"));
    ASSERT_TRUE(SwapListLines(list, "d", "b"));
    EXPECT_EQ(ReadListIds(list), (Ids{"a", "d", "c", "b"}));

    std::string missing = root.Path("Tasks/Deleted.lst");
    EXPECT_FALSE(RemoveListLine(missing, "a"));
    EXPECT_FALSE(SwapListLines(missing, "a", "b"));
    EXPECT_FALSE(test::ReadFile(missing).size());
    EXPECT_TRUE(ReadListIds(missing).empty());
}

TEST_F(TaskListTest, ListsOfOtherToolsAreReadAndAppendedToReadably) {
    test::WriteFile(list,
                    "\xEF\xBB\xBF"
                    "1\n2\r\n");  // UTF-8 with BOM, mixed line ends
    EXPECT_EQ(ReadListIds(list), (Ids{"1", "2"}));
    test::WriteFile(list, "1\r2");  // no BOM, no final line end
    EXPECT_EQ(ReadListIds(list), (Ids{"1", "2"}));
    ASSERT_TRUE(AppendListLine(list, "3"));
    EXPECT_EQ(test::ReadFile(list), Utf16LeFile("1\r\n2\r\n3\r\n"));

    test::WriteFile(list, std::string("\xFE\xFF", 2) + test::AsciiUtf16Be("8\r\n9\r\n"));
    EXPECT_EQ(ReadListIds(list), (Ids{"8", "9"}));
    ASSERT_TRUE(RemoveListLine(list, "8"));
    EXPECT_EQ(test::ReadFile(list), Utf16LeFile("9\r\n"));
}

// The load reads each list once; what it gets must be what the line reader
// and the soundness check give, for hostile bytes too.
TEST_F(TaskListTest, OneReadOfAListAgreesWithTheLineReader) {
    const std::string bom("\xFF\xFE", 2);
    const std::vector<std::pair<std::string, bool>> cases = {
        {Utf16LeFile("1\r\n\r\n2\r3\n\n4"), true},   // any line end, none last
        {Utf16LeFile("1\r\n2\r\n") + "\x33", true},  // odd last byte dropped
        {Utf16LeFile(std::string(40, '9') + "\r\n"), true},
        {Utf16LeFile(std::string(41, '9') + "\r\n"), false},
        {Utf16LeFile("1\r\nx\r\n"), false},
        {Utf16LeFile(std::string("1\0\r\n", 4)), false},       // NUL in a line
        {bom + std::string("1\0\x00\xD8\r\0\n\0", 8), false},  // lone surrogate
        {bom + std::string("\x31\x06\r\0\n\0", 6), false},     // U+0631, not a digit
        {bom, true},
        {"\xEF\xBB\xBF"
         "5\n6\r\n",
         true},  // another tool's encoding
        {"5\r\n\xFF\r\n", false},
    };
    for (const auto& [bytes, sound] : cases) {
        test::WriteFile(list, bytes);
        Ids ids{"left over"};
        EXPECT_EQ(ReadSoundListIds(list, ids), sound) << testing::PrintToString(bytes);
        EXPECT_EQ(IsListFileSound(list), sound) << testing::PrintToString(bytes);
        EXPECT_EQ(ids, sound ? ReadListIds(list) : Ids{}) << testing::PrintToString(bytes);
    }
    test::WriteFile(list, Utf16LeFile("1\r\n\r\n2\r3\n\n4"));
    Ids ids;
    ASSERT_TRUE(ReadSoundListIds(list, ids));
    EXPECT_EQ(ids, (Ids{"1", "2", "3", "4"}));

    std::string missing = root.Path("Tasks/Deleted.lst");
    EXPECT_TRUE(ReadSoundListIds(missing, ids));
    EXPECT_TRUE(ids.empty());
    std::filesystem::create_directory(missing);  // a folder in its place
    EXPECT_FALSE(ReadSoundListIds(missing, ids));
}

TEST_F(TaskListTest, UrlIsFoundByBaseUrlOfDownloadingTasksOnly) {
    AppContext ctx(DataRoot{root.AppDir(), ""});
    auto addTask = [&](const std::string& id, const std::string& url, TaskList where) {
        TaskProgressRecord r;
        r.BaseURL = url;
        ASSERT_TRUE(WriteProgress(r, ProgressFilePath(root.AppDir(), id)));
        ASSERT_TRUE(AppendListLine(ListFilePath(root.AppDir(), where), id));
    };
    EXPECT_FALSE(IsUrlInDownloadList(ctx, "http://h/a.zip"));  // no list file

    ASSERT_TRUE(AppendListLine(list, "404"));  // no progress file: empty BaseURL
    addTask("1", "http://h/a.zip", TaskList::Downloading);
    addTask("2", "http://h/done.zip", TaskList::Completed);
    EXPECT_TRUE(IsUrlInDownloadList(ctx, "HTTP://H/A.ZIP"));
    EXPECT_FALSE(IsUrlInDownloadList(ctx, "http://h/done.zip"));

    test::WriteFile(list, Utf16LeFile("404\r\n\r\n1\r\n"));  // found behind an empty line
    EXPECT_TRUE(IsUrlInDownloadList(ctx, "http://h/a.zip"));
}

}  // namespace
}  // namespace vardane
