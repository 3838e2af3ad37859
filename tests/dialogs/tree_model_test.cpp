// Handles a front end keeps must never come to name another item.
#include <gtest/gtest.h>

#include "dialogs/tree_model.h"

namespace vardane {
namespace {

TEST(TreeModelTest, HandlesOfDeletedOrClearedItemsStayInvalid) {
    TreeModel tree;
    const TreeItem top = tree.Insert(kNoItem, "top", 0);
    const TreeItem b = tree.Insert(top, "b", 1, true);
    const TreeItem a = tree.Insert(top, "A", 1, true);
    const TreeItem a2 = tree.Insert(top, "a", 1, true);  // after the equal one
    EXPECT_EQ(tree.Children(top), (std::vector<TreeItem>{a, a2, b}));
    const TreeItem leaf = tree.Insert(a, "leaf", 1);
    tree.Select(leaf);

    tree.Delete(a);
    EXPECT_FALSE(tree.Exists(leaf));
    EXPECT_EQ(tree.Selected(), kNoItem);
    EXPECT_EQ(tree.Children(top), (std::vector<TreeItem>{a2, b}));

    tree.Clear();
    EXPECT_FALSE(tree.Exists(top));
    const TreeItem fresh = tree.Insert(kNoItem, "fresh", 0);
    for (TreeItem old : {top, a, a2, b, leaf}) {
        EXPECT_NE(fresh, old);
        EXPECT_FALSE(tree.Exists(old));
        EXPECT_EQ(tree.Insert(old, "orphan", 0), kNoItem);
    }
    EXPECT_EQ(tree.Depth(fresh), 1);
    EXPECT_EQ(tree.AllItems(), (std::vector<TreeItem>{fresh}));
}

}  // namespace
}  // namespace vardane
