#include "dialogs/category_commands.h"

#include <optional>

#include "dialogs/category_tree.h"
#include "dialogs/message_box.h"
#include "platform/text.h"

namespace vardane {

namespace {

// Runs the name dialog; nothing on cancel.
std::optional<std::string> AskName(CategoryCommandEnv& env, const std::string& initial) {
    EdtCatDlg dialog(env.lang, initial);
    if (env.runNameDialog) {
        env.runNameDialog(dialog);
    }
    if (!dialog.Accepted()) {
        return std::nullopt;
    }
    return dialog.Name();
}

// True (after the message) when a child of parent other than except is
// called name, ignoring case.
bool RefuseDuplicate(CategoryCommandEnv& env, const TreeModel& tree, TreeItem parent,
                     TreeItem except, const std::string& name) {
    for (TreeItem child : tree.Children(parent)) {
        if (child != except && EqualsNoCase(tree.Text(child), name)) {
            ShowMessage(env.questions, env.lang,
                        "'" + name + "' " + env.lang.GetLangText("Msg_CatExists"),
                        QuestionIcon::Error);
            return true;
        }
    }
    return false;
}

bool KeyExists(Registry& registry, const std::string& path) {
    RegistryKey key(registry);
    return key.Open(RegRoot::CurrentUser, path, false);
}

// parentKey + '\' + name, or, when a renamed category still holds that key
// name, the first free name + " (2)", " (3)" ...: the old key must not be
// taken over by the new category.
std::string FreeKeyPath(Registry& registry, const std::string& parentKey, const std::string& name) {
    std::string path = parentKey + "\\" + name;
    for (int n = 2; KeyExists(registry, path); ++n) {
        path = parentKey + "\\" + name + " (" + IntToText(n) + ")";
    }
    return path;
}

// The key of item, when every text on its path still names a key.
std::optional<std::string> ItemKey(CategoryCommandEnv& env, const TreeModel& tree, TreeItem item) {
    if (!tree.Exists(item)) {
        return std::nullopt;
    }
    return ResolveTextPath(env.registry, GetItemTextPath(tree, item).Path);
}

}  // namespace

bool AddCategory(CategoryCommandEnv& env, TreeModel& tree, TreeItem parent) {
    const std::optional<std::string> parentKey = ItemKey(env, tree, parent);
    if (!parentKey) {
        return false;
    }
    const std::optional<std::string> name = AskName(env, "");
    if (!name || RefuseDuplicate(env, tree, parent, kNoItem, *name)) {
        return false;
    }
    RegistryKey key(env.registry);
    key.Open(RegRoot::CurrentUser, FreeKeyPath(env.registry, *parentKey, *name), true);
    key.SetDefault(*name);
    tree.Insert(parent, *name, kCategoryIcon, true);
    tree.SortChildren(parent);
    tree.Expand(parent);
    return true;
}

bool RenameCategory(CategoryCommandEnv& env, TreeModel& tree, TreeItem item) {
    const std::optional<std::string> keyPath = ItemKey(env, tree, item);
    if (!keyPath || *keyPath == kCategoriesKey) {
        return false;
    }
    const std::optional<std::string> name = AskName(env, tree.Text(item));
    const TreeItem parent = tree.Parent(item);
    if (!name || RefuseDuplicate(env, tree, parent, item, *name)) {
        return false;
    }
    RegistryKey key(env.registry);
    key.Open(RegRoot::CurrentUser, *keyPath, true);
    key.SetDefault(*name);
    tree.SetText(item, *name);
    tree.SortChildren(parent);
    tree.Expand(parent);
    return true;
}

bool DeleteCategory(CategoryCommandEnv& env, TreeModel& tree, TreeItem item) {
    if (!tree.Exists(item)) {
        return false;
    }
    const std::string text = env.lang.GetLangText("Msg_DelCatConfirm1") + " '" + tree.Text(item) +
                             "' " + env.lang.GetLangText("Msg_DelCatConfirm2");
    if (ShowMessage(env.questions, env.lang, text, QuestionIcon::Question, QuestionButtons::YesNo,
                    QuestionAnswer::Yes) == QuestionAnswer::No) {
        return false;
    }
    // Never the whole category root, and never a shorter path than the item's.
    const std::optional<std::string> keyPath = ItemKey(env, tree, item);
    if (!keyPath || *keyPath == kCategoriesKey) {
        return false;
    }
    RegistryKey::DeleteKey(env.registry, RegRoot::CurrentUser, *keyPath);
    tree.Delete(item);
    return true;
}

}  // namespace vardane
