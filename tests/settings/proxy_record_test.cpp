#include "settings/proxy_record.h"

#include <gtest/gtest.h>

#include "lang/lang_table.h"
#include "settings/app_context.h"
#include "settings/settings_startup.h"
#include "tests/settings/settings_test_root.h"

namespace vardane {
namespace {

using test::RootOf;
using test::TempDir;
using test::WriteLangFile;

class ProxyRecordTest : public ::testing::Test {
  protected:
    ProxyRecordTest() {
        WriteLangFile(dir_, "Eng", {"[Lang]", "SettingDlg_Proxy_Direct=Direct connection"});
        lang_.SetFolders({dir_ / "Lang/"});
        lang_.SetCurrent("Eng");
    }
    TempDir dir_{"vardane-proxy"};
    LangTable lang_;
};

// Every field of a record, with the type's display name, on one line.
std::string Fields(const ProxyRecord& r) {
    return std::to_string(r.Type) + "|" + (r.PASV ? "pasv" : "port") + "|" + r.Name + "|" +
           r.Server + "|" + std::to_string(r.Port) + "|" + (r.Authenticate ? "auth" : "-") + "|" +
           r.User + "|" + r.Password + "|" + r.TypeName;
}

TEST_F(ProxyRecordTest, DefaultRecordsParse) {
    EXPECT_EQ(Fields(ParseProxyRecord("0,1,Direct Connection,,0,0,,", lang_)),
              "0|pasv|Direct Connection||0|-|||Direct connection");
    EXPECT_EQ(Fields(ParseProxyRecord("1,1,Http Connect,,,,,", lang_)),
              "1|pasv|Http Connect||0|-|||HTTP Connect");
    EXPECT_EQ(ParseProxyRecord("2,1,Http Get,,,,,", lang_).TypeName, "HTTP Get");
    EXPECT_EQ(ParseProxyRecord("3,1,Socks4,,,,,", lang_).TypeName, "Socks4");
    EXPECT_EQ(ParseProxyRecord("4,1,Socks5,,,,,", lang_).TypeName, "Socks5");
    EXPECT_EQ(ParseProxyRecord("9,1,Odd,,,,,", lang_).TypeName, "");
}

TEST_F(ProxyRecordTest, PasswordWithCommasRoundTrips) {
    ProxyRecord r;
    r.Type = 4;
    r.PASV = false;
    r.Name = "office";
    r.Server = "proxy.example.net";
    r.Port = 1080;
    r.Authenticate = true;
    r.User = "me";
    r.Password = "a,b,,c,";
    std::string text = FormatProxyRecord(r);
    EXPECT_EQ(text, "4,0,office,proxy.example.net,1080,1,me,a,b,,c,");
    EXPECT_EQ(Fields(ParseProxyRecord(text, lang_)),
              "4|port|office|proxy.example.net|1080|auth|me|a,b,,c,|Socks5");
}

TEST_F(ProxyRecordTest, MissingFieldsAreEmptyAndTheRestIsThePassword) {
    EXPECT_EQ(Fields(ParseProxyRecord("1,1,Short", lang_)), "1|pasv|||0|-||Short|HTTP Connect");
    EXPECT_EQ(Fields(ParseProxyRecord("", lang_)), "0|port|||0|-|||Direct connection");
    EXPECT_EQ(Fields(ParseProxyRecord("x,y,n,s,port,z,u,p", lang_)),
              "0|port|n|s|0|-|u|p|Direct connection");
}

TEST_F(ProxyRecordTest, LoadsEntriesFromTheStore) {
    AppContext ctx(RootOf(dir_));
    RunSettingsStartup(ctx);
    EXPECT_EQ(Fields(LoadProxyRecord(ctx, 1)), "0|pasv|Direct Connection||0|-|||Direct connection");
    EXPECT_EQ(LoadProxyRecord(ctx, 3).TypeName, "HTTP Get");

    RegistryKey key(ctx.registry);
    ASSERT_TRUE(key.Open(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\Proxy", false));
    key.SetString("Proxy_2", "1,1,Squid,127.0.0.1,3128,1,bob,p,w");
    EXPECT_EQ(Fields(LoadProxyRecord(ctx, 2)),
              "1|pasv|Squid|127.0.0.1|3128|auth|bob|p,w|HTTP Connect");
    EXPECT_EQ(Fields(LoadProxyRecord(ctx, 9)), Fields(ParseProxyRecord("", ctx.lang)));
}

}  // namespace
}  // namespace vardane
