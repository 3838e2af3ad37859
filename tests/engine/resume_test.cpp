// Resume: a task stopped part-way and a process killed part-way both end
// with the exact file and fetch again only what was not saved.
#include <signal.h>
#include <spawn.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <thread>

#include "engine/worker.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/range_server.h"
#include "tests/support/require_server.h"
#include "tests/support/servers.h"
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
    TaskSlot slot(h.ctx);
    ASSERT_TRUE(h.Start(slot, id));
    ASSERT_GT(WaitForSavedPosition(h, id, kSize / 4), 0) << h.owner.Log();
    ASSERT_TRUE(h.StopAndJoin(slot));
    EXPECT_EQ(h.owner.Last().State, TaskState::Stopped);
    int64_t saved = TextToInt(h.Progress(id).FilePos);
    ASSERT_LT(saved, kSize);
    EXPECT_TRUE(FileExists(h.DownloadDir + "data.bin.vd~"));

    server.ResetBytesSent();
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
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
    TaskSlot slot(h.ctx);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
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
        TaskSlot slot(h.ctx);
        ASSERT_EQ(h.Run(slot, id, std::chrono::seconds(30)), TaskState::Completed) << h.owner.Log();
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

namespace vardane::test {
namespace {

// The server's file changes between a stop and the resume: same size, new
// content, new validators. The resumed requests name the stored version
// (If-Range; FTP compares the MDTM time), the server's answer shows the new
// one, and the task starts again from the first byte: it ends with the new
// file, never with a mix of both. Unchanged, the resume fetches only the rest.
const int64_t kChangeSize = 2 * 1024 * 1024 + 4321;

// Puts bytes at path with the given modification time, replacing any file
// there at once.
void PutFile(const std::string& path, const std::string& bytes, time_t mtime) {
    ASSERT_TRUE(WriteFile(path + ".new", bytes));
    timeval times[2] = {{mtime, 0}, {mtime, 0}};
    ASSERT_EQ(utimes((path + ".new").c_str(), times), 0);
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
}

// Starts id, lets it save some progress, stops it; returns the saved position.
int64_t StopPartWay(EngineHarness& h, TaskSlot& slot, const std::string& id) {
    EXPECT_TRUE(h.Start(slot, id));
    int64_t pos = WaitForSavedPosition(h, id, 256 * 1024);
    EXPECT_TRUE(h.StopAndJoin(slot));
    EXPECT_EQ(h.owner.Last().State, TaskState::Stopped);
    return pos > 0 ? TextToInt(h.Progress(id).FilePos) : -1;
}

enum class Origin { Nginx, ETagOnly, DateOnly, PyFtpd };
struct ChangeCase {
    Origin origin;
    int threads;
    bool changes = true;
};

class ChangedFile : public ::testing::TestWithParam<ChangeCase> {
  protected:
    const std::string before = RandomBytes(kChangeSize, 41);
    const time_t then = std::time(nullptr) - 3600;
    EngineHarness h;
};

TEST_P(ChangedFile, ResumeEndsWithTheServersCurrentFile) {
    const ChangeCase c = GetParam();
    const std::string after = c.changes ? RandomBytes(kChangeSize, 42) : before;
    const std::string changedText = h.ctx.lang.GetLangText("Log_FileChanged");
    std::unique_ptr<NginxServer> nginx;
    std::unique_ptr<PyFtpServer> ftp;
    std::unique_ptr<RangeServer> scripted;
    std::string url;
    if (c.origin == Origin::Nginx) {
        VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
        NginxOptions options;
        options.limitRate = 1'000'000;
        nginx = std::make_unique<NginxServer>(options);
        PutFile(nginx->Root() + "data.bin", before, then);
        ASSERT_TRUE(nginx->Start()) << nginx->Diagnostics();
        url = nginx->Url("slow/data.bin");
    } else if (c.origin == Origin::PyFtpd) {
        VARDANE_REQUIRE_SERVER(PyFtpServer::kBinary);
        ftp = std::make_unique<PyFtpServer>();
        PutFile(ftp->Root() + "data.bin", before, then);
        ASSERT_TRUE(ftp->Start()) << ftp->Diagnostics();
        url = ftp->Url("data.bin");
        h.SetSpeedLimit(true, 64);
    } else {
        RangeServerOptions o;
        o.body = before;
        o.pieceDelayMs = 10;
        (c.origin == Origin::ETagOnly ? o.etag : o.lastModified) =
            c.origin == Origin::ETagOnly ? "\"v1\"" : "Mon, 07 Dec 2026 10:00:00 GMT";
        scripted = std::make_unique<RangeServer>(o);
        url = scripted->Url("data.bin");
    }
    std::string id = h.AddTask(url, c.threads);
    TaskSlot slot(h.ctx);
    const int64_t saved = StopPartWay(h, slot, id);
    ASSERT_GT(saved, 0) << h.owner.Log();
    ASSERT_LT(saved, kChangeSize);
    const FileValidators stored = h.Progress(id).Validators;
    const std::string ifRange = IfRangeValue(stored);
    ASSERT_FALSE(ftp ? stored.ModTime.empty() : ifRange.empty()) << h.owner.Log();

    if (c.changes && scripted) {
        scripted->Replace(after, stored.ETag.empty() ? "" : "\"v2\"",
                          stored.LastModified.empty() ? "" : "Mon, 07 Dec 2026 11:00:00 GMT");
    } else if (scripted) {
        scripted->Replace(before, stored.ETag, stored.LastModified);
    } else if (c.changes) {
        PutFile((nginx ? nginx->Root() : ftp->Root()) + "data.bin", after, then + 60);
    }
    h.SetSpeedLimit(false, 0);
    if (scripted) {
        scripted->ResetBytesSent();
    }
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(ReadFile(h.DownloadDir + "data.bin") == after);
    EXPECT_EQ(h.owner.LogHas(changedText), c.changes) << h.owner.Log();
    if (ftp) {
        EXPECT_TRUE(h.owner.LogHas(" 0 MDTM /data.bin"));
        return;
    }
    // The stored version went out with the resumed requests.
    const std::string line = "If-Range: " + ifRange;
    EXPECT_TRUE(h.owner.LogHas(" 0 " + line)) << h.owner.Log();
    if (scripted) {
        bool onWire = false;
        for (const std::string& request : scripted->Requests()) {
            onWire = onWire || request.find("\r\n" + line + "\r\n") != std::string::npos;
        }
        EXPECT_TRUE(onWire);
    }
    if (scripted && !c.changes) {
        EXPECT_LE(scripted->BytesSent(), kChangeSize - saved + kInFlightSlack);
    }
}

// The file changes while four connections fetch it and the server drops
// them: each worker asks again for the version it holds, the first answer of
// another version stops them all, and the task starts again once. Nothing of
// the new version lands among the old one's bytes.
TEST(ChangedFileWhileRunning, EveryWorkerStopsAndTheTaskStartsAgainOnce) {
    RangeServerOptions o;
    o.body = RandomBytes(kChangeSize, 43);
    o.pieceDelayMs = 40;
    o.etag = "\"v1\"";
    RangeServer server(o);
    EngineHarness h;
    std::string id = h.AddTask(server.Url("data.bin"), 4);
    TaskSlot slot(h.ctx);
    ASSERT_TRUE(h.Start(slot, id));
    ASSERT_GT(WaitForSavedPosition(h, id, 128 * 1024), 0) << h.owner.Log();
    const std::string after = RandomBytes(kChangeSize, 44);
    server.Replace(after, "\"v2\"", "");
    const bool ended = h.owner.WaitForEnd(std::chrono::seconds(60));
    h.StopTicks();
    slot.JoinWorkers();
    ASSERT_TRUE(ended) << h.owner.Log();
    EXPECT_EQ(h.owner.Last().State, TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(ReadFile(h.DownloadDir + "data.bin") == after);
    const std::string log = h.owner.Log();
    const std::string changed = h.ctx.lang.GetLangText("Log_FileChanged");
    const size_t first = log.find(changed);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(changed, first + 1), std::string::npos) << log;
}

std::string CaseName(const ::testing::TestParamInfo<ChangeCase>& info) {
    const char* names[] = {"Nginx", "ETagOnly", "DateOnly", "PyFtpd"};
    return std::string(names[static_cast<int>(info.param.origin)]) +
           std::to_string(info.param.threads) + (info.param.changes ? "" : "Unchanged");
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ChangedFile,
    ::testing::Values(ChangeCase{Origin::Nginx, 1}, ChangeCase{Origin::Nginx, 4},
                      ChangeCase{Origin::ETagOnly, 1}, ChangeCase{Origin::ETagOnly, 4},
                      ChangeCase{Origin::DateOnly, 1}, ChangeCase{Origin::DateOnly, 4},
                      ChangeCase{Origin::ETagOnly, 4, false}, ChangeCase{Origin::PyFtpd, 1},
                      ChangeCase{Origin::PyFtpd, 4}, ChangeCase{Origin::PyFtpd, 4, false}),
    CaseName);

}  // namespace
}  // namespace vardane::test
