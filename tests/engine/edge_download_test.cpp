// Edge cases of sizes and of the slot's life: tiny files, offsets past
// 4 GiB, a full disk, and slots started, stopped and destroyed many times.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "engine/worker.h"
#include "platform/file.h"
#include "platform/text.h"
#include "task/task_list.h"
#include "task/url.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/range_server.h"
#include "tests/support/require_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

RangeServerOptions Serving(std::string body) {
    RangeServerOptions o;
    o.body = std::move(body);
    return o;
}

TEST(EdgeDownload, TinyFilesOverFourConnections) {
    EngineHarness h;
    for (int size : {0, 1, 2, 3, 5, 9}) {
        std::string body = RandomBytes(static_cast<size_t>(size), static_cast<uint64_t>(size));
        RangeServer server(Serving(body));
        std::string name = "tiny" + std::to_string(size) + ".bin";
        std::string id = h.AddTask(server.Url(name), 4, name);
        TaskSlot slot(h.ctx);
        const int ends = h.owner.Ends();
        ASSERT_EQ(h.Run(slot, id, std::chrono::seconds(30)), TaskState::Completed) << size << "\n"
                                                                                   << h.owner.Log();
        // Worker 0 may finish before the workers it launched have run: the
        // task still ends once.
        EXPECT_EQ(h.owner.Ends(), ends + 1) << size;
        EXPECT_TRUE(FileExists(h.DownloadDir + name)) << size;
        EXPECT_EQ(ReadFile(h.DownloadDir + name), body) << size;
    }
    // The empty file's ranged first request got a 416 with a page: asked
    // again at once without a range, and nothing of the page was written.
    EXPECT_FALSE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_RetryWait1"))) << h.owner.Log();
}

TEST(EdgeDownload, FreshSplitMatchesTheDesignedExample) {
    EngineHarness h;
    std::string id = h.AddTask("http://127.0.0.1:1/file.zip", 4);
    TaskSlot slot(h.ctx);
    AdoptTaskRecord(slot.task, h.Progress(id), "");
    StageTaskProgress(slot.task, [](TaskProgressRecord& r) { r.FileSize = "1000003"; });
    ASSERT_TRUE(ParseUrl(slot.task, "http://127.0.0.1:1/file.zip"));
    slot.task.descriptor.ProgressPath = h.ProgressPath(id);
    slot.task.descriptor.ThreadCount = 4;
    ASSERT_TRUE(PrepareBlocks(slot.task));
    TaskProgressRecord r = h.Progress(id);
    EXPECT_EQ(r.Block[0], "1-250000");
    EXPECT_EQ(r.Block[1], "250001-500000");
    EXPECT_EQ(r.Block[2], "500001-750000");
    EXPECT_EQ(r.Block[3], "750001-1000003");
    // Stored blocks come back as they were, the position derived from them.
    StageTaskProgress(slot.task, [](TaskProgressRecord& p) {
        p.Block = {"100001-250000", "350001-500000", "500001-750000", "750001-1000003"};
        p.FilePos = "200000";
    });
    ASSERT_TRUE(PrepareBlocks(slot.task));
    EXPECT_EQ(slot.task.descriptor.Downloaded, 200000);
    EXPECT_EQ((*slot.task.descriptor.Blocks)[1].From, 350001);
}

// A sparse file a little over 4 GiB whose last bytes are random: the task
// resumes with only the tail outstanding, so every range and offset it uses
// lies past 4 GiB.
TEST(EdgeDownload, OffsetsPastFourGiB) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx;
    const int64_t size = (int64_t{4} << 30) + 300000;
    const int64_t tail = 500000;  // starts below 4 GiB, ends above
    std::string data = RandomBytes(static_cast<size_t>(tail), 41);
    std::string source = nginx.Root() + "big.bin";
    int fd = open(source.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, data.data(), data.size(), size - tail), tail);
    close(fd);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();

    EngineHarness h;
    std::string id = h.AddTask(nginx.Url("big.bin"), 2);
    std::string temp = h.DownloadDir + "big.bin.vd~";
    fd = open(temp.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
    int64_t done = size - tail;
    UpdateProgress(h.ProgressPath(id), [&](TaskProgressRecord& r) {
        r.LocalTempFileName = "big.bin.vd~";
        r.FileSize = IntToText(size);
        r.FilePos = IntToText(done);
        r.Block = {IntToText(done) + "-" + IntToText(done),
                   IntToText(done + 1) + "-" + IntToText(size), "0-0", "0-0"};
    });
    TaskSlot slot(h.ctx);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(h.owner.LogHas("Range: bytes=" + IntToText(done) + "-"));
    std::string result = h.DownloadDir + "big.bin";
    EXPECT_EQ(FileSize(result), size);
    std::string back(static_cast<size_t>(tail), '\0');
    fd = open(result.c_str(), O_RDONLY);
    ASSERT_EQ(pread(fd, back.data(), back.size(), size - tail), tail);
    close(fd);
    EXPECT_TRUE(back == data);
    EXPECT_EQ(h.Progress(id).FilePos, IntToText(size));
}

