// The HTTP worker against servers that misbehave: redirects, errors with
// retries, no length, chunks, hostile names, cut and stalled connections,
// ranges ignored or answered wrongly, huge headers, cookies.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/worker.h"
#include "platform/file.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/range_server.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

const std::string kBody = RandomBytes(700 * 1024 + 333, 11);

// Serves kBody unless change says otherwise.
RangeServerOptions With(const std::function<void(RangeServerOptions&)>& change = nullptr) {
    RangeServerOptions options;
    options.body = kBody;
    if (change) {
        change(options);
    }
    return options;
}

std::string Reply(const std::string& status, const std::string& headers = "") {
    return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: 0\r\n\r\n";
}

class ScriptedHttp : public ::testing::Test {
  protected:
    // Runs a task for url with threads connections; returns the final state.
    std::optional<TaskState> Download(const std::string& url, int threads,
                                      const std::string& name = "data.bin") {
        id = h.AddTask(url, threads, name);
        return h.Run(slot, id, std::chrono::seconds(60));
    }
    std::string Downloaded(const std::string& name = "data.bin") {
        return ReadFile(h.DownloadDir + name);
    }
    EngineHarness h;
    TaskSlot slot{h.ctx};
    std::string id;
};

TEST_F(ScriptedHttp, RedirectToAnotherHostAndRelativeRedirectsAreFollowed) {
    RangeServer target(With());
    RangeServer first(With([&](RangeServerOptions& o) {
        o.reply = [&](int index) {
            if (index == 0) {
                return Reply("302 Found", "Location: /moved/data.bin\r\n");
            }
            if (index == 1) {
                return Reply("301 Moved", "Location: " + target.Url("far/data.bin") + "\r\n");
            }
            return std::string();
        };
    }));
    ASSERT_EQ(Download(first.Url("data.bin"), 2), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Downloaded(), kBody);
    ASSERT_GE(first.Requests().size(), 2u);
    EXPECT_EQ(first.Requests()[1].find("GET /moved/data.bin HTTP/1.1\r\n"), 0u);
    ASSERT_FALSE(target.Requests().empty());
    EXPECT_EQ(target.Requests()[0].find("GET /far/data.bin HTTP/1.1\r\nHost: 127.0.0.1:" +
                                        std::to_string(target.Port()) + "\r\n"),
              0u);
}

TEST_F(ScriptedHttp, RedirectLoopEndsTheTaskWithAClearLine) {
    RangeServer loop(With([&](RangeServerOptions& o) {
        o.reply = [](int) { return Reply("302 Found", "Location: /again.bin\r\n"); };
    }));
    EXPECT_EQ(Download(loop.Url("data.bin"), 1), TaskState::Failed);
    EXPECT_EQ(loop.Connections(), 21);
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TooManyRedirects") + " /again.bin"))
        << h.owner.Log();
}

// Statuses no retry will change fail the task at once, on its first
// connection, even without a retry limit (these were retried for ever once).
// A refusal is not reported as a missing file.
TEST_F(ScriptedHttp, NotFoundAndRefusalsFailTheTaskEachWithItsOwnLine) {
    const std::string notFound = h.ctx.lang.GetLangText("Log_FileNotFound");
    const std::string refused = h.ctx.lang.GetLangText("Log_RequestRefused");
    ASSERT_FALSE(refused.empty());
    for (std::string status : {"401 Unauthorized", "403 Forbidden", "405 Method Not Allowed",
                               "410 Gone", "451 Unavailable For Legal Reasons", "404 Not Found"}) {
        RangeServer server(
            With([&](RangeServerOptions& o) { o.reply = [&](int) { return Reply(status); }; }));
        EXPECT_EQ(Download(server.Url("data.bin"), 2), TaskState::Failed) << status;
        EXPECT_EQ(h.Progress(id).State, "5");
        EXPECT_EQ(server.Connections(), 1);
        EXPECT_TRUE(h.owner.LogHas("0 1 HTTP/1.1 " + status)) << h.owner.Log();
        const bool is404 = status.starts_with("404");
        EXPECT_EQ(is404, h.owner.LogHas(notFound)) << status;
        EXPECT_EQ(!is404, h.owner.LogHas(refused + " " + status.substr(0, 3))) << status;
    }
}

TEST_F(ScriptedHttp, ServerErrorsAreRetriedAfterTheWait) {
    RangeServer server(With([&](RangeServerOptions& o) {
        o.reply = [](int index) {
            return index == 0   ? Reply("500 Internal Server Error")
                   : index == 1 ? Reply("416 Range Not Satisfiable")
                                : std::string();
        };
    }));
    ASSERT_EQ(Download(server.Url("data.bin"), 1), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Downloaded(), kBody);
    EXPECT_TRUE(h.owner.LogHas("1 HTTP/1.1 500 Internal Server Error"));
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_RetryWait1") + " 1 "));
}

