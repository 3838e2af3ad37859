// Conversion between program text (UTF-8) and the UTF-16 files of the design.
#pragma once

#include <string>
#include <string_view>

namespace vardane {

inline constexpr std::string_view kUtf16LeBom{"\xFF\xFE", 2};

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-16 little-endian bytes of text, without byte-order mark.
std::string Utf16LeBytes(std::string_view text);
// Byte-order mark followed by the UTF-16LE bytes of text.
std::string Utf16LeFileBytes(std::string_view text);
// Decodes UTF-16LE bytes (an odd last byte is dropped) to UTF-8.
std::string DecodeUtf16Le(std::string_view bytes);

}  // namespace vardane
