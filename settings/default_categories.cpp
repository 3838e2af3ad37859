#include "settings/default_categories.h"

#include <string>

#include "platform/registry.h"
#include "settings/app_context.h"
#include "settings/registry_paths.h"

namespace vardane {

namespace {

struct CategoryName {
    const char* key;
    const char* langKey;
};

// Sub-categories of a new Download or Downloaded folder key, in creation order.
constexpr CategoryName kDefaultSubCategories[] = {
    {"Music", "MainDlg_Folder_Music"},   {"Video", "MainDlg_Folder_Video"},
    {"Software", "MainDlg_Folder_Soft"}, {"eBook", "MainDlg_Folder_eBook"},
    {"Others", "MainDlg_Folder_Others"},
};

std::string CategoryPath(std::string_view parent, std::string_view name) {
    std::string path(parent);
    path += '\\';
    path += name;
    return path;
}

// A missing folder key is made with its default sub-categories; an existing
// one only gets its name in the current language.
void BuildFolderKey(AppContext& ctx, const CategoryName& folder) {
    std::string path = CategoryPath(kCategoriesKey, folder.key);
    RegistryKey key(ctx.registry);
    bool existed = key.Open(RegRoot::CurrentUser, path, false);
    if (!existed) {
        key.Open(RegRoot::CurrentUser, path, true);
    }
    key.SetDefault(ctx.lang.GetLangText(folder.langKey));
    if (existed) {
        return;
    }
    for (const CategoryName& sub : kDefaultSubCategories) {
        RegistryKey subKey(ctx.registry);
        subKey.Open(RegRoot::CurrentUser, CategoryPath(path, sub.key), true);
        subKey.SetDefault(ctx.lang.GetLangText(sub.langKey));
    }
}

}  // namespace

void BuildDefaultCategories(AppContext& ctx) {
    BuildFolderKey(ctx, {"Download", "MainDlg_Folder_Downloading"});
    BuildFolderKey(ctx, {"Downloaded", "MainDlg_Folder_Completed"});
    RegistryKey deleted(ctx.registry);
    deleted.Open(RegRoot::CurrentUser, CategoryPath(kCategoriesKey, "Deleted"), true);
    deleted.SetDefault(ctx.lang.GetLangText("MainDlg_Folder_Deleted"));
}

}  // namespace vardane
