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
    CLangTable lang_;
};

TEST_F(ProxyRecordTest, DefaultRecordsParse) {
    ProxyRecord direct = ParseProxyRecord("0,1,Direct Connection,,0,0,,", lang_);
    EXPECT_EQ(direct.Type, 0);
    EXPECT_TRUE(direct.PASV);
    EXPECT_EQ(direct.Name, "Direct Connection");
    EXPECT_EQ(direct.Server, "");
    EXPECT_EQ(direct.Port, 0);
    EXPECT_FALSE(direct.Authenticate);
    EXPECT_EQ(direct.User, "");
    EXPECT_EQ(direct.Password, "");
    EXPECT_EQ(direct.TypeName, "Direct connection");

    const char* names[] = {"HTTP Connect", "HTTP Get", "Socks4", "Socks5"};
    const char* stored[] = {"1,1,Http Connect,,,,,", "2,1,Http Get,,,,,", "3,1,Socks4,,,,,",
                            "4,1,Socks5,,,,,"};
    for (int type = 1; type <= 4; ++type) {
        ProxyRecord r = ParseProxyRecord(stored[type - 1], lang_);
        EXPECT_EQ(r.Type, type);
        EXPECT_EQ(r.TypeName, names[type - 1]);
        EXPECT_EQ(r.Port, 0);
        EXPECT_FALSE(r.Authenticate);
        EXPECT_EQ(r.Password, "");
    }
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
    ProxyRecord back = ParseProxyRecord(text, lang_);
    EXPECT_EQ(back.Type, 4);
    EXPECT_FALSE(back.PASV);
    EXPECT_EQ(back.Name, "office");
    EXPECT_EQ(back.Server, "proxy.example.net");
    EXPECT_EQ(back.Port, 1080);
    EXPECT_TRUE(back.Authenticate);
    EXPECT_EQ(back.User, "me");
    EXPECT_EQ(back.Password, "a,b,,c,");
    EXPECT_EQ(back.TypeName, "Socks5");
}

TEST_F(ProxyRecordTest, MissingFieldsAreEmptyAndTheRestIsThePassword) {
    ProxyRecord r = ParseProxyRecord("1,1,Short", lang_);
    EXPECT_EQ(r.Type, 1);
    EXPECT_TRUE(r.PASV);
    EXPECT_EQ(r.Name, "");
    EXPECT_EQ(r.Server, "");
    EXPECT_EQ(r.Port, 0);
    EXPECT_FALSE(r.Authenticate);
    EXPECT_EQ(r.User, "");
    EXPECT_EQ(r.Password, "Short");

    ProxyRecord empty = ParseProxyRecord("", lang_);
    EXPECT_EQ(empty.Type, 0);
    EXPECT_FALSE(empty.PASV);
    EXPECT_EQ(empty.Password, "");

    ProxyRecord junk = ParseProxyRecord("x,y,n,s,port,z,u,p", lang_);
    EXPECT_EQ(junk.Type, 0);
    EXPECT_FALSE(junk.PASV);
    EXPECT_EQ(junk.Port, 0);
    EXPECT_EQ(junk.Server, "s");
    EXPECT_EQ(junk.Password, "p");
}

TEST_F(ProxyRecordTest, LoadsEntriesFromTheStore) {
    CAppContext ctx(RootOf(dir_));
    RunSettingsStartup(ctx);
    ProxyRecord first = LoadProxyRecord(ctx, 1);
    EXPECT_EQ(first.Name, "Direct Connection");
    EXPECT_TRUE(first.PASV);
    EXPECT_EQ(first.TypeName, "Direct connection");
    EXPECT_EQ(LoadProxyRecord(ctx, 3).TypeName, "HTTP Get");

    CRegistryKey key(ctx.registry);
    ASSERT_TRUE(key.Open(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\Proxy", false));
    key.SetString("Proxy_2", "1,1,Squid,127.0.0.1,3128,1,bob,p,w");
    ProxyRecord second = LoadProxyRecord(ctx, 2);
    EXPECT_EQ(second.Server, "127.0.0.1");
    EXPECT_EQ(second.Port, 3128);
    EXPECT_EQ(second.Password, "p,w");

    ProxyRecord missing = LoadProxyRecord(ctx, 9);
    EXPECT_EQ(missing.Name, "");
    EXPECT_EQ(missing.Type, 0);
}

}  // namespace
}  // namespace vardane
