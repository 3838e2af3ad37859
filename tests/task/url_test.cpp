#include "task/url.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "task/download_task.h"
#include "tests/task/task_test_root.h"

namespace vardane {
namespace {

using test::TaskTestRoot;

TaskDescriptor Parsed(const std::string& address, bool expectOk = true) {
    TaskDescriptor d;
    EXPECT_EQ(ParseUrlInto(d, address), expectOk) << address;
    return d;
}

// Each address with the parts a task takes from it. The authority ends at
// the first '/', '?' or '#'; the login is what comes before its last '@'. An
// '@' or ':' anywhere after it (a folder named "pub:x@B", npm's "@scope", an
// e-mail address in a query) moves nothing.
TEST(ParseUrl, AddressTable) {
    struct Case {
        const char* address;
        const char* host;
        int port;
        const char* user;
        const char* password;
        const char* path;
        const char* fileName;
    } cases[] = {
        {"HTTP://HOST/a.zip", "HOST", 80, "", "", "/a.zip", "a.zip"},
        {"Ftp://host/pub/f.tar.gz", "host", 21, "", "", "/pub/f.tar.gz", "f.tar.gz"},
        {"HTTPS://host/my file.zip?q=1#frag", "host", 443, "", "", "/my%20file.zip?q=1",
         "my file.zip"},
        {"https://host:8443/a.zip", "host", 8443, "", "", "/a.zip", "a.zip"},
        {"http://host:/a.zip", "host", 0, "", "", "/a.zip", "a.zip"},  // empty number
        {"http://host:12ab/a.zip", "host", 12, "", "", "/a.zip", "a.zip"},
        {"http://host:65535/a.zip", "host", 65535, "", "", "/a.zip", "a.zip"},
        // A colon at position 0 does not count.
        {"http://:81/a.zip", ":81", 80, "", "", "/a.zip", "a.zip"},
        {"http://[2001:db8::1]:8080/x.zip", "2001:db8::1", 8080, "", "", "/x.zip", "x.zip"},
        {"https://user:pw@[::1]/a.zip", "::1", 443, "user", "pw", "/a.zip", "a.zip"},
        {"ftp://[::1]/pub/a.zip", "::1", 21, "", "", "/pub/a.zip", "a.zip"},
        // Blanks are encoded for HTTP, the fragment stays home; an FTP path is
        // sent as it stands.
        {"http://host/my file.zip?q=a b#part 2", "host", 80, "", "", "/my%20file.zip?q=a%20b",
         "my file.zip"},
        {"ftp://host/my file.zip", "host", 21, "", "", "/my file.zip", "my file.zip"},
        {"ftp://me:se:cret@host:2121/f.bin", "host", 2121, "me", "se:cret", "/f.bin", "f.bin"},
        // The query is cut from the file name; its last slash may lie in it.
        {"http://host/get.cgi?id=1", "host", 80, "", "", "/get.cgi?id=1", "get.cgi"},
        {"http://host/download?v=1.2", "host", 80, "", "", "/download?v=1.2", "download"},
        {"http://host/get?u=/files/b.bin", "host", 80, "", "", "/get?u=/files/b.bin", "b.bin"},
        {"http://host/a/b.zip&k=v", "host", 80, "", "", "/a/b.zip&k=v", "b.zip"},
        {"ftp://A/pub:x@B:2121/f.bin", "A", 21, "", "", "/pub:x@B:2121/f.bin", "f.bin"},
        {"http://A/x:y@B/g.bin", "A", 80, "", "", "/x:y@B/g.bin", "g.bin"},
        {"https://reg.example/@scope/pkg.tgz", "reg.example", 443, "", "", "/@scope/pkg.tgz",
         "pkg.tgz"},
        {"http://h/get.php?to=me@mail.example", "h", 80, "", "", "/get.php?to=me@mail.example",
         "get.php"},
        {"ftp://u:p@ss:w0rd@h:2121/f.bin", "h", 2121, "u", "p@ss:w0rd", "/f.bin", "f.bin"},
        {"ftp://u:p%40ss%3Aw0rd@h/f.bin", "h", 21, "u", "p@ss:w0rd", "/f.bin", "f.bin"},
        {"ftp://a%40b:pw@[::1]:2121/f.bin", "::1", 2121, "a@b", "pw", "/f.bin", "f.bin"},
        {"ftp://h/sub%20folder/my%20file.bin", "h", 21, "", "", "/sub%20folder/my%20file.bin",
         "my file.bin"},
        {"http://h/my%20file.bin", "h", 80, "", "", "/my%20file.bin", "my file.bin"},
        {"ftp://h/report%3Fv2%26b.bin", "h", 21, "", "", "/report%3Fv2%26b.bin", "report?v2&b.bin"},
        // A decoded name that would be no plain name keeps its escapes.
        {"http://h/a%2F..%2Fb.bin", "h", 80, "", "", "/a%2F..%2Fb.bin", "a%2F..%2Fb.bin"},
        {"http://h/%2E%2E?x.bin", "h", 80, "", "", "/%2E%2E?x.bin", "%2E%2E"},
    };
    for (const Case& c : cases) {
        TaskDescriptor d = Parsed(c.address);
        EXPECT_EQ(d.Host, c.host) << c.address;
        EXPECT_EQ(d.Port, c.port) << c.address;
        EXPECT_EQ(d.User, c.user) << c.address;
        EXPECT_EQ(d.Password, c.password) << c.address;
        EXPECT_EQ(d.RequestPath, c.path) << c.address;
        EXPECT_EQ(d.FileName, c.fileName) << c.address;
        // Shown anywhere, an address keeps its host and loses its password.
        std::string masked = MaskUrlPassword(c.address);
        EXPECT_EQ(*c.password == 0, masked == c.address) << masked;
        EXPECT_NE(masked.find(c.host), std::string::npos) << masked;
    }
    EXPECT_EQ(MaskUrlPassword("ftp://u:p@ss@[::1]:21/a@b:c.zip"),
              "ftp://u:******@[::1]:21/a@b:c.zip");
}

// The protocol is matched without case and stored in lower case; the address
// is kept as typed but for its encoded blanks and cut fragment; the referer
// is the folder of a query's target, HTTP only, without the login.
TEST(ParseUrl, ProtocolAddressAndReferer) {
    const char* const cases[][4] = {
        {"HTTP://HOST/a.zip", "http://", "HTTP://HOST/a.zip", ""},
        {"Ftp://host/pub/f.tar.gz", "ftp://", "Ftp://host/pub/f.tar.gz", ""},
        {"HTTPS://host/my file.zip?q=1#frag", "https://", "HTTPS://host/my%20file.zip?q=1",
         "HTTPS://host"},
        {"http://[2001:db8::1]:8080/x.zip", "http://", "http://[2001:db8::1]:8080/x.zip", ""},
        {"http://host/dl.php?file=x.zip&x=1", "http://", "http://host/dl.php?file=x.zip&x=1",
         "http://host"},
        {"http://host/get?u=/files/b.bin", "http://", "http://host/get?u=/files/b.bin",
         "http://host/get?u=/files"},
        {"http://u:pw@host/dl.php?x=1", "http://", "http://u:pw@host/dl.php?x=1", "http://host"},
        {"ftp://host/a?b.zip", "ftp://", "ftp://host/a?b.zip", ""},
    };
    for (const auto& [address, protocol, url, referer] : cases) {
        TaskDescriptor d = Parsed(address);
        EXPECT_EQ(d.Protocol, protocol) << address;
        EXPECT_EQ(d.URL, url) << address;
        EXPECT_EQ(d.Referer, referer) << address;
    }
}

TEST(ParseUrl, RefusedAddresses) {
    for (const std::string& bad : std::vector<std::string>{
             // No protocol, host, slash or dot
             "", "http://", "https://", "gopher://host/a.zip", "host/a.zip", "http://host",
             "http:///a.zip", "http://host/dir/", "http://host/download", "http://h?x=/a.zip",
             "ftp://u:p@/f.bin",
             // A broken bracketed literal, or one that is no IPv6 address
             "http://[::1/a.zip", "http://[::1]x/a.zip", "http://[::1]:/a.zip",
             "http://[::1]:8a/a.zip", "http://[::1]:70000/a.zip", "http://[fe80::1%eth0]/a.zip",
             "http://[host]/a.zip", "http://[]/a.zip", "http://[127.0.0.1]/a.zip",
             "ftp://u:p@[::1/f.bin",
             // A port must not wrap around into another one.
             "http://host:103616/a.zip", "http://host:-1/a.zip",
             // A login without its user or password
             "http://user@host/a.zip", "http://:pw@host/a.zip", "http://user:@host/a.zip",
             // Control characters, plain or decoded, would add lines of their
             // own to a request or an FTP command.
             "http://host/a.zip\r\nX-Injected: 1", "ftp://host/a.zip\nDELE b",
             "http://host/a\x0b.zip", "http://host/a\x1b.zip",
             std::string("http://host/a.zip\0", 18), "http://ho\x7fst/a.zip", "http://ho st/a.zip",
             "ftp://u:p%0D%0AQUIT@h/f.bin", "ftp://h/a%0D%0ADELE%20b/f.bin",
             "ftp://h/a%00b/f.bin"}) {
        Parsed(bad, false);
    }
}

TEST(ParseUrl, OnTaskClearsRefererAndRequestPathBeforeFailing) {
    TaskTestRoot root;
    AppContext ctx(DataRoot{root.AppDir(), ""});
    DownloadTask task(ctx);
    ASSERT_TRUE(ParseUrl(task, "http://host/x.php?a=1"));
    EXPECT_FALSE(ParseUrl(task, "http://other"));
    TaskDescriptor d = task.Snapshot();
    EXPECT_EQ(d.URL, "http://other");
    EXPECT_EQ(d.Referer, "");
    EXPECT_EQ(d.RequestPath, "");
}

// What is built reads back as it was meant: logins and names with every
// character that has a meaning in an address.
TEST(BuildUrl, RoundTripsThroughTheParser) {
    const std::string name = "r?v2 #1&x%;\xC3\xBC.bin";
    const std::string url =
        BuildUrl("ftp://", "me@x", "p@ss:w/0rd", "::1", 2121, EncodeUrlPath("/a b/" + name));
    EXPECT_EQ(url.find(' '), std::string::npos);
    TaskDescriptor d = Parsed(url);
    EXPECT_EQ(d.Host, "::1");
    EXPECT_EQ(d.Port, 2121);
    EXPECT_EQ(d.User, "me@x");
    EXPECT_EQ(d.Password, "p@ss:w/0rd");
    EXPECT_EQ(PercentDecode(d.RequestPath), "/a b/" + name);
    EXPECT_EQ(d.FileName, name);
    EXPECT_EQ(BuildUrl("http://", "", "", "h", 80, "/a.zip"), "http://h/a.zip");
    EXPECT_EQ(WithLogin("ftp://old:pw@h/x@y.bin", "n:e", "w"), "ftp://n%3Ae:w@h/x@y.bin");
    EXPECT_EQ(WithLogin("ftp://old:pw@h/x@y.bin", "", ""), "ftp://h/x@y.bin");
}

TEST(SplitPath, SeparatorIsTheLaterOfBothSlashesAndExtensionStartsAtTheFirstDot) {
    PathParts p = SplitPath("/pub/a.tar.gz");
    EXPECT_EQ(p.Dir, "/pub/");
    EXPECT_EQ(p.Name, "a");
    EXPECT_EQ(p.Ext, ".tar.gz");
    p = SplitPath("a/b\\c");
    EXPECT_EQ(p.Dir, "a/b\\");
    EXPECT_EQ(p.Name, "c");
    EXPECT_EQ(p.Ext, "");
    p = SplitPath("");
    EXPECT_TRUE(p.Dir.empty() && p.Name.empty() && p.Ext.empty());
}

TEST(TaskId, FormatIsUnpaddedDecimalParts) {
    EXPECT_EQ(FormatTaskId({2007, 3, 9, 14, 5, 7, 12}, 4711), "2007391457124711");
    EXPECT_EQ(FormatTaskId({2007, 11, 1, 0, 0, 0, 0}, 0),
              FormatTaskId({2007, 1, 11, 0, 0, 0, 0}, 0));
    EXPECT_EQ(ProgressFilePath("/data/", "123"), "/data/Tasks/123.pro~");
}

TEST(TaskId, NeverReturnsTheIdOfAnExistingProgressFile) {
    TaskTestRoot root;
    TaskIdTime fixed{2026, 12, 6, 11, 5, 7, 12};
    int draws[] = {4711, 14711, 42};  // 14711 % 10000 draws 4711 again
    int next = 0;
    auto now = [&] { return fixed; };
    auto random = [&] { return draws[next++]; };

    test::WriteFile(ProgressFilePath(root.AppDir(), FormatTaskId(fixed, 4711)), "x");
    EXPECT_EQ(MakeTaskId(root.AppDir(), now, random), FormatTaskId(fixed, 42));
    EXPECT_EQ(next, 3);

    std::string id = MakeTaskId(root.AppDir());
    EXPECT_TRUE(std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isdigit(c); }));
    EXPECT_EQ(id.substr(0, 4), std::to_string(LocalTaskIdTime().Year));
}

}  // namespace
}  // namespace vardane
