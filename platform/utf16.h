// Conversion between program text (UTF-8) and the UTF-16 files of the design.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vardane {

inline constexpr std::string_view kUtf16LeBom{"\xFF\xFE", 2};

// Decodes the UTF-8 character at text[pos]: stores it in cp and returns its
// length in bytes, or 0 when the bytes there are not valid UTF-8 (overlong
// forms, surrogates and values past U+10FFFF included). pos < text.size().
size_t DecodeUtf8Char(std::string_view text, size_t pos, char32_t& cp);
// Appends the UTF-8 form of cp; surrogates and invalid values become U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-16 little-endian bytes of text, without byte-order mark.
std::string Utf16LeBytes(std::string_view text);
// Byte-order mark followed by the UTF-16LE bytes of text.
std::string Utf16LeFileBytes(std::string_view text);
// Decodes UTF-16LE bytes (an odd last byte is dropped) to UTF-8.
std::string DecodeUtf16Le(std::string_view bytes);
// The same into out, whose memory is used again (a parser of many files).
void DecodeUtf16LeInto(std::string_view bytes, std::string& out);

}  // namespace vardane