// Servers that send the whole file whatever was asked: without a length
// (one stream to the close), without ranges, in chunks (decoded, not written
// raw). The file is exact; a server that ignores ranges gets one stream.
TEST_F(ScriptedHttp, ServersWithoutLengthRangesOrWithChunksGiveTheExactFile) {
    struct Case {
        const char* name;
        bool contentLength, ignoreRange, chunked;
    } cases[] = {{"nolength.bin", false, true, false},
                 {"noranges.bin", true, true, false},
                 {"chunked.bin", true, false, true}};
    const std::string oneStream = h.ctx.lang.GetLangText("Log_NotResumeSupport");
    for (const Case& c : cases) {
        RangeServer server(With([&](RangeServerOptions& o) {
            o.contentLength = c.contentLength;
            o.ignoreRange = c.ignoreRange;
            o.chunked = c.chunked;
        }));
        const size_t logBefore = h.owner.Log().size();
        ASSERT_EQ(Download(server.Url(c.name), c.chunked ? 2 : 4, c.name), TaskState::Completed)
            << c.name << h.owner.Log();
        EXPECT_EQ(Downloaded(c.name), kBody) << c.name;
        if (c.ignoreRange) {
            EXPECT_NE(h.owner.Log().find(oneStream, logBefore), std::string::npos) << c.name;
        }
        if (!c.contentLength) {
            EXPECT_EQ(h.Progress(id).ThreadCount, "1");
            EXPECT_EQ(server.Connections(), 1);
        }
    }
}

// The first request asks for a range; a 206 that does not tell the file's
// size, or comes in chunks, cannot be split: the file is asked for again
// whole, never completed with the first piece alone.
TEST_F(ScriptedHttp, FirstRangeWithoutATotalOrInChunksIsAskedForWhole) {
    const std::string body = RandomBytes(3 * 1024 * 1024, 13);
    const std::string first = body.substr(0, 1024 * 1024);
    char chunk[32];
    std::snprintf(chunk, sizeof chunk, "%zx\r\n", first.size());
    const std::vector<std::string> firsts = {
        "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-1048575/*\r\n"
        "Content-Length: 1048576\r\n\r\n" +
            first,
        "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-1048575/" +
            std::to_string(body.size()) + "\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk + first +
            "\r\n0\r\n\r\n",
    };
    for (size_t i = 0; i < firsts.size(); ++i) {
        RangeServer server(With([&](RangeServerOptions& o) {
            o.body = body;
            o.reply = [&](int index) { return index == 0 ? firsts[i] : std::string(); };
        }));
        const std::string name = "f" + std::to_string(i) + ".bin";
        ASSERT_EQ(Download(server.Url(name), 4, name), TaskState::Completed) << h.owner.Log();
        EXPECT_TRUE(Downloaded(name) == body) << i;
    }
}

TEST_F(ScriptedHttp, ContentDispositionNamesTheFileButNeverOutsideTheFolder) {
    RangeServer server(With([&](RangeServerOptions& o) {
        o.extraHeaders = "Content-Disposition: attachment; filename=report.pdf\r\n";
    }));
    ASSERT_EQ(Download(server.Url("get.php?id=1"), 1, "get.php"), TaskState::Completed);
    EXPECT_EQ(Downloaded("report.pdf"), kBody);
    EXPECT_FALSE(FileExists(h.DownloadDir + "get.php"));

    RangeServer hostile(With([&](RangeServerOptions& o) {
        o.extraHeaders = "Content-Disposition: attachment; filename=\"../../evil.sh\"\r\n";
    }));
    ASSERT_EQ(Download(hostile.Url("get.php?id=2"), 1, "get.php"), TaskState::Completed);
    EXPECT_EQ(Downloaded("evil.sh"), kBody);
    EXPECT_FALSE(FileExists(h.dir.Path() + "evil.sh"));
    EXPECT_FALSE(FileExists(h.DownloadDir + "../evil.sh"));
}

