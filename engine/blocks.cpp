// Block allocation: the first split of a file, the reload of stored blocks,
// and the choice of a block for an idle worker (splitting the largest).
#include <algorithm>

#include "engine/worker.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/progress_file.h"
#include "task/url.h"

namespace vardane {

namespace {

// A block of one outstanding byte would read as finished (From = To), so no
// split may leave one: the remainder split must leave at least two bytes on
// each side.
constexpr int64_t kMinSplitRemainder = 4;

bool Outstanding(const TaskBlock& b) {
    return b.From != 0 && b.To != 0 && b.From < b.To;
}

// Where a split of b may begin: past the bytes its worker's request already
// asked for (the server is sending them; taken over they would come twice).
int64_t SplitStart(const TaskBlock& b) {
    return b.Lock && b.Asked > b.From ? std::min(b.Asked, b.To) : b.From;
}

// "from-to" as stored; false when it does not describe a usable block of a
// file of size bytes (or an unused element).
bool ParseStoredBlock(const std::string& text, int64_t size, TaskBlock& out) {
    size_t dash = text.find('-');
    if (dash == std::string::npos) {
        return false;
    }
    TaskBlock b;
    b.From = TextToInt(std::string_view(text).substr(0, dash));
    b.To = TextToInt(std::string_view(text).substr(dash + 1));
    bool unused = b.From == 0 && b.To == 0;
    bool valid = b.From >= 1 && b.To <= size && b.From <= b.To;
    if (!unused && !valid) {
        return false;
    }
    out = b;
    return true;
}

}  // namespace

// Fresh split of size bytes into n blocks; a block never holds fewer than
// two bytes (a one-byte block looks finished), so tiny files use one block.
// Block 0 holds at least the firstAsked bytes that the first request is
// already fetching: ending it sooner would throw away what the server had
// sent past its end, and fetch that again.
static TaskBlocks FreshSplit(int64_t size, int n, int64_t firstAsked) {
    TaskBlocks blocks{};
    if (n < 1) {
        return blocks;
    }
    n = std::min(n, kBlockCount);
    if (size / n < 2) {
        n = 1;
    }
    int64_t start = 0;  // bytes before the evenly split part
    int first = 0;      // index of its first block
    if (n > 1 && firstAsked > size / n) {
        start = std::min(firstAsked, size);
        for (--n; n > 0 && (size - start) / n < 2; --n) {
        }
        blocks[0].From = 1;
        blocks[0].To = n == 0 ? size : start;
        first = 1;
    }
    const int64_t part = n > 0 ? (size - start) / n : 0;
    for (int i = 0; i < n; ++i) {
        blocks[first + i].From = start + i * part + 1;
        blocks[first + i].To = i == n - 1 ? size : start + (i + 1) * part;
    }
    return blocks;
}

int FindFreeBlock(TaskDescriptor& d, int64_t minBlock) {
    if (!d.Blocks || d.Downloaded == d.FileSize) {
        return -1;
    }
    TaskBlocks& blocks = *d.Blocks;
    for (int i = 0; i < kBlockCount; ++i) {
        if (!blocks[i].Lock && Outstanding(blocks[i])) {
            blocks[i].Lock = true;
            blocks[i].Asked = 0;
            return i;
        }
    }
    int free = -1;
    for (int i = 0; i < kBlockCount && free < 0; ++i) {
        if (!blocks[i].Lock && blocks[i].From == blocks[i].To) {
            free = i;
        }
    }
    int largest = -1;
    int64_t best = 0;
    for (int i = 0; i < kBlockCount; ++i) {
        int64_t remaining = blocks[i].To - SplitStart(blocks[i]);
        if (Outstanding(blocks[i]) && remaining > best) {
            best = remaining;
            largest = i;
        }
    }
    if (largest < 0 || best < std::max(minBlock, kMinSplitRemainder) || free < 0) {
        return -1;
    }
    TaskBlock& l = blocks[largest];
    TaskBlock& f = blocks[free];
    int64_t half = best / 2;
    f.To = l.To;
    l.To = SplitStart(l) + half;
    f.From = l.To + 1;
    f.Lock = true;
    f.Asked = 0;
    return free;
}

bool PrepareBlocks(DownloadTask& task) {
    {
        std::lock_guard progress(task.ProgressLock);
        const TaskProgressRecord record = task.Record;
        std::string url;
        bool hasProtocol;
        {
            std::lock_guard lock(task.TaskLock);
            task.descriptor.BaseURL = record.BaseURL;
            hasProtocol = !task.descriptor.Protocol.empty();
            url = task.descriptor.URL;
        }
        if (!hasProtocol || !ParseUrl(task, url)) {
            return false;
        }
        int64_t size = TextToInt(record.FileSize);
        int64_t pos = TextToInt(record.FilePos);
        std::lock_guard lock(task.TaskLock);
        TaskDescriptor& d = task.descriptor;
        d.FileSize = size;
        TaskBlocks blocks{};
        bool stored = !record.Block[0].empty() && size > 0;
        int64_t outstanding = 0;
        for (int i = 0; stored && i < kBlockCount; ++i) {
            stored = ParseStoredBlock(record.Block[i], size, blocks[i]);
            if (Outstanding(blocks[i])) {
                outstanding += blocks[i].To - blocks[i].From + 1;
            }
        }
        // The stored blocks say what is on disk; the position is derived from
        // them rather than taken from FilePos, which a failed task does not
        // update (its blocks are saved all the same).
        (void)pos;
        if (stored) {
            d.Downloaded = d.PrevDownloaded = size - outstanding;
        } else {
            blocks = FreshSplit(size, d.ThreadCount, d.FirstAsked);
            d.Downloaded = d.PrevDownloaded = 0;
        }
        d.Blocks = blocks;
    }
    SaveProgress(task, Durability::Deferred);
    return true;
}

}  // namespace vardane
