// Command ids of the main window's menus, toolbar, pop-up menus and controls.
// Front ends send them to MainFrame::OnCommand; the menus carry them.
#pragma once

namespace vardane {

enum CommandId : int {
    ID_SEPARATOR = 0,
    ID_EXIT = 32771,
    ID_SETTINGS = 32773,
    ID_NEW = 32774,
    ID_PROPERTIES = 32775,
    ID_DELETE_ALL = 32776,
    ID_STOP_ALL = 32777,
    ID_START_ALL = 32778,
    ID_REDOWNLOAD = 32779,
    ID_DELETE = 32780,
    ID_STOP = 32781,
    ID_START = 32782,
    ID_SELECT_ALL = 32783,
    ID_MOVE_DOWN = 32784,
    ID_MOVE_UP = 32785,
    ID_TB_PROPERTIES = 32786,
    ID_TB_NEW = 32788,
    ID_TB_START = 32790,
    ID_TB_STOP = 32791,
    ID_TB_DELETE = 32792,
    ID_IMPORT = 32820,
    ID_CATEGORY_NEW = 32830,
    ID_CATEGORY_EDIT = 32831,
    ID_CATEGORY_DELETE = 32832,
    ID_OPEN_FILE = 32833,
    ID_OPEN_FOLDER = 32834,
    ID_SITE_EXPLORER = 32844,
    // Controls that send commands.
    ID_SPEEDLIMIT_CHECK = 9000,
    ID_SPEEDLIMIT_SLIDER = 9001,
    ID_FOLDER_BUTTON = 9003,
};

}  // namespace vardane
