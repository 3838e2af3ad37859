#include "explorer/list_line.h"

#include <gtest/gtest.h>

namespace vardane {
namespace {

ListEntry Entry(const std::string& line) {
    ListEntry e;
    EXPECT_TRUE(ParseListEntry(line, e)) << line;
    return e;
}

TEST(ListLine, UnixLinesOfCommonServers) {
    // vsftpd
    ListEntry e = Entry("drwxr-xr-x    2 0        0            4096 Mar 03 12:05 pub");
    EXPECT_EQ(e.type, EntryType::Folder);
    EXPECT_EQ(e.name, "pub");
    EXPECT_EQ(e.date, "Mar 03 12:05");
    // pyftpdlib, a year instead of a time, a name with blanks inside and at the end
    e = Entry("-rw-r--r--   1 vardane  vardane     12345 Jan 01  2023 my file.txt ");
    EXPECT_EQ(e.type, EntryType::File);
    EXPECT_EQ(e.size, 12345);
    EXPECT_EQ(e.date, "Jan 01 2023");
    EXPECT_EQ(e.name, "my file.txt ");
    // no group column, a size past 4 GiB
    e = Entry("-rw-r--r-- 1 ftp 5368709120 Dec 31 23:59 big.iso");
    EXPECT_EQ(e.size, 5368709120LL);
    EXPECT_EQ(e.name, "big.iso");
    // a link: the name without its target
    e = Entry("lrwxrwxrwx 1 root root 11 Feb  5 10:00 latest -> release 2.1");
    EXPECT_EQ(e.type, EntryType::Link);
    EXPECT_EQ(e.name, "latest");
    EXPECT_EQ(e.linkTarget, "release 2.1");
    // a name that looks like a date column
    e = Entry("-rw-r--r-- 1 a b 7 Jan 1 2020 Jan 1 2020");
    EXPECT_EQ(e.name, "Jan 1 2020");
}

TEST(ListLine, MsDosLines) {
    ListEntry e = Entry("01-02-24  10:15AM       <DIR>          Program Files");
    EXPECT_EQ(e.type, EntryType::Folder);
    EXPECT_EQ(e.name, "Program Files");
    EXPECT_EQ(e.date, "01-02-24 10:15AM");
    e = Entry("12-31-2023  11:59PM           6442450944 backup 1.zip\r\n");
    EXPECT_EQ(e.type, EntryType::File);
    EXPECT_EQ(e.size, 6442450944LL);
    EXPECT_EQ(e.name, "backup 1.zip");
}

TEST(ListLine, WhatIsNoEntry) {
    ListEntry e;
    for (const std::string& line :
         {std::string(), std::string("total 12"), std::string("garbage"),
          std::string("crw-rw-rw- 1 0 0 1, 3 Jan 01 00:00 null"),
          std::string("drwxr-xr-x 2 0 0 4096 Mar 03 12:05"), std::string("01-02-24 10:15AM <DIR>"),
          "-rw-r--r-- 1 a b 1 Jan 01 00:00 " + std::string(1 << 20, 'x')}) {
        EXPECT_FALSE(ParseListEntry(line, e)) << line.substr(0, 80);
        EXPECT_EQ(e.type, EntryType::None);
    }
    // A size too large for 64 bits is unknown, not wrapped.
    ASSERT_TRUE(ParseListEntry("-rw-r--r-- 1 a b 99999999999999999999 Jan 01 00:00 f", e));
    EXPECT_EQ(e.size, -1);
}

TEST(ListLine, ColumnsKeepBlanksInTheName) {
    ListLineFields c;
    EXPECT_EQ(ParseListLine("drwxr-xr-x 2 0 0 4096 Mar 03 12:05 two  words", c), 9);
    EXPECT_EQ(c[0], "drwxr-xr-x");
    EXPECT_EQ(c[4], "4096");
    EXPECT_EQ(c[8], "two  words");
    EXPECT_EQ(ParseListLine("total 12", c), 2);
    EXPECT_EQ(c[1], "12");
    EXPECT_EQ(c[8], "");
    EXPECT_EQ(ParseListLine("", c), 0);
}

TEST(ListLine, SafeNames) {
    EXPECT_TRUE(IsSafeEntryName("a b.txt"));
    EXPECT_TRUE(IsSafeEntryName("Grüße ✓"));
    EXPECT_TRUE(IsSafeEntryName("..hidden"));
    for (const char* bad : {"", ".", "..", "../x", "a/b", "a\\b", "bell\a", "tab\tname"}) {
        EXPECT_FALSE(IsSafeEntryName(bad)) << bad;
    }
}

}  // namespace
}  // namespace vardane
