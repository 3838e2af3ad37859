// The folder browser over a temporary folder tree: filter rules, lazy reading
// and the paths it returns.
#include <gtest/gtest.h>

#include "dialogs/browse_dialog.h"
#include "tests/support/temp_dir.h"

namespace vardane {
namespace {

using test::TempDir;

class BrowseDialogTest : public ::testing::Test {
  protected:
    BrowseDialogTest() {
        for (const char* folder : {"beta", "Alpha", "gamma/inner"}) {
            dir.MakeDir(folder);
        }
        for (const char* file : {"b.wav", "A.WAV", "song.b.wav", "notes.txt", "plain", ".wav"}) {
            test::WriteFile(dir / file, "x");
        }
    }

    std::vector<std::string> Children(const BrowseDlg& dlg, TreeItem item) {
        std::vector<std::string> texts;
        for (TreeItem child : dlg.Tree().Children(item)) {
            texts.push_back(dlg.Tree().Text(child) + "#" + std::to_string(dlg.Tree().Icon(child)));
        }
        return texts;
    }

    TempDir dir{"vardane-browse"};
    LangTable lang;  // no language file: every label is empty
};

TEST_F(BrowseDialogTest, FilterListsFoldersThenMatchingFiles) {
    BrowseDlg dlg(lang, "*.wav;");
    EXPECT_EQ(dlg.Caption(), " *.wav;");
    const TreeItem item = dlg.ExpandToPath(dir.Path());
    EXPECT_EQ(dlg.PathOf(item), dir.Path());
    // Extensions start at the first dot: song.b.wav has ".b.wav"; ".wav" has
    // no name but the extension ".wav".
    EXPECT_EQ(Children(dlg, item), (std::vector<std::string>{"Alpha#1", "beta#1", "gamma#1",
                                                             ".wav#3", "A.WAV#3", "b.wav#3"}));
    const TreeItem file = dlg.Tree().Children(item)[4];
    dlg.Select(file);
    dlg.Ok();
    EXPECT_EQ(dlg.Result(), dir.Path() + "A.WAV");
}

TEST_F(BrowseDialogTest, EmptyFilterListsFoldersOnlyAndFolderPathsEndWithSlash) {
    BrowseDlg dlg(lang, "");
    EXPECT_EQ(dlg.Tree().Text(dlg.RootItem()), "/");
    const TreeItem item = dlg.ExpandToPath(dir.Path() + "gamma/inner");
    EXPECT_EQ(dlg.Tree().Text(item), "inner");
    EXPECT_EQ(Children(dlg, dlg.Tree().Parent(item)), (std::vector<std::string>{"inner#2"}));
    EXPECT_EQ(Children(dlg, dlg.Tree().Parent(dlg.Tree().Parent(item))),
              (std::vector<std::string>{"Alpha#1", "beta#1", "gamma#2"}));
    dlg.Ok();
    EXPECT_EQ(dlg.Result(), dir.Path() + "gamma/inner/");

    dlg.Select(dlg.RootItem());
    dlg.Ok();
    EXPECT_EQ(dlg.Result(), "/");
    dlg.Cancel();
    EXPECT_EQ(dlg.Result(), "");
}

TEST_F(BrowseDialogTest, FoldersAreReadOnceWhenFirstExpanded) {
    BrowseDlg dlg(lang, "");
    const TreeItem item = dlg.ExpandToPath(dir.Path());
    const TreeItem beta = dlg.Tree().Children(item)[1];
    // Unread: one placeholder child, closed folder icon.
    EXPECT_EQ(Children(dlg, beta), (std::vector<std::string>{std::string(".\\//") + "#1"}));
    dir.MakeDir("beta/one");
    dlg.OnItemExpanding(beta, true);
    EXPECT_EQ(dlg.Tree().Icon(beta), BrowseDlg::kIconOpenFolder);
    EXPECT_EQ(Children(dlg, beta), (std::vector<std::string>{"one#1"}));

    dir.MakeDir("beta/two");
    dlg.OnItemExpanding(beta, false);
    EXPECT_EQ(dlg.Tree().Icon(beta), BrowseDlg::kIconFolder);
    EXPECT_FALSE(dlg.Tree().IsExpanded(beta));
    dlg.OnItemExpanding(beta, true);
    EXPECT_TRUE(dlg.Tree().IsExpanded(beta));
    EXPECT_EQ(Children(dlg, beta), (std::vector<std::string>{"one#1"}));
}

TEST_F(BrowseDialogTest, BrowseForPathReturnsNothingWhenCancelled) {
    EXPECT_EQ(BrowseForPath(lang, "", [](BrowseDlg& dlg) { dlg.Cancel(); }), "");
    const std::string chosen = BrowseForPath(lang, "", [&](BrowseDlg& dlg) {
        dlg.ExpandToPath(dir.Path() + "beta");
        dlg.Ok();
    });
    EXPECT_EQ(chosen, dir.Path() + "beta/");
}

}  // namespace
}  // namespace vardane
