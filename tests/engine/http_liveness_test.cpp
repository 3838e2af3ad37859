// HTTP servers that accept every request but never deliver are held to the
// retry limit, with a wait between tries. (Statuses no retry will change
// are in http_scripted_test.cpp.)
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
    TaskSlot slot{h.ctx};
};

// A server that always answers 503, and one whose 206 never brings its body:
// every try counts although the server accepts it, each new connection
// waits the retry time first, and the limit ends the task.
TEST_F(HttpLiveness, AcceptedRepliesWithoutBytesCountAsFailedTries) {
    h.Configure([](AppSettings& s) {
        s.RetryLimit = true;
        s.RetryCounts = 3;
    });
    for (const char* reply : {"HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n",
                              "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-999/1000\r\n"
                              "Content-Length: 1000\r\n\r\n"}) {
        RangeServerOptions options;
        options.body = "x";
        options.reply = [reply](int) { return std::string(reply); };
        RangeServer server(options);
        const size_t logBefore = h.owner.Log().size();
        ASSERT_EQ(Download(server), TaskState::Failed) << h.owner.Log();
        EXPECT_EQ(server.Connections(), 3) << reply;
        const std::string log = h.owner.Log().substr(logBefore);
        EXPECT_NE(log.find(h.ctx.lang.GetLangText("Log_TooManyRetry")), std::string::npos);
        EXPECT_NE(log.find(h.ctx.lang.GetLangText("Log_RetryWait1") + " 1 "), std::string::npos)
            << log;
    }
}

}  // namespace
}  // namespace vardane::test
