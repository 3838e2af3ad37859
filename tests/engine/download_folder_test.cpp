// What may stand at a temporary name in a download folder that others can
// write: a link to a file elsewhere (dangling or not) or a second name of
// one, planted before a new task starts or in place of a stopped task's
// temporary file. None is opened: the file elsewhere stays as it was, the
// download completes under the next free name, and the log says why.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/text.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/range_server.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

TEST(DownloadFolder, LinksAtTheTemporaryNameAreNeverWrittenThrough) {
    struct Plant {
        const char* what;
        bool hard;      // a second name of the file elsewhere, else a symbolic link
        bool dangling;  // the link's file does not exist (yet)
        bool resumed;   // the progress file records the temporary file as the task's
    };
    const Plant plants[] = {
        {"symlink", false, false, false},          {"dangling symlink", false, true, false},
        {"hard link", true, false, false},         {"symlink, resumed", false, false, true},
        {"hard link, resumed", true, false, true},
    };
    RangeServerOptions o;
    o.body = RandomBytes(300 * 1024 + 5, 31);
    const int64_t size = static_cast<int64_t>(o.body.size());
    RangeServer server(o);
    for (const Plant& p : plants) {
        EngineHarness h;
        const std::string outside = h.dir.Path() + "outside.bin";
        const std::string temp = h.DownloadDir + "f.bin.vd~";
        if (!p.dangling) {
            ASSERT_TRUE(WriteFile(outside, "not yours"));
        }
        std::string id = h.AddTask(server.Url("f.bin"), 2, "f.bin");
        if (p.resumed) {
            ASSERT_TRUE(UpdateProgress(h.ProgressPath(id), [&](TaskProgressRecord& r) {
                r.LocalTempFileName = "f.bin.vd~";
                r.FileSize = IntToText(size);
                r.FilePos = "0";
                r.Block[0] = "1-1000";
                r.Block[1] = "1001-" + IntToText(size);
            }));
        }
        ASSERT_EQ(
            p.hard ? link(outside.c_str(), temp.c_str()) : symlink(outside.c_str(), temp.c_str()),
            0);
        TaskSlot slot(h.ctx);
        ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << p.what << "\n" << h.owner.Log();
        EXPECT_TRUE(ReadFile(h.DownloadDir + "f(1).bin") == o.body) << p.what;
        if (p.dangling) {
            EXPECT_FALSE(PathExists(outside)) << p.what;
        } else {
            EXPECT_EQ(ReadFile(outside), "not yours") << p.what;
        }
        struct stat st {};
        ASSERT_EQ(lstat(temp.c_str(), &st), 0) << p.what << ": the planted name is left alone";
        EXPECT_TRUE(p.hard ? st.st_nlink == 2 : S_ISLNK(st.st_mode)) << p.what;
        EXPECT_TRUE(h.owner.LogHas(
            h.ctx.lang.GetLangText(p.hard ? "Log_TempFileHasLinks" : "Log_TempFileIsLink")))
            << p.what << "\n"
            << h.owner.Log();
    }
}

}  // namespace
}  // namespace vardane::test
