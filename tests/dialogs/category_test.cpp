// The category tree over a started-up registry: the folder tree, the menu per
// depth, the text path walk and the add, rename and delete commands.
#include <gtest/gtest.h>

#include "dialogs/category_commands.h"
#include "dialogs/category_tree.h"
#include "tests/dialogs/dialog_test_root.h"

namespace vardane {
namespace {

using test::DialogTestRoot;
using test::ScriptedQuestions;

const std::string kDownload = "SOFTWARE\\Vardane\\Categories\\Download";

std::vector<std::string> ChildTexts(const TreeModel& tree, TreeItem item) {
    std::vector<std::string> texts;
    for (TreeItem child : tree.Children(item)) {
        texts.push_back(tree.Text(child));
    }
    return texts;
}

std::string DefaultValue(Registry& registry, const std::string& path) {
    std::string value = "<missing>";
    registry.Store(RegRoot::CurrentUser).QueryValue(path, "", value);
    return value;
}

class CategoryTest : public ::testing::Test {
  protected:
    CategoryTest() { BuildMainFolderTree(TestRegistry(), Lang(), tree); }

    Registry& TestRegistry() { return root.Ctx().registry; }
    const LangTable& Lang() { return root.Ctx().lang; }
    TreeItem Item(const std::string& textPath) { return FindItemByTextPath(tree, textPath); }

    // Commands whose name dialog is answered with `typed` (nullptr: Cancel).
    CategoryCommandEnv Env(const char* typed) {
        return CategoryCommandEnv{TestRegistry(), Lang(), questions, [this, typed](EdtCatDlg& dlg) {
                                      if (typed != nullptr) {
                                          dlg.SetEditText(typed);
                                          dlg.Ok(questions);
                                      }
                                  }};
    }
    bool Add(const std::string& parent, const char* name) {
        CategoryCommandEnv env = Env(name);
        return AddCategory(env, tree, Item(parent));
    }
    bool Rename(const std::string& item, const char* name) {
        CategoryCommandEnv env = Env(name);
        return RenameCategory(env, tree, Item(item));
    }

    DialogTestRoot root;
    ScriptedQuestions questions;
    TreeModel tree;
};

TEST_F(CategoryTest, MainTreeShowsFoldersWithIconsAndSortedCategories) {
    const TreeItem top = tree.Top();
    EXPECT_EQ(tree.Text(top), "Vardane");
    EXPECT_EQ(tree.Icon(top), 0);
    EXPECT_TRUE(tree.IsExpanded(top));
    EXPECT_EQ(ChildTexts(tree, top),
              (std::vector<std::string>{"Downloading", "Completed", "Deleted"}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tree.Icon(tree.Children(top)[i]), i + 1);
    }
    const std::vector<std::string> defaults = {"eBook", "Music", "Others", "Software", "Video"};
    EXPECT_EQ(ChildTexts(tree, Item("Downloading")), defaults);
    EXPECT_EQ(ChildTexts(tree, Item("Completed")), defaults);
    EXPECT_TRUE(tree.Children(Item("Deleted")).empty());
    // A category never carries a folder icon, so the view is found by icon.
    EXPECT_EQ(tree.Icon(Item("Completed\\Music")), kCategoryIcon);
}

TEST_F(CategoryTest, TextPathsResolveToKeysAndBack) {
    EXPECT_EQ(GetItemTextPath(tree, Item("Downloading\\Music")).Path, "Downloading\\Music");
    EXPECT_EQ(GetItemTextPath(tree, Item("Downloading\\Music")).Depth, 3);
    EXPECT_EQ(GetItemTextPath(tree, tree.Top()).Depth, 1);
    EXPECT_EQ(TextPathToKeyPath(TestRegistry(), "downloading\\MUSIC"), kDownload + "\\Music");
    EXPECT_EQ(TextPathToKeyPath(TestRegistry(), "Completed\\Software"),
              "SOFTWARE\\Vardane\\Categories\\Downloaded\\Software");
    // A component that matches nothing is skipped.
    EXPECT_EQ(TextPathToKeyPath(TestRegistry(), "Downloading\\Nope\\Video"), kDownload + "\\Video");
    EXPECT_FALSE(ResolveTextPath(TestRegistry(), "Downloading\\Nope\\Video"));

    // Two siblings whose values are equal ignoring case: the first enumerated.
    RegistryStore& hkcu = TestRegistry().Store(RegRoot::CurrentUser);
    hkcu.CreateKey(kDownload + "\\Zeta");
    hkcu.SetValue(kDownload + "\\Zeta", "", "Same");
    hkcu.CreateKey(kDownload + "\\Alpha");
    hkcu.SetValue(kDownload + "\\Alpha", "", "SAME");
    EXPECT_EQ(TextPathToKeyPath(TestRegistry(), "Downloading\\same"), kDownload + "\\Alpha");
    EXPECT_EQ(FindCategoryItem(TestRegistry(), tree, kDownload + "\\music"),
              Item("Downloading\\Music"));
}

TEST_F(CategoryTest, AddAndRenameRefuseDuplicatesIgnoringCase) {
    EXPECT_FALSE(Add("Downloading", "  music "));
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].Text, "'music' already exists.");
    EXPECT_EQ(questions.asked[0].Caption, "Vardane");
    EXPECT_EQ(questions.asked[0].Icon, QuestionIcon::Error);

