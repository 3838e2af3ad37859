// Resume: a task stopped part-way and a process killed part-way both end
// with the exact file and fetch again only what was not saved.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

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
    slot.task.hMainWnd = &h.owner;
    h.StartTicks(slot);
    ASSERT_TRUE(StartTask(slot, id));
    ASSERT_GT(WaitForSavedPosition(h, id, kSize / 4), 0) << h.owner.Log();
    slot.Stop(false);
    ASSERT_TRUE(h.owner.WaitForEnd(std::chrono::seconds(30)));
    h.StopTicks();
    slot.JoinWorkers();
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
