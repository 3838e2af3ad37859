// Names from servers never leave the target folder.
#include <gtest/gtest.h>

#include "engine/file_name.h"

namespace vardane {
namespace {

TEST(SanitizeFileName, HostileNamesStayInsideTheFolder) {
    EXPECT_EQ(SanitizeFileName("report.pdf"), "report.pdf");
    EXPECT_EQ(SanitizeFileName("\"report.pdf\""), "report.pdf");
    EXPECT_EQ(SanitizeFileName("../../etc/passwd"), "passwd");
    EXPECT_EQ(SanitizeFileName("..\\..\\win.ini"), "win.ini");
    EXPECT_EQ(SanitizeFileName("/abs/path/x.bin"), "x.bin");
    EXPECT_EQ(SanitizeFileName("a\r\nb\x01.txt"), "ab.txt");
    EXPECT_EQ(SanitizeFileName(".hidden"), "hidden");
    EXPECT_EQ(SanitizeFileName(".."), "");
    EXPECT_EQ(SanitizeFileName("dir/"), "");
    EXPECT_EQ(SanitizeFileName("  . "), "");
    std::string longName(400, 'a');
    std::string cut = SanitizeFileName(longName + ".zip");
    EXPECT_EQ(cut.size(), 255u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".zip");
    // The cut itself may end on a blank or leave only the extension.
    EXPECT_EQ(SanitizeFileName(std::string(254, 'a') + " b"), std::string(254, 'a'));
    EXPECT_EQ(SanitizeFileName(std::string(300, '\x80') + ".exe"), "exe");
}

TEST(ContentDisposition, FileNameForms) {
    EXPECT_TRUE(IsAttachmentDisposition("content-disposition: Attachment; filename=a.pdf"));
    EXPECT_FALSE(IsAttachmentDisposition("Content-Disposition: inline; filename=a.pdf"));
    EXPECT_EQ(DispositionFileName("Content-Disposition: attachment; filename=report.pdf"),
              "report.pdf");
    EXPECT_EQ(DispositionFileName("Content-Disposition: attachment; filename=\"my \\\"x\\\".pdf\"; "
                                  "size=3"),
              "my \"x\".pdf");
    EXPECT_EQ(DispositionFileName("Content-Disposition: attachment; filename=a.txt; "
                                  "filename*=UTF-8''%E2%82%AC%20rates.txt"),
              "\xE2\x82\xAC rates.txt");
    EXPECT_EQ(DispositionFileName("Content-Disposition: attachment"), "");
}

}  // namespace
}  // namespace vardane
