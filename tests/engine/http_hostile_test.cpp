// The HTTP worker against replies that must not count: a body of unknown
// length cut short or stopped, replies that do not parse or do not answer the
// request, a server that cuts every reply, a size no disk holds, redirect
// targets that would smuggle protocol lines.
#include <gtest/gtest.h>

#include <thread>

#include "engine/worker.h"
#include "platform/file.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/range_server.h"
#include "tests/support/require_server.h"
#include "tests/support/sha256.h"
#include "tests/support/tls_certs.h"

namespace vardane::test {
namespace {

const std::string kBody = RandomBytes(300 * 1024 + 77, 5);

class HostileHttp : public ::testing::Test {
  protected:
    void SetUp() override {
        h.Configure([](AppSettings& s) {
            s.RetryWaitSec = 0;
            s.RetryLimit = true;
            s.RetryCounts = 3;
        });
    }
    std::optional<TaskState> Download(const std::string& url, int threads,
                                      const std::string& name = "data.bin") {
        id = h.AddTask(url, threads, name);
        return h.Run(slot, id, std::chrono::seconds(60));
    }
    RangeServerOptions Options(const std::function<void(RangeServerOptions&)>& change) {
        RangeServerOptions o;
        o.body = kBody;
        change(o);
        return o;
    }
    EngineHarness h;
    TaskSlot slot{h.ctx};
    std::string id;
};

// A stream whose end the protocol never announced is not a completed file:
// its bytes stay in the temporary file and the target name stays free.
TEST_F(HostileHttp, UnknownLengthBodyCutShortIsNeverCompleted) {
    struct Case {
        const char* name;
        bool chunked;
        bool reset;
    };
    for (Case c : {Case{"chunked.bin", true, false}, Case{"reset.bin", false, true}}) {
        RangeServer server(Options([&](RangeServerOptions& o) {
            o.contentLength = false;
            o.chunked = c.chunked;
            o.cutAfter = 100 * 1024;
            o.cutWithReset = c.reset;
            o.cutConnection = 0;
            o.reply = [](int index) {
                return index == 0 ? std::string() : std::string("HTTP/1.1 503 Busy\r\n\r\n");
            };
        }));
        EXPECT_NE(Download(server.Url(c.name), 1, c.name), TaskState::Completed) << h.owner.Log();
        EXPECT_FALSE(FileExists(h.DownloadDir + c.name)) << c.name;
        EXPECT_NE(h.Progress(id).State, "1");
    }
}

// A server that ignores ranges and cuts every reply at the same byte can
// never give the file: the tries end at the retry limit and, without one,
// after a bounded run of restarts that got no further. Plain, chunked, TLS.
TEST_F(HostileHttp, ServerThatCutsEveryReplyAtTheSamePointIsGivenUp) {
    VARDANE_REQUIRE_SERVER(TestPki::kBinary);
    ASSERT_TRUE(SharedTestPki().Made()) << SharedTestPki().Diagnostics();
    struct Case {
        const char* name;
        bool chunked, tls, limited;
        int threads;
    };
    for (Case c :
         {Case{"plain.bin", false, false, true, 1}, Case{"chunked.bin", true, false, true, 1},
          Case{"tls.bin", false, true, true, 1}, Case{"tls4.bin", false, true, true, 4},
          Case{"unlimited.bin", false, false, false, 1}}) {
        h.Configure([&](AppSettings& s) {
            s.RetryLimit = c.limited;
            s.CAFile = SharedTestPki().CaFile();
        });
        RangeServer server(Options([&](RangeServerOptions& o) {
            o.body = kBody.substr(0, 200 * 1000);
            o.ignoreRange = true;
            o.chunked = c.chunked;
            o.cutConnection = RangeServerOptions::kEveryConnection;
            o.cutAfter = 100 * 1000;
            if (c.tls) {
                o.tlsCert = SharedTestPki().Good().cert;
                o.tlsKey = SharedTestPki().Good().key;
            }
        }));
        EXPECT_EQ(Download(server.Url(c.name), c.threads, c.name), TaskState::Failed)
            << c.name << h.owner.Log();
        EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TooManyRetry"))) << c.name;
        // The probe, a fall-back to one stream, the other threads' first tries.
        const int beyondLimit = 2 + c.threads;
        EXPECT_LE(server.Connections(), (c.limited ? 3 : kMaxRepeatedStreams) + beyondLimit)
            << c.name;
        EXPECT_FALSE(FileExists(h.DownloadDir + c.name)) << c.name;
    }
}

// Chunks and a length in one reply leave the body's end in doubt: nothing of
// it is written, whichever end the chunks would give.
TEST_F(HostileHttp, ChunkedReplyThatAlsoGivesALengthIsRefused) {
    RangeServer server(Options([](RangeServerOptions& o) {
        o.chunked = true;
        o.extraHeaders = "Content-Length: 100000\r\n";
    }));
    EXPECT_EQ(Download(server.Url("data.bin"), 1), TaskState::Failed) << h.owner.Log();
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_BadReply")));
    EXPECT_FALSE(FileExists(h.DownloadDir + "data.bin"));
    EXPECT_FALSE(FileExists(h.DownloadDir + "data.bin.vd~"));
}

// A length that no disk holds is refused with the sizes before the temporary
// file is created or any space is reserved for it.
TEST_F(HostileHttp, SizeNoDiskCanHoldIsRefusedBeforeAnyReservation) {
    const std::string huge = "999999999999999999";
    RangeServer server(Options([&](RangeServerOptions& o) {
        o.reply = [&](int) { return "HTTP/1.1 200 OK\r\nContent-Length: " + huge + "\r\n\r\nabc"; };
    }));
    EXPECT_EQ(Download(server.Url("huge.bin"), 1, "huge.bin"), TaskState::Failed) << h.owner.Log();
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_DiskFull") + " " + huge + " > "))
        << h.owner.Log();
    EXPECT_FALSE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_MallocSpace"))) << h.owner.Log();
    EXPECT_FALSE(FileExists(h.DownloadDir + "huge.bin.vd~"));
}

TEST_F(HostileHttp, StoppedUnknownLengthBodyIsStoppedNotCompleted) {
    RangeServer server(Options([&](RangeServerOptions& o) {
        o.contentLength = false;
        o.pieceDelayMs = 50;
    }));
    id = h.AddTask(server.Url("data.bin"), 1, "data.bin");
    ASSERT_TRUE(h.Start(slot, id));
    for (int i = 0; i < 600 && slot.task.GetDownloaded() < 32 * 1024; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(h.StopAndJoin(slot));
    EXPECT_EQ(h.owner.Last().State, TaskState::Stopped) << h.owner.Log();
    EXPECT_FALSE(FileExists(h.DownloadDir + "data.bin"));
    EXPECT_TRUE(FileExists(h.DownloadDir + "data.bin.vd~"));
}

// Each reply is refused before a byte of it is written; the next try gets
// the real file, which must be exact.
TEST_F(HostileHttp, RepliesThatDoNotParseOrWereNotAskedForAreFailedTries) {
    const std::vector<std::string> bad = {
        "HTTP/1.1 2000 OK\r\nContent-Length: 5\r\n\r\nWRONG",
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 7\r\n\r\nWRONG",
        "HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n\r\nWRONG",
        // (one connection asks for the whole file without a range)
        "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-4/5\r\n"
        "Content-Length: 5\r\n\r\nWRONG",
        "Content-Length: 5\r\n\r\nWRONG",
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        RangeServer server(Options([&](RangeServerOptions& o) {
            o.reply = [&](int index) { return index == 0 ? bad[i] : std::string(); };
        }));
        std::string name = "f" + std::to_string(i) + ".bin";
        const int threads = i == 3 ? 1 : 2;
        ASSERT_EQ(Download(server.Url(name), threads, name), TaskState::Completed)
            << bad[i] << h.owner.Log();
        EXPECT_EQ(ReadFile(h.DownloadDir + name), kBody) << bad[i];
    }
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_BadReply")));
}

TEST_F(HostileHttp, RangeReplyWhoseLengthDisagreesIsRefused) {
    RangeServer server(Options([&](RangeServerOptions& o) {
        o.reply = [&](int index) {
            // A second connection's first reply claims the right start but a
            // length that does not reach the end of the file.
            return index == 1 ? std::string(
                                    "HTTP/1.1 206 Partial Content\r\n"
                                    "Content-Range: bytes 153638-153647/307277\r\n"
                                    "Content-Length: 10\r\n\r\n0123456789")
                              : std::string();
        };
    }));
    ASSERT_EQ(Download(server.Url("data.bin"), 2), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(ReadFile(h.DownloadDir + "data.bin"), kBody);
}

// A name at the limit of the file system still gets its temporary file:
// shortened, its extension kept.
TEST_F(HostileHttp, LongestNamesAreShortenedToFitTheTemporaryName) {
    RangeServer server(Options([](RangeServerOptions&) {}));
    for (size_t length : {251u, 253u, 255u}) {
        char c = static_cast<char>('a' + length % 26);  // one name per task
        std::string name = std::string(length - 4, c) + ".bin";
        ASSERT_EQ(Download(server.Url("data.bin"), 2, name), TaskState::Completed) << h.owner.Log();
        std::string fitted = std::string(std::min<size_t>(length, 251) - 4, c) + ".bin";
        EXPECT_EQ(h.Progress(id).LocalFileName, fitted);
        EXPECT_TRUE(ReadFile(h.DownloadDir + fitted) == kBody) << length;
    }
}

TEST_F(HostileHttp, RedirectCarryingALineBreakIsRefused) {
    for (std::string smuggled : {std::string("\r"), std::string("\n"), std::string(1, 0)}) {
        RangeServer target(Options([](RangeServerOptions&) {}));
        std::string location = target.Url("x.bin") + smuggled + "X-Injected: 1";
        RangeServer first(Options([&](RangeServerOptions& o) {
            o.reply = [&](int) {
                return "HTTP/1.1 302 Found\r\nLocation: " + location +
                       "\r\nContent-Length: 0\r\n\r\n";
            };
        }));
        EXPECT_EQ(Download(first.Url("data.bin"), 1), TaskState::Failed) << h.owner.Log();
        EXPECT_EQ(target.Connections(), 0);
        EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_InvalidURL")));
    }
}

}  // namespace
}  // namespace vardane::test