TEST_F(ScriptedHttp, ConnectionCutMidBodyResumesTheBlock) {
    for (bool reset : {false, true}) {
        RangeServer server(With([&](RangeServerOptions& o) {
            o.cutConnection = 0;
            o.cutAfter = 100 * 1024 + 7;
            o.cutWithReset = reset;
        }));
        ASSERT_EQ(Download(server.Url("data.bin"), 1, reset ? "r.bin" : "data.bin"),
                  TaskState::Completed)
            << h.owner.Log();
        EXPECT_EQ(Downloaded(reset ? "r.bin" : "data.bin"), kBody);
        ASSERT_GE(server.Requests().size(), 2u);
        if (!reset) {
            EXPECT_NE(server.Requests()[1].find("Range: bytes=" + std::to_string(100 * 1024 + 7) +
                                                "-" + std::to_string(kBody.size() - 1) + "\r\n"),
                      std::string::npos);
        }
    }
}

TEST_F(ScriptedHttp, StalledConnectionTimesOutAndResumes) {
    h.Configure([](AppSettings& s) { s.ConnectionTimeOut = 1; });
    RangeServer server(With([&](RangeServerOptions& o) {
        o.stallConnection = 0;
        o.stallAfter = 64 * 1024;
    }));
    ASSERT_EQ(Download(server.Url("data.bin"), 1), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Downloaded(), kBody);
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TimeOut")));
}

TEST_F(ScriptedHttp, RangeReplyStartingElsewhereIsAFailedTryNeverWritten) {
    h.Configure([](AppSettings& s) { s.RetryWaitSec = 0; });
    // Larger than three first requests, so that every connection asks.
    const std::string body = RandomBytes(4 * 1024 * 1024, 12);
    // Once: the next try gets the right bytes, and the file must be exact.
    RangeServer once(With([&](RangeServerOptions& o) {
        o.body = body;
        o.wrongRangeShift = 10;
        o.wrongRangeTimes = 1;
    }));
    ASSERT_EQ(Download(once.Url("data.bin"), 3), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Downloaded(), body);
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_BadReply")));

    // Always: the try fails each time and the task ends short, not complete.
    h.Configure([](AppSettings& s) {
        s.RetryLimit = true;
        s.RetryCounts = 2;
    });
    RangeServer always(With([&](RangeServerOptions& o) {
        o.body = body;
        o.wrongRangeShift = 10;
    }));
    EXPECT_NE(Download(always.Url("data.bin"), 3, "always.bin"), TaskState::Completed);
    EXPECT_FALSE(FileExists(h.DownloadDir + "always.bin"));
}

// The limiter refills its budget once a tick: a file of n budgets cannot
// arrive in fewer than about n ticks, whatever the wall clock says.
TEST_F(ScriptedHttp, SpeedLimitHoldsOverHttp) {
    const int64_t kb = 32;
    h.SetSpeedLimit(true, kb);
    RangeServer server(With());
    h.owner.speedTicks = 0;
    ASSERT_EQ(Download(server.Url("data.bin"), 2), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Downloaded(), kBody);
    int64_t budgets = static_cast<int64_t>(kBody.size()) / (kb * 1024);
    EXPECT_GE(h.owner.speedTicks.load(), budgets - 2);
}

TEST_F(ScriptedHttp, LongHeadersAreReadAndAbsurdOnesRetried) {
    std::string pad;
    for (int i = 0; i < 200; ++i) {
        pad += "X-Pad-" + std::to_string(i) + ": " + std::string(40, 'p') + "\r\n";
    }
    std::string huge = "HTTP/1.1 200 OK\r\n";
    while (huge.size() < 70 * 1024) {
        huge += "X-Huge: " + std::string(1000, 'h') + "\r\n";
    }
    RangeServer server(With([&](RangeServerOptions& o) {
        o.extraHeaders = pad;
        o.reply = [&](int index) { return index == 0 ? huge : std::string(); };
    }));
    ASSERT_EQ(Download(server.Url("data.bin"), 2), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Downloaded(), kBody);
    EXPECT_TRUE(h.owner.LogHas("X-Pad-199"));
}

TEST_F(ScriptedHttp, CookiesFromTheCookieFileAreSentButNeverLogged) {
    WriteFile(h.dir.Path() + "cookies.txt",
              "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\ts3cret\n"
              "other.host\tFALSE\t/\tFALSE\t0\tnot\tme\n");
    h.Configure([](AppSettings& s) { s.CookieFile = "cookies.txt"; });
    RangeServer server(With());
    ASSERT_EQ(Download(server.Url("data.bin"), 1), TaskState::Completed);
    ASSERT_FALSE(server.Requests().empty());
    EXPECT_NE(server.Requests()[0].find("\r\nCookie: sid=s3cret\r\n"), std::string::npos);
    EXPECT_TRUE(h.owner.LogHas("Cookie: ******"));
    EXPECT_FALSE(h.owner.LogHas("s3cret"));
}

}  // namespace
}  // namespace vardane::test
