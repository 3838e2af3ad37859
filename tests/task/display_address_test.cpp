#include "task/display_address.h"

#include <gtest/gtest.h>

namespace vardane {
namespace {

// The mask finds the login as the address parser does: before the last '@'
// of the authority, which ends at the first '/'.
TEST(MaskAddressForDisplay, HidesThePasswordHoweverTheLoginIsRead) {
    const std::pair<std::string, std::string> cases[] = {
        {"ftp://u:secret@h:21/a@b.zip", "ftp://u:******@h:21/a@b.zip"},
        {"FTP://u:p@ss@h/x", "FTP://u:******@h/x"},
        {"ftp://u:p/w@h/x", "ftp://u:p/w@h/x"},
        {"https://u:pw@h/a.zip", "https://u:******@h/a.zip"},
        {"ftp://user@h/a.zip", "ftp://user@h/a.zip"},
        {"http://h/a.zip", "http://h/a.zip"},
        {"no address", "no address"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(MaskAddressForDisplay(in), out) << in;
    }
}

// An edit of the masked form keeps the real login as long as the masked
// login itself is left alone.
TEST(UnmaskAddress, PutsTheRealLoginBackOnlyWhereTheMaskStands) {
    const std::string real = "ftp://u:p@ss@h/pub/a.zip";
    EXPECT_EQ(UnmaskAddress("ftp://u:******@h/pub/b.zip", real), "ftp://u:p@ss@h/pub/b.zip");
    EXPECT_EQ(UnmaskAddress("FTP://u:******@h/", real), "ftp://u:p@ss@h/");
    EXPECT_EQ(UnmaskAddress("ftp://v:******@h/pub/a.zip", real), "ftp://v:******@h/pub/a.zip");
    EXPECT_EQ(UnmaskAddress("ftp://u:new@h/pub/a.zip", real), "ftp://u:new@h/pub/a.zip");
    EXPECT_EQ(UnmaskAddress("ftp://u:******@h/x", "ftp://h/x"), "ftp://u:******@h/x");
}

}  // namespace
}  // namespace vardane
