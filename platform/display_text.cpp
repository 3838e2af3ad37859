#include "platform/display_text.h"

#include <algorithm>

#include "platform/text.h"
#include "platform/utf16.h"

namespace vardane {

namespace {

bool IsUnsafe(char32_t cp, bool keepTab) {
    if (cp == U'\t') {
        return !keepTab;
    }
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
           cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string DisplayText(std::string_view text, bool keepTab) {
    // Printable ASCII, what nearly every name is, shows as it is.
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
        return std::string(text);
    }
    // Read as network text first: afterwards every byte is part of a
    // character, so a stray C1 byte is seen as the control it is.
    const std::string wide = AnsiToWide(text);
    std::string out;
    out.reserve(wide.size());
    for (size_t pos = 0; pos < wide.size();) {
        char32_t cp = 0;
        const size_t len = std::max<size_t>(DecodeUtf8Char(wide, pos, cp), 1);
        if (IsUnsafe(cp, keepTab)) {
            out += '?';
        } else {
            out.append(wide, pos, len);
        }
        pos += len;
    }
    return out;
}

}  // namespace vardane