    // Rename keeps the key, changes its value; the new name is then taken.
    EXPECT_TRUE(Rename("Downloading\\Music", "Tunes"));
    EXPECT_EQ(DefaultValue(TestRegistry(), kDownload + "\\Music"), "Tunes");
    EXPECT_EQ(ChildTexts(tree, Item("Downloading")),
              (std::vector<std::string>{"eBook", "Others", "Software", "Tunes", "Video"}));
    EXPECT_FALSE(Add("Downloading", "TUNES"));
    EXPECT_FALSE(Rename("Downloading\\Tunes", "VIDEO"));
    EXPECT_EQ(questions.asked.size(), 3u);
    EXPECT_TRUE(Rename("Downloading\\Tunes", "tunes"));   // itself is no duplicate
    EXPECT_FALSE(Rename("Downloading\\tunes", nullptr));  // cancel
    EXPECT_EQ(DefaultValue(TestRegistry(), kDownload + "\\Music"), "tunes");

    // The old name is free again, but its key still holds the renamed
    // category: the new one gets a key of its own.
    EXPECT_TRUE(Add("Downloading", "Music"));
    EXPECT_EQ(DefaultValue(TestRegistry(), kDownload + "\\Music"), "tunes");
    EXPECT_EQ(DefaultValue(TestRegistry(), kDownload + "\\Music (2)"), "Music");
    EXPECT_TRUE(Add("Completed\\Video", "Clips"));
    EXPECT_EQ(
        DefaultValue(TestRegistry(), "SOFTWARE\\Vardane\\Categories\\Downloaded\\Video\\Clips"),
        "Clips");
    EXPECT_TRUE(tree.IsExpanded(Item("Completed\\Video")));

    // A fresh tree from the registry shows the same.
    TreeModel fresh;
    BuildMainFolderTree(TestRegistry(), Lang(), fresh);
    EXPECT_EQ(ChildTexts(fresh, FindItemByTextPath(fresh, "Downloading")),
              (std::vector<std::string>{"eBook", "Music", "Others", "Software", "tunes", "Video"}));
}

TEST_F(CategoryTest, NameDialogTrimsAndRefusesBlankNames) {
    EdtCatDlg dialog(Lang(), "Old");
    EXPECT_EQ(dialog.EditText(), "Old");
    EXPECT_EQ(dialog.Label(), "Name");
    dialog.SetEditText("   ");
    EXPECT_FALSE(dialog.Ok(questions));
    dialog.SetEditText("a\\b");
    EXPECT_FALSE(dialog.Ok(questions));
    ASSERT_EQ(questions.asked.size(), 2u);
    EXPECT_EQ(questions.asked[0].Text, "Please enter a category name.");
    EXPECT_EQ(questions.asked[0].FocusField, EdtCatDlg::kFieldName);
    EXPECT_FALSE(dialog.Accepted());
    dialog.SetEditText("\t Jazz \xE3\x80\x80");
    EXPECT_TRUE(dialog.Ok(questions));
    EXPECT_EQ(dialog.Name(), "Jazz");
}

TEST_F(CategoryTest, DeleteRemovesTheWholeSubTreeAfterYes) {
    ASSERT_TRUE(Add("Downloading\\Music", "Jazz"));
    ASSERT_TRUE(Add("Downloading\\Music\\Jazz", "Bebop"));
    CategoryCommandEnv env = Env(nullptr);

    questions.answers = {QuestionAnswer::No};
    EXPECT_FALSE(DeleteCategory(env, tree, Item("Downloading\\Music")));
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].Text, "Delete the category 'Music' and all categories below it?");
    EXPECT_EQ(questions.asked[0].Buttons, QuestionButtons::YesNo);
    EXPECT_EQ(questions.asked[0].Icon, QuestionIcon::Question);
    EXPECT_NE(Item("Downloading\\Music\\Jazz\\Bebop"), kNoItem);

    questions.answers = {QuestionAnswer::Yes};
    EXPECT_TRUE(DeleteCategory(env, tree, Item("Downloading\\Music")));
    EXPECT_EQ(Item("Downloading\\Music"), kNoItem);
    RegistryStore& hkcu = TestRegistry().Store(RegRoot::CurrentUser);
    EXPECT_FALSE(hkcu.KeyExists(kDownload + "\\Music"));
    EXPECT_FALSE(hkcu.KeyExists(kDownload + "\\Music\\Jazz\\Bebop"));
    EXPECT_TRUE(hkcu.KeyExists(kDownload + "\\Video"));
    EXPECT_TRUE(hkcu.KeyExists("SOFTWARE\\Vardane\\Categories\\Downloaded\\Music"));
}

TEST_F(CategoryTest, AnItemThatNoLongerLeadsToItsKeyIsLeftAlone) {
    // Renamed behind the tree's back: the item's texts match no key, and the
    // walk would stop at the folder. Nothing may be deleted or renamed there.
    TestRegistry().Store(RegRoot::CurrentUser).SetValue(kDownload + "\\Video", "", "Films");
    questions.answers = {QuestionAnswer::Yes};
    CategoryCommandEnv env = Env("Clips");
    EXPECT_FALSE(DeleteCategory(env, tree, Item("Downloading\\Video")));
    EXPECT_FALSE(RenameCategory(env, tree, Item("Downloading\\Video")));
    EXPECT_FALSE(AddCategory(env, tree, Item("Downloading\\Video")));
    EXPECT_TRUE(TestRegistry().Store(RegRoot::CurrentUser).KeyExists(kDownload + "\\Music"));
    EXPECT_EQ(DefaultValue(TestRegistry(), kDownload), "Downloading");
    EXPECT_FALSE(TestRegistry().Store(RegRoot::CurrentUser).KeyExists(kDownload + "\\Clips"));
}

}  // namespace
}  // namespace vardane
