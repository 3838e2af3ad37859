// Downloads from nginx over one and four connections.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/worker.h"
#include "platform/file.h"
#include "platform/text.h"
#include "task/progress_file.h"
#include "tests/engine/engine_harness.h"
#include "tests/support/require_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

// The body bytes nginx logged as sent, over every request.
int64_t BodyBytesSent(const std::string& accessLog) {
    std::istringstream lines(accessLog);
    std::string line;
    int64_t sum = 0;
    while (std::getline(lines, line)) {
        size_t request = line.find("\" ");  // the end of the quoted request line
        int status = 0;
        long long bytes = 0;
        if (request != std::string::npos &&
            std::sscanf(line.c_str() + request + 2, "%d %lld", &status, &bytes) == 2) {
            sum += bytes;
        }
    }
    return sum;
}

class NginxDownload : public ::testing::TestWithParam<int> {};

TEST_P(NginxDownload, FileArrivesByteExactAndTheTaskCompletes) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx;
    const int64_t size = 3 * 1024 * 1024 + 12345;
    std::string digest = MakeRandomFile(nginx.Root() + "data/file.bin", size, 7);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    EngineHarness h;
    std::string id = h.AddTask(nginx.Url("data/file.bin"), GetParam());
    TaskSlot slot(h.ctx);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    EXPECT_FALSE(FileExists(h.DownloadDir + "file.bin.vd~"));
    TaskProgressRecord r = h.Progress(id);
    EXPECT_EQ(r.State, "1");
    EXPECT_EQ(r.FileSize, std::to_string(size));
    EXPECT_EQ(r.FilePos, std::to_string(size));
    EXPECT_EQ(r.ThreadCount, std::to_string(GetParam()));
    EXPECT_EQ(h.owner.ThreadsMessages(), 1);
    std::string log = nginx.AccessLog();
    EXPECT_EQ(log.find("\" 4"), std::string::npos) << log;  // no 4xx
    // Every request ends where its block does: no byte is sent twice, even
    // though nginx writes ahead of a reader by its whole send buffer.
    EXPECT_EQ(BodyBytesSent(log), size) << log;
}

// Files shorter than the first request's range, and an empty one, over
// four connections.
TEST(NginxShortFiles, EmptyAndShortFilesArriveExactWithoutBytesSentTwice) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx;
    std::string digest = MakeRandomFile(nginx.Root() + "short.bin", 300 * 1024, 8);
    MakeRandomFile(nginx.Root() + "empty.bin", 0, 9);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    EngineHarness h;
    for (const char* name : {"short.bin", "empty.bin"}) {
        std::string id = h.AddTask(nginx.Url(name), 4);
        TaskSlot slot(h.ctx);
        ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << name << h.owner.Log();
    }
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "short.bin"), digest);
    EXPECT_EQ(FileSize(h.DownloadDir + "empty.bin"), 0);  // not a temporary file left behind
    EXPECT_FALSE(FileExists(h.DownloadDir + "empty.bin.vd~"));
    std::string log = nginx.AccessLog();
    EXPECT_EQ(BodyBytesSent(log.substr(0, log.find("empty.bin"))), 300 * 1024) << log;
}

INSTANTIATE_TEST_SUITE_P(Connections, NginxDownload, ::testing::Values(1, 4));

// Counts the reads of progress files.
class CountReads : public IProgressFileObserver {
  public:
    CountReads() { SetProgressFileObserver(this); }
    ~CountReads() override { SetProgressFileObserver(nullptr); }
    void OnProgressRead(const std::string& path) override {
        std::lock_guard lock(lock_);
        reads_.push_back(path);
    }
    void OnProgressWritten(const std::string&, const std::string&) override {}
    std::vector<std::string> Reads() {
        std::lock_guard lock(lock_);
        return reads_;
    }

  private:
    std::mutex lock_;
    std::vector<std::string> reads_;
};

// The engine works from the record its owner hands it: a run stopped
// part-way and its resume to the end never read the progress file, and at
// each end the file holds exactly the record handed back.
TEST(NginxRecord, RunsFromTheHandedRecordAndLeavesTheFileEqualToIt) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxOptions options;
    options.limitRate = 512 * 1024;
    NginxServer nginx(options);
    const int64_t size = 4 * 1024 * 1024;
    std::string digest = MakeRandomFile(nginx.Root() + "file.bin", size, 11);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    EngineHarness h;
    const std::string id = h.AddTask(nginx.Url("slow/file.bin"), 4);
    TaskProgressRecord record = h.Progress(id);
    CountReads reads;
    for (const TaskState expected : {TaskState::Stopped, TaskState::Completed}) {
        // As the queue starts a task: State 0 written, then the record handed over.
        record.State = "0";
        ASSERT_TRUE(WriteProgress(record, h.ProgressPath(id)));
        TaskSlot slot(h.ctx);
        if (expected == TaskState::Stopped) {
            ASSERT_TRUE(h.Start(slot, id, &record));
            for (int i = 0; i < 3000 && slot.task.GetDownloaded() < 256 * 1024; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ASSERT_TRUE(h.StopAndJoin(slot)) << h.owner.Log();
        } else {
            ASSERT_EQ(h.Run(slot, id, std::chrono::seconds(60), &record), expected)
                << h.owner.Log();
        }
        const TaskDescriptor end = h.owner.Last();
        ASSERT_EQ(end.State, expected) << h.owner.Log();
        ASSERT_TRUE(end.FinalRecord);
        std::string disk;
        ASSERT_TRUE(ReadFileBytes(h.ProgressPath(id), disk));
        EXPECT_EQ(disk, FormatProgress(*end.FinalRecord));
        EXPECT_EQ(end.FinalRecord->State, std::to_string(StoredState(expected)));
        EXPECT_GT(TextToInt(end.FinalRecord->FilePos), 0);  // the resume has bytes to keep
        record = *end.FinalRecord;
    }
    const std::vector<std::string> seen = reads.Reads();
    EXPECT_TRUE(seen.empty()) << seen.size() << " reads, the first of " << seen.front();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
}

}  // namespace
}  // namespace vardane::test
