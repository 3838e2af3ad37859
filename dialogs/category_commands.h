// The category commands of the folder tree's pop-up menu: add, rename and
// delete, each on the item under the tap point, changing the tree and the
// registry together.
#pragma once

#include "dialogs/edit_category_dialog.h"
#include "dialogs/question.h"
#include "dialogs/tree_model.h"
#include "lang/lang_table.h"
#include "platform/registry.h"

namespace vardane {

// What the category commands work with.
struct CategoryCommandEnv {
    Registry& registry;
    const LangTable& lang;
    IQuestions& questions;
    RunCategoryNameDialog runNameDialog;
};

// Each returns true when the tree and the registry changed. A duplicate name
// (ignoring case, among the siblings) is refused with Msg_CatExists; an item
// whose texts no longer lead to its key is left alone.
bool AddCategory(CategoryCommandEnv& env, TreeModel& tree, TreeItem parent);
bool RenameCategory(CategoryCommandEnv& env, TreeModel& tree, TreeItem item);
// Asks Msg_DelCatConfirm1/2 first; deletes the key with every sub-key.
bool DeleteCategory(CategoryCommandEnv& env, TreeModel& tree, TreeItem item);

}  // namespace vardane
