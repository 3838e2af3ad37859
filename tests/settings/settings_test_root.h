// A temporary data root with small language files, and a dump of both
// settings stores, for the settings tests.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/data_root.h"
#include "platform/registry.h"
#include "platform/utf16.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {

// Writes <root>Lang/<code> as UTF-16LE with BOM and CR LF.
inline void WriteLangFile(const TempDir& dir, const std::string& code,
                          const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    WriteFile(dir / ("Lang/" + code), Utf16LeFileBytes(text));
}

inline DataRoot RootOf(const TempDir& dir) {
    return DataRoot{dir.Path(), dir.Path() + "vardane"};
}

// Every value of both stores as "ROOT\KEY\NAME=VALUE" ("@" names the default
// value), sorted.
inline std::vector<std::string> DumpRegistry(Registry& registry) {
    std::vector<std::string> lines;
    for (auto [root, name] :
         {std::pair{RegRoot::LocalMachine, "HKLM"}, std::pair{RegRoot::CurrentUser, "HKCU"}}) {
        RegistryStore& store = registry.Store(root);
        for (const std::string& key : store.AllKeys()) {
            for (const auto& [value, text] : store.Values(key)) {
                lines.push_back(std::string(name) + "\\" + key + "\\" +
                                (value.empty() ? "@" : value) + "=" + text);
            }
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace vardane::test
