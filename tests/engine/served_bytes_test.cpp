// What a download costs the server: every ranged request ends where its
// block ends, and a connection that stops early (its block was split or
// finished) leaves little in the kernel's buffers to throw away.
#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "engine/worker.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/range_server.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

const std::string kBody = RandomBytes(700 * 1024 + 333, 23);
const int64_t kSize = static_cast<int64_t>(kBody.size());

// The [first, last] of a request's Range header; nullopt without one, last
// -1 when it is open-ended.
std::optional<std::pair<int64_t, int64_t>> RangeOf(const std::string& request) {
    size_t at = request.find("Range: bytes=");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    std::string asked = request.substr(at + 13, request.find("\r\n", at) - at - 13);
    size_t dash = asked.find('-');
    std::string last = asked.substr(dash + 1);
    return std::make_pair(TextToInt(asked.substr(0, dash)), last.empty() ? -1 : TextToInt(last));
}

class ServedBytes : public ::testing::Test {
  protected:
    EngineHarness h;
    TaskSlot slot{h.ctx};
};

// The second connection stalls; another worker takes over the part of its block
// beyond what its request asked for (under the limit a request asks for two
// seconds' worth). The stalled worker asks again for exactly what is left
// of its shrunk block, and every ranged request names its end.
TEST_F(ServedBytes, RequestsAfterASplitEndWhereTheirBlocksEnd) {
    h.Configure([](AppSettings& s) {
        s.ConnectionTimeOut = 1;
        s.RetryWaitSec = 0;
    });
    h.SetSpeedLimit(true, 64);  // requests of 256 KiB
    RangeServerOptions o;
    o.body = kBody;
    o.stallConnection = 1;
    o.stallAfter = 64 * 1024;
    RangeServer server(o);
    std::string id = h.AddTask(server.Url("data.bin"), 2, "data.bin");
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(ReadFile(h.DownloadDir + "data.bin"), kBody);

    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (const std::string& request : server.Requests()) {
        if (auto range = RangeOf(request)) {
            EXPECT_GE(range->second, range->first) << request;
            ranges.push_back(*range);
        }
    }
    ASSERT_GE(ranges.size(), 3u);  // block 1, at least one split, the re-request
    for (const auto& range : ranges) {
        EXPECT_LE(range.second - range.first + 1, 256 * 1024);
    }
    // The re-request of the stalled block comes last (after the time-out)
    // and ends right before the part taken over from it.
    const auto retry = ranges.back();
    bool adjoins = false;
    for (size_t i = 0; i + 1 < ranges.size(); ++i) {
        adjoins = adjoins || ranges[i].first == retry.second + 1;
    }
    EXPECT_TRUE(adjoins) << "the re-request runs past its block";
}

// A task that splits asks first for a piece of the file (under the limit a
// sixteenth of a second's worth), never for all of it; one connection asks
// for the whole file without a range.
TEST_F(ServedBytes, FirstRequestAsksForAFirstPieceOnlyWhenTheTaskSplits) {
    h.SetSpeedLimit(true, 64);
    RangeServerOptions o;
    o.body = kBody;
    RangeServer server(o);
    std::string id = h.AddTask(server.Url("data.bin"), 4, "data.bin");
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(ReadFile(h.DownloadDir + "data.bin"), kBody);
    ASSERT_FALSE(server.Requests().empty());
    auto first = RangeOf(server.Requests()[0]);
    ASSERT_TRUE(first.has_value()) << server.Requests()[0];
    EXPECT_EQ(*first, std::make_pair(int64_t{0}, int64_t{64 * 1024 / 16 - 1}));

    RangeServer alone(o);
    TaskSlot other(h.ctx);
    id = h.AddTask(alone.Url("one.bin"), 1, "one.bin");
    ASSERT_EQ(h.Run(other, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(ReadFile(h.DownloadDir + "one.bin"), kBody);
    EXPECT_FALSE(RangeOf(alone.Requests().at(0)).has_value());
}

// Under the global limit the readers are slow and the server fast: without a
// bound the kernel would buffer far ahead of each reader (about 120 KiB
// here), and every split or block end would throw that away. A connection
// may waste at most half a read's worth.
TEST_F(ServedBytes, SplitsUnderTheLimitThrowAwayHalfAReadPerConnectionAtMost) {
    const int64_t kb = 64;
    const int threads = 2;
    h.Configure([](AppSettings& s) { s.MinBlock = 16 * 1024; });
    h.SetSpeedLimit(true, kb);
    RangeServerOptions o;
    o.body = kBody;
    RangeServer server(o);
    std::string id = h.AddTask(server.Url("data.bin"), threads, "data.bin");
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(ReadFile(h.DownloadDir + "data.bin"), kBody);
    const int64_t oneRead = kb * 1024 / threads;
    EXPECT_GT(server.Connections(), 2);  // splits happened
    EXPECT_LE(server.BytesSent(), kSize + server.Connections() * oneRead / 2)
        << server.Connections() << " connections";
}

}  // namespace
}  // namespace vardane::test
