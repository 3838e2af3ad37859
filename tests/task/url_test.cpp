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

TEST(ParseUrl, ProtocolIsMatchedWithoutCaseAndStoredLowerCase) {
    TaskDescriptor d = Parsed("HTTP://HOST/a.zip");
    EXPECT_EQ(d.Protocol, "http://");
    EXPECT_EQ(d.Host, "HOST");
    EXPECT_EQ(d.iPort, 80);
    EXPECT_EQ(d.RequestPath, "/a.zip");
    EXPECT_EQ(d.URL, "HTTP://HOST/a.zip");
    EXPECT_EQ(d.FileName, "a.zip");

    d = Parsed("Ftp://host/pub/f.tar.gz");
    EXPECT_EQ(d.Protocol, "ftp://");
    EXPECT_EQ(d.iPort, 21);
    EXPECT_EQ(d.FileName, "f.tar.gz");
}

TEST(ParseUrl, HttpsTakesPort443AndTheHttpRules) {
    TaskDescriptor d = Parsed("HTTPS://host/my file.zip?q=1#frag");
    EXPECT_EQ(d.Protocol, "https://");
    EXPECT_EQ(d.iPort, 443);
    EXPECT_EQ(d.RequestPath, "/my%20file.zip?q=1");
    EXPECT_EQ(d.URL, "HTTPS://host/my%20file.zip?q=1");
    EXPECT_EQ(d.Referer, "HTTPS://host");
    EXPECT_EQ(Parsed("https://host:8443/a.zip").iPort, 8443);
}

TEST(ParseUrl, HostAndPort) {
    EXPECT_EQ(Parsed("http://host:8080/a.zip").iPort, 8080);
    EXPECT_EQ(Parsed("http://host:8080/a.zip").Host, "host");
    EXPECT_EQ(Parsed("http://host:/a.zip").iPort, 0);  // empty number
    EXPECT_EQ(Parsed("http://host:12ab/a.zip").iPort, 12);
    TaskDescriptor d = Parsed("http://:81/a.zip");  // a colon at position 0 does not count
    EXPECT_EQ(d.Host, ":81");
    EXPECT_EQ(d.iPort, 80);
}

TEST(ParseUrl, BracketedIpv6Literals) {
    TaskDescriptor d = Parsed("http://[2001:db8::1]:8080/x.zip");
    EXPECT_EQ(d.Host, "2001:db8::1");
    EXPECT_EQ(d.iPort, 8080);
    EXPECT_EQ(d.RequestPath, "/x.zip");
    EXPECT_EQ(d.URL, "http://[2001:db8::1]:8080/x.zip");  // kept as typed
    d = Parsed("https://user:pw@[::1]/a.zip");
    EXPECT_EQ(d.Host, "::1");
    EXPECT_EQ(d.iPort, 443);
    EXPECT_EQ(d.User, "user");
    EXPECT_EQ(Parsed("ftp://[::1]/pub/a.zip").iPort, 21);
    for (const char* bad :
         {"http://[::1/a.zip", "http://[::1]x/a.zip", "http://[::1]:/a.zip",
          "http://[::1]:8a/a.zip", "http://[::1]:70000/a.zip", "http://[fe80::1%eth0]/a.zip",
          "http://[host]/a.zip", "http://[]/a.zip", "http://[127.0.0.1]/a.zip"}) {
        Parsed(bad, false);
    }
}

TEST(ParseUrl, HostileAddressesAreRefused) {
    // A port must not wrap around into another one.
    Parsed("http://host:103616/a.zip", false);
    Parsed("http://host:-1/a.zip", false);
    EXPECT_EQ(Parsed("http://host:65535/a.zip").iPort, 65535);
    // Control characters would add lines of their own to a request or an FTP
    // command, wherever the address came from.
    for (const std::string& bad : std::vector<std::string>{
             "http://host/a.zip\r\nX-Injected: 1", "ftp://host/a.zip\nDELE b",
             "http://host/a\x0b.zip", "http://host/a\x1b.zip",
             std::string("http://host/a.zip\0", 18), "http://ho\x7fst/a.zip"}) {
        Parsed(bad, false);
    }
    Parsed("http://ho st/a.zip", false);
}

TEST(ParseUrl, BlanksAreEncodedAndTheFragmentStaysHome) {
    TaskDescriptor d = Parsed("http://host/my file.zip?q=a b#part 2");
    EXPECT_EQ(d.RequestPath, "/my%20file.zip?q=a%20b");
    EXPECT_EQ(d.URL, "http://host/my%20file.zip?q=a%20b");
    EXPECT_EQ(d.FileName, "my file.zip");
    EXPECT_EQ(Parsed("http://host/a.zip#frag").FileName, "a.zip");
    // An FTP path is sent as it stands: a blank belongs to the name.
    EXPECT_EQ(Parsed("ftp://host/my file.zip").RequestPath, "/my file.zip");
}

