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
    EXPECT_EQ(cut.size(), kMaxLocalNameBytes);  // its temporary name must fit too
    EXPECT_EQ(cut.substr(cut.size() - 4), ".zip");
    // Bytes that are not UTF-8 would be written raw into the name.
    EXPECT_EQ(SanitizeFileName("a\xff\xfe.txt"), "a\xEF\xBF\xBD\xEF\xBF\xBD.txt");
}

TEST(FitFileName, CutsBeforeTheExtensionNeverInsideACharacter) {
    EXPECT_EQ(FitFileName("a.tar.gz", "(1)", 255), "a(1).tar.gz");
    EXPECT_EQ(FitFileName("abcdef.zip", "(2)", 10), "abc(2).zip");
    std::string euro = "\xE2\x82\xAC";  // three bytes
    EXPECT_EQ(FitFileName(euro + euro + ".z", "", 6), euro + ".z");
    std::string longExt = "x." + std::string(100, 'e');
    EXPECT_EQ(FitFileName(longExt, "", 10).size(), 10u);
    // The cut itself may end on a blank, or leave a hidden file.
    std::string blank(kMaxLocalNameBytes - 1, 'a');
    EXPECT_EQ(SanitizeFileName(blank + " bc"), blank);
    std::string hidden = SanitizeFileName(std::string(300, '\x80') + ".exe");
    EXPECT_NE(hidden.front(), '.');
    EXPECT_EQ(hidden.substr(hidden.size() - 4), ".exe");
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
    EXPECT_EQ(SanitizeFileName(DispositionFileName(
                  "Content-Disposition: attachment; filename*=UTF-8''bad%FF%C0name.txt")),
              "bad\xEF\xBF\xBD\xEF\xBF\xBDname.txt");
    EXPECT_EQ(DispositionFileName("Content-Disposition: attachment"), "");
}

}  // namespace
}  // namespace vardane
