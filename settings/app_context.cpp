#include "settings/app_context.h"

#include <utility>

namespace vardane {

CAppContext::CAppContext(DataRoot dataRoot)
    : root(std::move(dataRoot)), registry(root.AppDir), lang(LanguageFolders(root), "") {
    settings.AppDir = root.AppDir;
    settings.AppPath = root.AppPath;
}

}  // namespace vardane