TEST(ParseUrl, Credentials) {
    TaskDescriptor d = Parsed("ftp://me:se:cret@host:2121/f.bin");
    EXPECT_EQ(d.User, "me");
    EXPECT_EQ(d.Password, "se:cret");
    EXPECT_EQ(d.Host, "host");
    EXPECT_EQ(d.iPort, 2121);
    EXPECT_EQ(d.RequestPath, "/f.bin");

    for (const char* bad :
         {"http://user@host/a.zip", "http://:pw@host/a.zip", "http://user:@host/a.zip"}) {
        Parsed(bad, false);
    }
}

TEST(ParseUrl, RejectsAddressesWithoutHostSlashOrDot) {
    for (const char* bad :
         {"", "http://", "https://", "gopher://host/a.zip", "host/a.zip", "http://host",
          "http:///a.zip", "http://host/dir/", "http://host/download"}) {
        Parsed(bad, false);
    }
    EXPECT_EQ(Parsed("http://host/get.cgi?id=1").FileName, "get.cgi");
    EXPECT_EQ(Parsed("http://host/download?v=1.2").FileName, "download");
}

TEST(ParseUrl, QueryGivesRefererAndIsCutFromTheFileName) {
    TaskDescriptor d = Parsed("http://host/dl.php?file=x.zip&x=1");
    EXPECT_EQ(d.Referer, "http://host");
    EXPECT_EQ(d.RequestPath, "/dl.php?file=x.zip&x=1");
    EXPECT_EQ(d.FileName, "dl.php");

    d = Parsed("http://host/get?u=/files/b.bin");  // the last slash lies in the query
    EXPECT_EQ(d.FileName, "b.bin");
    EXPECT_EQ(d.Referer, "http://host/get?u=/files");

    EXPECT_EQ(Parsed("http://u:pw@host/dl.php?x=1").Referer, "http://host");  // no login
    EXPECT_EQ(Parsed("http://host/a/b.zip&k=v").FileName, "b.zip");
    EXPECT_EQ(Parsed("http://host/a/b.zip").Referer, "");
    EXPECT_EQ(Parsed("ftp://host/a?b.zip").Referer, "");  // Referer is HTTP only
}

TEST(ParseUrl, OnTaskClearsRefererAndRequestPathBeforeFailing) {
    TaskTestRoot root;
    CAppContext ctx(DataRoot{root.AppDir(), ""});
    CDownloadTask task(ctx);
    ASSERT_TRUE(ParseUrl(task, "http://host/x.php?a=1"));
    EXPECT_FALSE(ParseUrl(task, "http://other"));
    TaskDescriptor d = task.Snapshot();
    EXPECT_EQ(d.URL, "http://other");
    EXPECT_EQ(d.Referer, "");
    EXPECT_EQ(d.RequestPath, "");
}

// The authority ends at the first '/', '?' or '#'; the login is what comes
// before its last '@'. An '@' or ':' anywhere after it (a folder named
// "pub:x@B", npm's "@scope", an e-mail address in a query) moves nothing.
TEST(ParseUrl, HostileAuthorities) {
    struct Case {
        const char* address;
        const char* host;
        int port;
        const char* user;
        const char* password;
        const char* path;
        const char* fileName;
    } cases[] = {
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
        EXPECT_EQ(d.iPort, c.port) << c.address;
        EXPECT_EQ(d.User, c.user) << c.address;
        EXPECT_EQ(d.Password, c.password) << c.address;
        EXPECT_EQ(d.RequestPath, c.path) << c.address;
        EXPECT_EQ(d.FileName, c.fileName) << c.address;
        // Shown anywhere, an address keeps its host and loses its password.
        std::string masked = MaskUrlPassword(c.address);
        EXPECT_EQ(*c.password == 0, masked == c.address) << masked;
        EXPECT_NE(masked.find(c.host), std::string::npos) << masked;
    }
    for (const char* bad : {
             "http://h?x=/a.zip",              // no path after the host
             "ftp://u:p%0D%0AQUIT@h/f.bin",    // a decoded line break in the login
             "ftp://h/a%0D%0ADELE%20b/f.bin",  // ... or in an FTP path
             "ftp://h/a%00b/f.bin",
             "ftp://u:p@/f.bin",  // no host
             "ftp://u:p@[::1/f.bin",
         }) {
        Parsed(bad, false);
    }
    EXPECT_EQ(MaskUrlPassword("ftp://u:p@ss@[::1]:21/a@b:c.zip"),
              "ftp://u:******@[::1]:21/a@b:c.zip");
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
    EXPECT_EQ(d.iPort, 2121);
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

TEST(TaskId, ProgressFilePathIsInTasks) {
    EXPECT_EQ(ProgressFilePath("/data/", "123"), "/data/Tasks/123.pro~");
}

}  // namespace
}  // namespace vardane
