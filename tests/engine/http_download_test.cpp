// Downloads from nginx over one and four connections.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "engine/worker.h"
#include "platform/file.h"
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
    CTaskSlot slot(h.ctx);
    ASSERT_EQ(h.Run(slot, id), stateCompleted) << h.owner.Log();
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
        CTaskSlot slot(h.ctx);
        ASSERT_EQ(h.Run(slot, id), stateCompleted) << name << h.owner.Log();
    }
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "short.bin"), digest);
    EXPECT_EQ(FileSize(h.DownloadDir + "empty.bin"), 0);  // not a temporary file left behind
    EXPECT_FALSE(FileExists(h.DownloadDir + "empty.bin.vd~"));
    std::string log = nginx.AccessLog();
    EXPECT_EQ(BodyBytesSent(log.substr(0, log.find("empty.bin"))), 300 * 1024) << log;
}

INSTANTIATE_TEST_SUITE_P(Connections, NginxDownload, ::testing::Values(1, 4));

}  // namespace
}  // namespace vardane::test
