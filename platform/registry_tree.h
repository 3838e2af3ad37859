// The in-memory tree of one settings store and its text form. Internal to
// the store (registry.cpp); exposed for its tests.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vardane {

// One key. Maps are indexed by the ASCII-lowercased name, which gives the
// case-insensitive order; the stored name keeps its creation case.
struct RegNode {
    std::string name;
    std::map<std::string, std::unique_ptr<RegNode>> children;
    std::map<std::string, std::pair<std::string, std::string>> values;  // "" = default value
};

// Components of a key path joined by '\'. Empty when the path is invalid:
// empty, an empty component, or a line break in a name (it could not be
// stored).
std::optional<std::vector<std::string_view>> SplitKeyPath(std::string_view path);

// Parses the text of a store file into root (which must be empty). False
// when any line is malformed; root is then left empty.
bool ParseRegistryText(std::string_view text, RegNode& root);
std::string FormatRegistryText(const RegNode& root);

}  // namespace vardane
