#include "gui/window_layout.h"

#include <QByteArray>
#include <QMainWindow>
#include <string>

#include "gui/task_list_view.h"
#include "platform/registry.h"
#include "settings/registry_paths.h"

namespace vardane::gui {
namespace {

constexpr const char* kGeometry = "WindowGeometry";
constexpr const char* kColumns = "TaskColumnWidths";
constexpr const char* kReadable = "ReadableSizes";

std::string Query(Registry& registry, const char* name) {
    RegistryKey key(registry);
    return key.Open(RegRoot::CurrentUser, GroupKeyPath("Window"), false) ? key.QueryString(name)
                                                                         : std::string();
}

}  // namespace

void RestoreWindowLayout(Registry& registry, QMainWindow& window, TaskListView& list) {
    const std::string geometry = Query(registry, kGeometry);
    if (!geometry.empty()) {
        // restoreGeometry checks what it is given and keeps the window on
        // a screen.
        window.restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(geometry)));
    }
    const std::string widths = Query(registry, kColumns);
    if (!widths.empty()) {
        list.RestoreColumnWidths(QString::fromStdString(widths));
    }
    list.SetReadableUnits(StoredReadableUnits(registry));
}

void SaveWindowLayout(Registry& registry, const QMainWindow& window, const TaskListView& list) {
    RegistryKey key(registry);
    key.Open(RegRoot::CurrentUser, GroupKeyPath("Window"), true);
    key.SetString(kGeometry, window.saveGeometry().toBase64().toStdString());
    key.SetString(kColumns, list.ColumnWidthsText().toStdString());
}

bool StoredReadableUnits(Registry& registry) {
    return Query(registry, kReadable) != "0";
}

void StoreReadableUnits(Registry& registry, bool on) {
    RegistryKey key(registry);
    key.Open(RegRoot::CurrentUser, GroupKeyPath("Window"), true);
    key.SetString(kReadable, on ? "1" : "0");
}

}  // namespace vardane::gui