// A folder on a 1 MiB tmpfs (needs root; skipped where mounting fails).
class SmallDisk {
  public:
    explicit SmallDisk(const std::string& path) : path_(path) {
        MakeDirectories(path);
        mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    ~SmallDisk() {
        if (mounted_) {
            umount2(path_.c_str(), MNT_DETACH);
        }
    }
    bool Mounted() const { return mounted_; }
    bool Grow() { return mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT, "size=16m") == 0; }

  private:
    std::string path_;
    bool mounted_ = false;
};

TEST(EdgeDownload, FullDiskFailsClearlyLosesNothingAndResumes) {
    EngineHarness h;
    SmallDisk disk(h.dir.Path() + "small/");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    }
    std::string body = RandomBytes(3 * 1024 * 1024, 5);
    RangeServer server(Serving(body));
    for (bool reserved : {true, false}) {
        std::string name = reserved ? "a.bin" : "b.bin";
        std::string id = h.AddTask(server.Url(name), 2, name);
        UpdateProgress(h.ProgressPath(id),
                       [&](TaskProgressRecord& r) { r.LocalDir = h.dir.Path() + "small/"; });
        if (!reserved) {
            // An existing temporary file is reused unreserved: the disk fills
            // while the data is written.
            WriteFile(h.dir.Path() + "small/" + name + ".vd~", "");
        }
        TaskSlot slot(h.ctx);
        ASSERT_EQ(h.Run(slot, id), TaskState::Failed) << h.owner.Log();
        if (reserved) {
            // Refused before anything is reserved, with the sizes.
            EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_DiskFull") + " " +
                                       IntToText(3 * 1024 * 1024) + " > "))
                << h.owner.Log();
            EXPECT_FALSE(FileExists(h.dir.Path() + "small/" + name + ".vd~"));
        } else {
            EXPECT_TRUE(h.owner.LogHas(std::strerror(ENOSPC))) << h.owner.Log();
            EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_WriteLocalFileFailed")));
        }
    }
    ASSERT_TRUE(disk.Grow());
    for (const char* name : {"a.bin", "b.bin"}) {
        // Started again after space was freed: completes with the exact bytes.
        std::vector<std::string> ids = ReadListIds(h.dir.Path() + "Tasks/Downloading.lst");
        std::string id = ids[name[0] == 'a' ? 0 : 1];
        TaskSlot slot(h.ctx);
        ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
        EXPECT_TRUE(ReadFile(h.dir.Path() + "small/" + name) == body) << name;
    }
}

