// What the window looked like when it was last closed (its place and size,
// the widths of the task list's columns, the units it showed), kept in the
// settings store under SOFTWARE\Vardane\Window.
#pragma once

namespace vardane {
class Registry;
}

class QMainWindow;

namespace vardane::gui {

class TaskListView;

// A value that is missing or does not fit leaves that part as it is.
void RestoreWindowLayout(Registry& registry, QMainWindow& window, TaskListView& list);
void SaveWindowLayout(Registry& registry, const QMainWindow& window, const TaskListView& list);
// Readable units (true, the default) or the list's own bytes and KB/s.
bool StoredReadableUnits(Registry& registry);
void StoreReadableUnits(Registry& registry, bool on);

}  // namespace vardane::gui
