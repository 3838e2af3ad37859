// Block allocation: the first split, claiming, and splitting the largest
// remainder for an idle worker.
#include <gtest/gtest.h>

#include "engine/worker.h"

namespace vardane {
namespace {

TaskDescriptor WithBlocks(int64_t size, std::initializer_list<std::pair<int64_t, int64_t>> ranges,
                          int64_t downloaded = 0) {
    TaskDescriptor d;
    d.iFileSize = size;
    d.iDownloaded = downloaded;
    TaskBlocks blocks{};
    int i = 0;
    for (auto [from, to] : ranges) {
        blocks[i].iFrom = from;
        blocks[i].iTo = to;
        ++i;
    }
    d.Blocks = blocks;
    return d;
}

TEST(FindFreeBlock, ClaimsUnclaimedOutstandingBlocksInOrderThenNothing) {
    TaskDescriptor d =
        WithBlocks(1000003, {{1, 250000}, {250001, 500000}, {500001, 750000}, {750001, 1000003}});
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(FindFreeBlock(d, 1 << 30), i);
    }
    // All claimed, no free element to split into.
    EXPECT_EQ(FindFreeBlock(d, 1), -1);
    for (const TaskBlock& b : *d.Blocks) {
        EXPECT_TRUE(b.bLock);
    }
}

TEST(FindFreeBlock, SplitsTheUpperHalfOfTheLargestRemainderIntoAFreeElement) {
    // 3 MB and 1 MB outstanding, both claimed; element 2 finished, element 3 unused.
    const int64_t mb = 1 << 20;
    TaskDescriptor d = WithBlocks(8 * mb, {{1, 3 * mb}, {5 * mb + 1, 6 * mb}, {7, 7}}, 0);
    (*d.Blocks)[0].bLock = (*d.Blocks)[1].bLock = true;
    int id = FindFreeBlock(d, 512 * 1024);
    ASSERT_EQ(id, 2);  // the first free element: finished block 2
    const TaskBlocks& b = *d.Blocks;
    int64_t half = (3 * mb - 1) / 2;
    EXPECT_EQ(b[0].iFrom, 1);
    EXPECT_EQ(b[0].iTo, 1 + half);
    EXPECT_EQ(b[2].iFrom, 2 + half);
    EXPECT_EQ(b[2].iTo, 3 * mb);
    EXPECT_TRUE(b[2].bLock);
    // The two parts are adjacent and cover the old block exactly.
    EXPECT_EQ(b[0].iTo + 1, b[2].iFrom);
}

// Bytes a running request asked for are on their way to its worker: a split
// takes only what lies beyond them, and a block fully asked for is not split.
TEST(FindFreeBlock, SplitLeavesTheBytesARequestAskedForToItsWorker) {
    TaskDescriptor d = WithBlocks(10000, {{1, 4000}, {4001, 10000}, {5, 5}});
    TaskBlocks& b = *d.Blocks;
    b[0].bLock = b[1].bLock = true;
    b[0].iAsked = 4000;  // all of block 0 is asked for
    b[1].iAsked = 8001;  // 1999 bytes of block 1 are not
    ASSERT_EQ(FindFreeBlock(d, 100), 2);
    EXPECT_EQ(b[1].iTo, 8001 + 1999 / 2);
    EXPECT_EQ(b[2].iFrom, b[1].iTo + 1);
    EXPECT_EQ(b[2].iTo, 10000);
    EXPECT_EQ(b[0].iTo, 4000);
    // A released block's old request no longer counts.
    b[2].iFrom = b[2].iTo;
    b[2].bLock = false;
    b[0].bLock = false;
    b[0].iFrom = 3000;
    EXPECT_EQ(FindFreeBlock(d, 100), 0);  // claimed whole, as before
    EXPECT_EQ(b[0].iAsked, 0);
}

TEST(FindFreeBlock, NoSplitBelowMinBlockOrWithoutAFreeElement) {
    TaskDescriptor d = WithBlocks(5000, {{1, 1000}, {1001, 2000}, {2001, 3000}, {3001, 5000}});
    for (TaskBlock& b : *d.Blocks) {
        b.bLock = true;
    }
    EXPECT_EQ(FindFreeBlock(d, 100), -1);  // no free element
    (*d.Blocks)[1].iFrom = (*d.Blocks)[1].iTo;
    (*d.Blocks)[1].bLock = false;
    EXPECT_EQ(FindFreeBlock(d, 5000), -1);  // largest remainder 1999 < MinBlock
    TaskBlocks before = *d.Blocks;
    EXPECT_EQ(FindFreeBlock(d, 1000), 1);
    EXPECT_EQ((*d.Blocks)[1].iTo, 5000);
    EXPECT_EQ((*d.Blocks)[3].iTo, before[3].iFrom + 1999 / 2);
}

TEST(FindFreeBlock, NeverLeavesABlockOfOneOutstandingByte) {
    // Remainder 2 (three bytes): a split would leave a one-byte block that
    // reads as finished.
    TaskDescriptor d = WithBlocks(10, {{8, 10}, {0, 0}});
    (*d.Blocks)[0].bLock = true;
    EXPECT_EQ(FindFreeBlock(d, 0), -1);
}

TEST(FindFreeBlock, CompleteTaskAndUnusedElementsAreNeverClaimed) {
    TaskDescriptor d = WithBlocks(100, {{1, 100}}, 100);
    EXPECT_EQ(FindFreeBlock(d, 0), -1);
    TaskDescriptor e = WithBlocks(100, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, 5);
    EXPECT_EQ(FindFreeBlock(e, 0), -1);
    EXPECT_FALSE((*e.Blocks)[0].bLock);
}

}  // namespace
}  // namespace vardane
