// Resume: a task stopped part-way and a process killed part-way both end
// with the exact file and fetch again only what was not saved.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "engine/worker.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/range_server.h"
#include "tests/support/sha256.h"

extern char** environ;

namespace vardane::test {
namespace {

const int64_t kSize = 6 * 1024 * 1024 + 4321;
// Bytes the server may have pushed into the sockets beyond what the client
// took before it closed them.
const int64_t kInFlightSlack = 512 * 1024;

RangeServerOptions SlowServer() {
    RangeServerOptions o;
    o.body = RandomBytes(kSize, 23);
    o.pieceDelayMs = 10;  // about 1.6 MB/s per connection
    return o;
}

// Waits until the progress file of id records at least bytes; returns it.
int64_t WaitForSavedPosition(EngineHarness& h, const std::string& id, int64_t bytes) {
    for (int i = 0; i < 3000; ++i) {
        int64_t pos = TextToInt(h.Progress(id).FilePos);
        if (pos >= bytes) {
            return pos;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

TEST(Resume, StoppedTaskResumesAndFetchesOnlyTheRest) {
    RangeServer server(SlowServer());
    EngineHarness h;
    std::string id = h.AddTask(server.Url("data.bin"), 2);
    CTaskSlot slot(h.ctx);
    ASSERT_TRUE(h.Start(slot, id));
    ASSERT_GT(WaitForSavedPosition(h, id, kSize / 4), 0) << h.owner.Log();
    ASSERT_TRUE(h.StopAndJoin(slot));
    EXPECT_EQ(h.owner.Last().iState, stateStopped);
    int64_t saved = TextToInt(h.Progress(id).FilePos);
    ASSERT_LT(saved, kSize);
    EXPECT_TRUE(FileExists(h.DownloadDir + "data.bin.vd~"));

    server.ResetBytesSent();
    ASSERT_EQ(h.Run(slot, id), stateCompleted) << h.owner.Log();
    EXPECT_EQ(ReadFile(h.DownloadDir + "data.bin"), SlowServer().body);
    RecordProperty("refetched",
                   std::to_string(server.BytesSent()) + " of " + std::to_string(kSize - saved));
    EXPECT_LE(server.BytesSent(), kSize - saved + kInFlightSlack);
    // The reused temporary file was not reserved again.
    EXPECT_EQ(h.owner.Log().find(h.ctx.lang.GetLangText("Log_MallocSpace")),
              h.owner.Log().rfind(h.ctx.lang.GetLangText("Log_MallocSpace")));
}

TEST(Resume, KilledProcessResumesFromTheProgressFileAlone) {
    RangeServer server(SlowServer());
    EngineHarness h;
    std::string id = h.AddTask(server.Url("data.bin"), 3);
    std::string helper = std::string(VARDANE_BINARY_DIR) + "/bin/engine_crash_helper";
    std::string root = h.dir.Path();
    char* argv[] = {helper.data(), root.data(), id.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, helper.c_str(), nullptr, nullptr, argv, environ), 0);
    int64_t atKill = WaitForSavedPosition(h, id, kSize / 3);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_GT(atKill, 0);
    int64_t saved = TextToInt(h.Progress(id).FilePos);
    EXPECT_GE(saved, atKill);
    ASSERT_LT(saved, kSize);

    server.ResetBytesSent();
    CTaskSlot slot(h.ctx);
    ASSERT_EQ(h.Run(slot, id), stateCompleted) << h.owner.Log();
    EXPECT_EQ(ReadFile(h.DownloadDir + "data.bin"), SlowServer().body);
    RecordProperty("refetched",
                   std::to_string(server.BytesSent()) + " of " + std::to_string(kSize - saved));
    EXPECT_LE(server.BytesSent(), kSize - saved + kInFlightSlack);
}

}  // namespace
}  // namespace vardane::test

namespace vardane::test {
namespace {

// Numbers no file can have make the progress file corrupt: it is kept aside
// and the task starts from zero, ending with the exact file.
TEST(Resume, ImpossibleStoredNumbersRestartTheTaskFromZero) {
    EngineHarness h;
    RangeServerOptions o;
    o.body = RandomBytes(200 * 1024 + 3, 4);
    RangeServer server(o);
    for (std::string size : {"99999999999999999999", "12x", "-5"}) {
        std::string name = "f" + std::to_string(size.size()) + ".bin";
        std::string id = h.AddTask(server.Url(name), 2, name);
        ASSERT_TRUE(WriteFile(h.DownloadDir + name + ".vd~", "stale"));
        ASSERT_TRUE(UpdateProgress(h.ProgressPath(id), [&](TaskProgressRecord& r) {
            r.FileSize = size;
            r.FilePos = "10";
            r.LocalTempFileName = name + ".vd~";
            r.Block[0] = "11-20";
        }));
        CTaskSlot slot(h.ctx);
        ASSERT_EQ(h.Run(slot, id, std::chrono::seconds(30)), stateCompleted) << h.owner.Log();
        EXPECT_TRUE(ReadFile(h.DownloadDir + name) == o.body) << size;
        EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_ProgressCorrupt")));
    }
    int kept = 0;
    for (const auto& e : std::filesystem::directory_iterator(h.dir.Path() + "Tasks/")) {
        kept += e.path().filename().string().find(".pro~.corrupt-") != std::string::npos;
    }
    EXPECT_EQ(kept, 3);
}

}  // namespace
}  // namespace vardane::test
