// An import of a text file of addresses that runs in steps, so that a front
// end goes on serving its window or its other commands between them.
#pragma once

#include <string>
#include <vector>

#include "platform/line_reader.h"

namespace vardane {

struct ImportRun {
    TextLineReader reader;
    std::string folder;  // the download folder every task gets
    bool startImmediately = false;
    std::vector<std::string> added;  // tasks written so far, not yet listed
    bool done = false;
};

}  // namespace vardane
