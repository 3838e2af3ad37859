// The main window's menus, toolbar and pop-up menus as data: lists of
// (localized text, command id). A separator has an empty text and id 0.
#pragma once

#include <string>
#include <vector>

#include "dialogs/menu_entry.h"

namespace vardane {

class LangTable;

// The three views of the task list, also the index of their folder node.
enum class TaskView { Downloading = 0, Completed = 1, Deleted = 2 };

struct ToolbarButton {
    int Command = 0;  // 0: separator
    int Image = -1;
};

std::vector<MenuEntry> BuildFileMenu(const LangTable& lang);
std::vector<MenuEntry> BuildControlMenu(TaskView view, const LangTable& lang);
// Task list pop-up: a copy of the Control menu of the view, item by item.
std::vector<MenuEntry> BuildTaskPopupMenu(TaskView view, const LangTable& lang);
std::vector<ToolbarButton> ToolbarButtons();

}  // namespace vardane
