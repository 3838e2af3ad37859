// Text that came from a server, a file or another process, made safe to put
// on a terminal or into a window: such text must not move the cursor, set a
// window title, clear the screen or turn the rest of a line around.
#pragma once

#include <string>
#include <string_view>

namespace vardane {

// Bytes that are not part of valid UTF-8 are read as Latin-1 (as network text
// is), so a lone 0x9B is the C1 control it stands for; then every control
// character (C0 but tab, DEL, C1) and every bidirectional formatting control
// (U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069) becomes '?'. With
// keepTab false a tab becomes '?' too (one field of a tab-separated line).
// The result is valid UTF-8.
std::string DisplayText(std::string_view text, bool keepTab = true);

}  // namespace vardane
