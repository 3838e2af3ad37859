// Block allocation: the first split, claiming, and splitting the largest
// remainder for an idle worker.
#include <gtest/gtest.h>

#include "engine/worker.h"

namespace vardane {
namespace {

TaskDescriptor WithBlocks(int64_t size, std::initializer_list<std::pair<int64_t, int64_t>> ranges,
                          int64_t downloaded = 0) {
    TaskDescriptor d;
    d.FileSize = size;
    d.Downloaded = downloaded;
    TaskBlocks blocks{};
    int i = 0;
    for (auto [from, to] : ranges) {
        blocks[i].From = from;
        blocks[i].To = to;
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
        EXPECT_TRUE(b.Lock);
    }
}

TEST(FindFreeBlock, SplitsTheUpperHalfOfTheLargestRemainderIntoAFreeElement) {
    // 3 MB and 1 MB outstanding, both claimed; element 2 finished, element 3 unused.
    const int64_t mb = 1 << 20;
    TaskDescriptor d = WithBlocks(8 * mb, {{1, 3 * mb}, {5 * mb + 1, 6 * mb}, {7, 7}}, 0);
    (*d.Blocks)[0].Lock = (*d.Blocks)[1].Lock = true;
    int id = FindFreeBlock(d, 512 * 1024);
    ASSERT_EQ(id, 2);  // the first free element: finished block 2
    const TaskBlocks& b = *d.Blocks;
    int64_t half = (3 * mb - 1) / 2;
    EXPECT_EQ(b[0].From, 1);
    EXPECT_EQ(b[0].To, 1 + half);
    EXPECT_EQ(b[2].From, 2 + half);
    EXPECT_EQ(b[2].To, 3 * mb);
    EXPECT_TRUE(b[2].Lock);
    // The two parts are adjacent and cover the old block exactly.
    EXPECT_EQ(b[0].To + 1, b[2].From);
}

// Bytes a running request asked for are on their way to its worker: a split
// takes only what lies beyond them, and a block fully asked for is not split.
TEST(FindFreeBlock, SplitLeavesTheBytesARequestAskedForToItsWorker) {
    TaskDescriptor d = WithBlocks(10000, {{1, 4000}, {4001, 10000}, {5, 5}});
    TaskBlocks& b = *d.Blocks;
    b[0].Lock = b[1].Lock = true;
    b[0].Asked = 4000;  // all of block 0 is asked for
    b[1].Asked = 8001;  // 1999 bytes of block 1 are not
    ASSERT_EQ(FindFreeBlock(d, 100), 2);
    EXPECT_EQ(b[1].To, 8001 + 1999 / 2);
    EXPECT_EQ(b[2].From, b[1].To + 1);
    EXPECT_EQ(b[2].To, 10000);
    EXPECT_EQ(b[0].To, 4000);
    // A released block's old request no longer counts.
    b[2].From = b[2].To;
    b[2].Lock = false;
    b[0].Lock = false;
    b[0].From = 3000;
    EXPECT_EQ(FindFreeBlock(d, 100), 0);  // claimed whole, as before
    EXPECT_EQ(b[0].Asked, 0);
}

TEST(FindFreeBlock, NoSplitBelowMinBlockOrWithoutAFreeElement) {
    TaskDescriptor d = WithBlocks(5000, {{1, 1000}, {1001, 2000}, {2001, 3000}, {3001, 5000}});
    for (TaskBlock& b : *d.Blocks) {
        b.Lock = true;
    }
    EXPECT_EQ(FindFreeBlock(d, 100), -1);  // no free element
    (*d.Blocks)[1].From = (*d.Blocks)[1].To;
    (*d.Blocks)[1].Lock = false;
    EXPECT_EQ(FindFreeBlock(d, 5000), -1);  // largest remainder 1999 < MinBlock
    TaskBlocks before = *d.Blocks;
    EXPECT_EQ(FindFreeBlock(d, 1000), 1);
    EXPECT_EQ((*d.Blocks)[1].To, 5000);
    EXPECT_EQ((*d.Blocks)[3].To, before[3].From + 1999 / 2);
}

TEST(FindFreeBlock, NeverLeavesABlockOfOneOutstandingByte) {
    // Remainder 2 (three bytes): a split would leave a one-byte block that
    // reads as finished.
    TaskDescriptor d = WithBlocks(10, {{8, 10}, {0, 0}});
    (*d.Blocks)[0].Lock = true;
    EXPECT_EQ(FindFreeBlock(d, 0), -1);
}

TEST(FindFreeBlock, CompleteTaskAndUnusedElementsAreNeverClaimed) {
    TaskDescriptor d = WithBlocks(100, {{1, 100}}, 100);
    EXPECT_EQ(FindFreeBlock(d, 0), -1);
    TaskDescriptor e = WithBlocks(100, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, 5);
    EXPECT_EQ(FindFreeBlock(e, 0), -1);
    EXPECT_FALSE((*e.Blocks)[0].Lock);
}

}  // namespace
}  // namespace vardane
