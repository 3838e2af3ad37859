// The browsers' native messaging host: its framing and its refusals, a
// download handed to a running owner with the browser's cookie, referrer and
// agent on every request (and the cookie kept from another host after a
// redirect), the cookie never printed, and the manifests browsers look for.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "cli/native_message.h"
#include "platform/file.h"
#include "task/progress_file.h"
#include "task/url.h"
#include "tests/cli/cli_runner.h"
#include "tests/engine/range_server.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

using Json = nlohmann::json;

// The answers in the host's output, in order.
std::vector<Json> Answers(const std::string& out) {
    std::vector<Json> answers;
    NativeMessageDecoder decoder;
    decoder.Feed(out);
    std::string message;
    while (decoder.Next(message) == NativeMessageDecoder::Kind::Message) {
        answers.push_back(Json::parse(message));
    }
    EXPECT_TRUE(decoder.Idle()) << "a cut answer";
    return answers;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class NativeHost : public ::testing::Test {
  protected:
    void SetUp() override {
        // The host would start a window on a display.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
    void TearDown() override {
        if (owner_) {
            owner_->Interrupt();
            owner_->Wait();
        }
    }
    // The host run on messages (encoded), to the end of its input.
    CliResult Host(const std::string& input) { return RunCli(home.Path(), {"native-host"}, input); }
    void StartOwner() {
        ASSERT_EQ(0, RunCli(home.Path(), {"config", "HKCU\\SOFTWARE\\Vardane\\Default",
                                          "DownloadFolder", target.Path()})
                         .status);
        ASSERT_EQ(
            0, RunCli(home.Path(), {"config", "HKCU\\SOFTWARE\\Vardane\\Default", "ThreadCnt", "4"})
                   .status);
        owner_ =
            std::make_unique<CliProcess>(home.Path(), std::vector<std::string>{"run", "--stay"});
        ASSERT_TRUE(WaitUntil([&] { return FileExists(home.Path() + "vardane.sock"); }));
    }
    bool Completed(const std::string& id) {
        for (const std::string& id2 : ListedIds(home.Path(), "completed")) {
            if (id2 == id) {
                return true;
            }
        }
        return false;
    }

    TempDir home{"vardane-host"};
    TempDir target{"vardane-host-target"};
    std::unique_ptr<CliProcess> owner_;
};

// Refusals answer and the host reads on: a message that is no JSON, no
// object or no address, and one over 1 MiB (its bytes skipped). The browser's
// own way of starting the host is understood.
TEST_F(NativeHost, AnswersEveryMessageAndRefusesTheBadOnes) {
    const std::string oversize =
        EncodeNativeMessage("{\"url\": \"" + std::string(kMaxNativeMessage, 'a') + "\"}");
    const std::string input = EncodeNativeMessage("{\"type\": \"settings\"}") +
                              EncodeNativeMessage("{\"url\": ") + EncodeNativeMessage("[1, 2]") +
                              EncodeNativeMessage("{\"referrer\": \"http://a/\"}") +
                              EncodeNativeMessage("{\"url\": 5}") + oversize +
                              EncodeNativeMessage("{\"type\": \"links\", \"links\": \"x\"}") +
                              EncodeNativeMessage("{\"type\": \"settings\"}");
    CliResult r = Host(input);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<Json> answers = Answers(r.out);
    ASSERT_EQ(answers.size(), 8u) << r.out;
    EXPECT_EQ(answers[0], Json({{"ok", true}, {"monitor", false}}));
    for (size_t i = 1; i < 7; ++i) {
        EXPECT_EQ(answers[i]["ok"], false) << i;
        EXPECT_TRUE(answers[i]["error"].is_string()) << i;
    }
    EXPECT_EQ(answers[5]["error"], "message larger than 1 MiB");
    EXPECT_EQ(answers[7]["ok"], true);

    // "Monitor the browser" as set now; started the way Chromium starts it.
    ASSERT_EQ(0,
              RunCli(home.Path(), {"config", "HKCU\\SOFTWARE\\Vardane\\General", "MonitorIE", "1"})
                  .status);
    setenv("VARDANE_HOME", home.Path().c_str(), 1);
    r = RunCli("", {"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"},
               EncodeNativeMessage("{\"type\": \"settings\"}") + std::string("\x10\0", 2));
    unsetenv("VARDANE_HOME");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Answers(r.out), std::vector<Json>{Json({{"ok", true}, {"monitor", true}})});
}

// A download handed over while `run` owns the data root: every request of
// its four connections carries the browser's cookie, referrer and agent,
// the file arrives whole under a name made safe, and a redirect to another
// host gets the agent but not the cookie. show and -v never print the cookie.
TEST_F(NativeHost, BrowserHeadersReachTheServerOnEveryRequest) {
    const std::string body = RandomBytes(3 << 20, 7);
    RangeServerOptions moving;
    moving.body = "moved";
    RangeServer other(moving);
    RangeServerOptions serving;
    serving.body = body;
    RangeServer server(serving);
    RangeServerOptions redirecting;
    redirecting.body = "unused";
    redirecting.reply = [&other](int) {
        return "HTTP/1.1 302 Found\r\nLocation: http://localhost:" + std::to_string(other.Port()) +
               "/moved.bin\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    };
    RangeServer redirect(redirecting);
    ASSERT_NO_FATAL_FAILURE(StartOwner());

    const std::string cookie = "sid=S3cr3t-Value; theme=dark";
    Json download = {{"url", server.Url("file.bin")},
                     {"cookies", cookie},
                     {"referrer", "http://127.0.0.1/page.html"},
                     {"userAgent", "TestBrowser/1.0 (X11)"},
                     {"filename", "/home/u/Downloads/../saved.bin"}};
    Json moved = {{"url", redirect.Url("r.bin")}, {"cookies", cookie}, {"userAgent", "TB/2"}};
    CliResult r = Host(EncodeNativeMessage(download.dump()) + EncodeNativeMessage(moved.dump()));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Json> answers = Answers(r.out);
    ASSERT_EQ(answers.size(), 2u) << r.out;
    ASSERT_EQ(answers[0]["ok"], true) << answers[0].dump();
    ASSERT_EQ(answers[1]["ok"], true) << answers[1].dump();
    const std::string id = answers[0]["id"], movedId = answers[1]["id"];
    ASSERT_TRUE(WaitUntil([&] { return Completed(id) && Completed(movedId); }));

    EXPECT_EQ(ReadFile(target.Path() + "saved.bin"), body);
    std::vector<std::string> requests = server.Requests();
    EXPECT_GE(requests.size(), 4u) << "one connection only";
    for (const std::string& request : requests) {
        EXPECT_TRUE(Has(request, "\r\nCookie: " + cookie + "\r\n")) << request;
        EXPECT_TRUE(Has(request, "\r\nReferer: http://127.0.0.1/page.html\r\n")) << request;
        EXPECT_TRUE(Has(request, "\r\nUser-Agent: TestBrowser/1.0 (X11)\r\n")) << request;
    }
    ASSERT_FALSE(other.Requests().empty());
    for (const std::string& request : other.Requests()) {
        EXPECT_FALSE(Has(request, "Cookie:")) << request;
        EXPECT_TRUE(Has(request, "\r\nUser-Agent: TB/2\r\n")) << request;
    }
    EXPECT_TRUE(Has(redirect.Requests().at(0), "\r\nCookie: " + cookie + "\r\n"));

    // Stored for the task's later starts, never shown.
    EXPECT_EQ(ReadProgress(ProgressFilePath(home.Path(), id)).Headers.Cookie, cookie);
    CliResult shown = RunCli(home.Path(), {"show", id});
    EXPECT_TRUE(Has(shown.out, "\nCookie=******\n")) << shown.out;
    EXPECT_TRUE(Has(shown.out, "\nUserAgent=TestBrowser/1.0 (X11)\n")) << shown.out;
    // A get handed to the owner carries its cookie; its log masks it.
    CliResult got = RunCli(home.Path(), {"-v", "get", server.Url("again.bin"), "--cookie", cookie,
                                         "--referer", "http://x/", "--connections", "1"});
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_TRUE(Has(got.out, "Cookie: ******")) << got.out;
    EXPECT_TRUE(Has(server.Requests().back(), "\r\nCookie: " + cookie + "\r\n"));
    for (const std::string& text : {shown.out, shown.err, got.out, got.err}) {
        EXPECT_FALSE(Has(text, "S3cr3t")) << text;
    }
}

// browser install --user writes both manifests, naming this vardane-cli.
TEST(BrowserInstall, WritesTheManifestsBrowsersLookFor) {
    TempDir home{"vardane-browser-home"};
    const char* saved = std::getenv("HOME");
    const std::string before = saved != nullptr ? saved : "";
    setenv("HOME", home.Path().c_str(), 1);
    CliResult r = RunCli(home.Path() + "data", {"browser", "install", "--user"});
    setenv("HOME", before.c_str(), 1);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string cli = std::string(VARDANE_BINARY_DIR) + "/bin/vardane-cli";
    Json firefox = Json::parse(
        ReadFile(home.Path() + ".mozilla/native-messaging-hosts/org.vardane.host.json"));
    Json chromium = Json::parse(
        ReadFile(home.Path() + ".config/chromium/NativeMessagingHosts/org.vardane.host.json"));
    for (const Json& manifest : {firefox, chromium}) {
        EXPECT_EQ(manifest["name"], "org.vardane.host");
        EXPECT_EQ(manifest["type"], "stdio");
        EXPECT_EQ(manifest["path"], cli);
    }
    EXPECT_EQ(firefox["allowed_extensions"], Json::array({"vardane@vardane.org"}));
    ASSERT_EQ(chromium["allowed_origins"].size(), 1u);
    // The id follows the key the extension ships with, or Chromium refuses the host.
    std::string id = ReadFile(std::string(VARDANE_SOURCE_DIR) + "/extension/chromium-id.txt");
    id.erase(id.find_last_not_of("\n") + 1);
    EXPECT_EQ(chromium["allowed_origins"][0], "chrome-extension://" + id + "/");
}

}  // namespace
}  // namespace vardane::test