// What stands at the names when the data is whole: a file or a link to a
// file elsewhere took the target name meanwhile (neither is replaced nor
// written through: the download takes the next free name), or a link took
// the place of the temporary file itself (it never gets the target name, and
// the task does not complete).
TEST(EdgeDownload, NamesTakenMeanwhileAreNeitherReplacedNorWrittenThrough) {
    enum Plant { FileAtTarget, LinkAtTarget, LinkAtTemp };
    const std::string body = RandomBytes(64 * 1024, 9);
    for (Plant plant : {FileAtTarget, LinkAtTarget, LinkAtTemp}) {
        EngineHarness h;
        std::atomic<bool> go{false};
        ScriptedServer server([&](ScriptedConnection& c) {
            if (!c.ReadUntil("\r\n\r\n")) {
                return;
            }
            c.Write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\n\r\n" + body.substr(0, 1000));
            for (int i = 0; i < 1000 && !go; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            c.Write(body.substr(1000));
            c.Close();
        });
        std::string id =
            h.AddTask("http://127.0.0.1:" + std::to_string(server.Port()) + "/data.bin", 1);
        TaskSlot slot(h.ctx);
        slot.task.owner = &h.owner;
        h.StartTicks(slot);
        ASSERT_TRUE(StartTask(slot, id));
        for (int i = 0; i < 1000 && slot.task.GetDownloaded() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const std::string outside = h.dir.Path() + "outside.txt";
        const std::string target = h.DownloadDir + "data.bin";
        const std::string temp = target + ".vd~";
        ASSERT_TRUE(WriteFile(outside, "someone else's"));
        if (plant == FileAtTarget) {
            ASSERT_TRUE(WriteFile(target, "someone else's"));
        } else if (plant == LinkAtTarget) {
            ASSERT_EQ(symlink(outside.c_str(), target.c_str()), 0);
        } else {
            ASSERT_EQ(unlink(temp.c_str()), 0);
            ASSERT_EQ(symlink(outside.c_str(), temp.c_str()), 0);
        }
        go = true;
        ASSERT_TRUE(h.owner.WaitForEnd(std::chrono::seconds(60)));
        h.StopTicks();
        slot.JoinWorkers();
        EXPECT_EQ(ReadFile(outside), "someone else's") << plant;
        if (plant == LinkAtTemp) {
            EXPECT_EQ(h.owner.Last().State, TaskState::Failed) << h.owner.Log();
            EXPECT_EQ(h.Progress(id).State, "5");
            EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_RenameFailed")));
            EXPECT_FALSE(PathExists(target));
            continue;
        }
        EXPECT_EQ(h.owner.Last().State, TaskState::Completed) << h.owner.Log();
        EXPECT_TRUE(ReadFile(h.DownloadDir + "data(1).bin") == body) << plant;
        EXPECT_EQ(ReadFile(target), "someone else's") << plant;
        EXPECT_EQ(h.Progress(id).LocalFileName, "data(1).bin");
        EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TargetNameTaken")));
        EXPECT_FALSE(PathExists(temp));
    }
}

// A save of the progress file can take a second beside another disk writer.
// The workers' periodic saves skip while one is under way: here the lock is
// held from the first byte on, and the bytes must still all arrive.
TEST(TaskSlotLife, WorkersNeverWaitBehindAProgressSave) {
    const std::string body = RandomBytes(1024 * 1024, 4);
    RangeServerOptions o = Serving(body);
    o.pieceDelayMs = 30;  // a second or more, so that saves fall due
    RangeServer server(o);
    EngineHarness h;
    std::string id = h.AddTask(server.Url("data.bin"), 2, "data.bin");
    TaskSlot slot(h.ctx);
    slot.task.owner = &h.owner;
    h.StartTicks(slot);
    ASSERT_TRUE(StartTask(slot, id));
    auto downloaded = [&slot] { return slot.task.Snapshot().Downloaded; };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (downloaded() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    {
        std::lock_guard held(slot.task.ProgressLock);
        while (downloaded() < static_cast<int64_t>(body.size()) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(downloaded(), static_cast<int64_t>(body.size())) << h.owner.Log();
    }
    ASSERT_TRUE(h.owner.WaitForEnd(std::chrono::seconds(30)));
    h.StopTicks();
    slot.JoinWorkers();
    EXPECT_EQ(h.owner.Last().State, TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(ReadFile(h.DownloadDir + "data.bin") == body);
}

TEST(TaskSlotLife, StartStopAndDestroyManyTimes) {
    RangeServerOptions o = Serving(RandomBytes(2 * 1024 * 1024, 3));
    o.pieceDelayMs = 2;
    RangeServer server(o);
    EngineHarness h;
    for (int i = 0; i < 12; ++i) {
        std::string name = "f" + std::to_string(i) + ".bin";
        std::string id = h.AddTask(server.Url(name), 1 + i % 4, name);
        auto slot = std::make_unique<TaskSlot>(h.ctx);
        slot->task.owner = &h.owner;
        ASSERT_TRUE(StartTask(*slot, id));
        std::this_thread::sleep_for(std::chrono::milliseconds(i * 17 % 60));
        if (i % 2 == 0) {
            slot->Stop(false);
        }
        slot.reset();  // stops (when still running) and joins every worker
    }
    std::lock_guard lock(h.ctx.SpeedLock);
    EXPECT_EQ(h.ctx.RunningThreads, 0);
}

}  // namespace
}  // namespace vardane::test
