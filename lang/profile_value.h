// Reading one value of an INI-style section from a UTF-16LE file.
#pragma once

#include <string>
#include <string_view>

namespace vardane {

// Value of "key=" in "[section]" of a UTF-16LE file (a leading byte-order
// mark is skipped): the header must be followed by CR LF; the first "key="
// behind it counts, even in a later section; the value ends at the next
// CR LF. Returns defaultValue when section or key is empty, the file cannot
// be read, or any of these is not found.
std::string GetProfileValue(const std::string& path, std::string_view section, std::string_view key,
                            std::string_view defaultValue);

}  // namespace vardane
