// One item of a menu as window models hand it to a front end.
#pragma once

#include <string>

namespace vardane {

struct MenuEntry {
    std::string Text;   // localized; empty for a separator
    int CommandId = 0;  // 0 for a separator
};

}  // namespace vardane
