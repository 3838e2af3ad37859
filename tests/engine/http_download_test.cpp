// Downloads from nginx over one and four connections.
#include <gtest/gtest.h>

#include "engine/worker.h"
#include "platform/file.h"
#include "tests/engine/engine_harness.h"
#include "tests/support/require_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

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
}

INSTANTIATE_TEST_SUITE_P(Connections, NginxDownload, ::testing::Values(1, 4));

}  // namespace
}  // namespace vardane::test
