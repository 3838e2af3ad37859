#include "app/menus.h"

#include "app/command_ids.h"
#include "lang/lang_table.h"

namespace vardane {

namespace {

struct KeyedItem {
    const char* Key;  // nullptr: separator
    int Command;
};

std::vector<MenuEntry> Localize(std::initializer_list<KeyedItem> items, const LangTable& lang) {
    std::vector<MenuEntry> menu;
    for (const KeyedItem& item : items) {
        if (item.Key == nullptr) {
            menu.push_back(MenuEntry{});
        } else {
            menu.push_back(MenuEntry{lang.GetLangText(item.Key), item.Command});
        }
    }
    return menu;
}

}  // namespace

std::vector<MenuEntry> BuildFileMenu(const LangTable& lang) {
    return Localize({{"Menu_Main_New", ID_NEW},
                     {"Menu_Main_Import", ID_IMPORT},
                     {"Menu_Main_Site", ID_SITE_EXPLORER},
                     {nullptr, 0},
                     {"Menu_Main_Setting", ID_SETTINGS},
                     {"Menu_Main_Exit", ID_EXIT}},
                    lang);
}

std::vector<MenuEntry> BuildControlMenu(TaskView view, const LangTable& lang) {
    if (view == TaskView::Downloading) {
        return Localize({{"Menu_Main_SelectAll", ID_SELECT_ALL},
                         {nullptr, 0},
                         {"Menu_Main_Start", ID_START},
                         {"Menu_Main_Stop", ID_STOP},
                         {"Menu_Main_Delete", ID_DELETE},
                         {nullptr, 0},
                         {"Menu_Main_StartAll", ID_START_ALL},
                         {"Menu_Main_StopAll", ID_STOP_ALL},
                         {"Menu_Main_DeleteAll", ID_DELETE_ALL},
                         {nullptr, 0},
                         {"Menu_Main_Properties", ID_PROPERTIES}},
                        lang);
    }
    return Localize({{"Menu_Main_OpenFile", ID_OPEN_FILE},
                     {"Menu_Main_OpenFolder", ID_OPEN_FOLDER},
                     {nullptr, 0},
                     {"Menu_Main_SelectAll", ID_SELECT_ALL},
                     {"Menu_Main_DeleteAll", ID_DELETE_ALL},
                     {"Menu_Main_ReDownload", ID_REDOWNLOAD},
                     {nullptr, 0},
                     {"Menu_Main_Properties", ID_PROPERTIES}},
                    lang);
}

std::vector<MenuEntry> BuildTaskPopupMenu(TaskView view, const LangTable& lang) {
    std::vector<MenuEntry> popup;
    for (const MenuEntry& item : BuildControlMenu(view, lang)) {
        // An item whose text is empty becomes a separator, whatever its id.
        popup.push_back(item.Text.empty() ? MenuEntry{} : item);
    }
    return popup;
}

std::vector<ToolbarButton> ToolbarButtons() {
    return {{ID_TB_NEW, 9},
            {0, -1},
            {ID_TB_START, 10},
            {ID_TB_STOP, 11},
            {ID_TB_DELETE, 12},
            {0, -1},
            {ID_MOVE_DOWN, 13},
            {ID_MOVE_UP, 14},
            {0, -1},
            {ID_TB_PROPERTIES, 15}};
}

}  // namespace vardane
