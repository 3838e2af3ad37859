// HTTP servers that never let a download succeed: statuses no retry will
// change end the task at once, and a server that accepts every request but
// never delivers is held to the retry limit, with a wait between tries.
#include <gtest/gtest.h>

#include "engine/worker.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/range_server.h"

namespace vardane::test {
namespace {

class HttpLiveness : public ::testing::Test {
  protected:
    std::optional<TaskState> Download(RangeServer& server) {
        return h.Run(slot, h.AddTask(server.Url("data.bin"), 1, "data.bin"));
    }
    EngineHarness h;
    CTaskSlot slot{h.ctx};
};

class HttpPermanentStatus : public HttpLiveness,
                            public ::testing::WithParamInterface<const char*> {};

// With the default settings (no retry limit) these were retried for ever.
TEST_P(HttpPermanentStatus, FailsTheTaskAtOnce) {
    const std::string status = GetParam();
    RangeServerOptions options;
    options.body = "x";
    options.reply = [status](int) {
        return "HTTP/1.1 " + status + "\r\nContent-Length: 0\r\n\r\n";
    };
    RangeServer server(options);
    ASSERT_EQ(Download(server), TaskState::Failed) << h.owner.Log();
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_TRUE(h.owner.LogHas("0 1 HTTP/1.1 " + status)) << h.owner.Log();
}

INSTANTIATE_TEST_SUITE_P(Statuses, HttpPermanentStatus,
                         ::testing::Values("401 Unauthorized", "403 Forbidden",
                                           "405 Method Not Allowed", "410 Gone",
                                           "451 Unavailable For Legal Reasons"));

// A 206 whose body never comes: every try counts although the server
// accepts it, and each new connection waits the retry time first.
TEST_F(HttpLiveness, AcceptedRepliesWithoutBytesCountAsFailedTries) {
    h.Configure([](CAppSettings& s) {
        s.RetryLimit = true;
        s.RetryCounts = 3;
    });
    RangeServerOptions options;
    options.body = "x";
    options.reply = [](int) {
        return std::string(
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-999/1000\r\n"
            "Content-Length: 1000\r\n\r\n");
    };
    RangeServer server(options);
    ASSERT_EQ(Download(server), TaskState::Failed) << h.owner.Log();
    EXPECT_EQ(server.Connections(), 3);
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TooManyRetry")));
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_RetryWait1") + " 1 ")) << h.owner.Log();
}

}  // namespace
}  // namespace vardane::test
