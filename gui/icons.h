// The shared image list (tree, task list, toolbar, log) as Qt icons, drawn
// as simple vector shapes so that no image files need shipping.
#pragma once

#include <QIcon>

namespace vardane::gui {

// The icon of an image index of the shared list (app/task_rows.h Image,
// 9..15 the toolbar buttons); a blank icon for an unknown index.
QIcon ImageIcon(int image);
// The program's icon.
QIcon ProgramIcon();

}  // namespace vardane::gui
