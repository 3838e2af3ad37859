#include "platform/utf16.h"

namespace vardane {

namespace {

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

char16_t LittleEndianUnit(std::string_view bytes, size_t i) {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
}

// The UTF-8 of count UTF-16 units, unit(i) giving each; a lone surrogate
// becomes U+FFFD. Writes to out (room for three bytes a unit, the most a
// unit takes: a pair takes four) and returns the length. One pass without a
// string of units between: the load of 100,000 progress files spent a
// quarter of its time converting.
template <typename UnitAt>
size_t ConvertUtf16(size_t count, UnitAt unit, char* out) {
    size_t length = 0;
    const auto put = [&](char byte) { out[length++] = byte; };
    for (size_t i = 0; i < count; ++i) {
        char32_t cp = unit(i);
        if (cp < 0x80) {
            put(static_cast<char>(cp));
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x800) {
            put(static_cast<char>(0xC0 | (cp >> 6)));
        } else if (cp < 0x10000) {
            put(static_cast<char>(0xE0 | (cp >> 12)));
            put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        } else {
            put(static_cast<char>(0xF0 | (cp >> 18)));
            put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        }
        put(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    return length;
}

}  // namespace

size_t DecodeUtf8Char(std::string_view text, size_t pos, char32_t& cp) {
    const auto at = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const size_t left = text.size() - pos;
    const unsigned char lead = at(0);
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    size_t len = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        len = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        len = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        len = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;  // stray continuation byte or a lead that UTF-8 never uses
    }
    if (left < len) {
        return 0;
    }
    for (size_t i = 1; i < len; ++i) {
        if (!IsContinuation(at(i))) {
            return 0;
        }
        value = (value << 6) | (at(i) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    cp = value;
    return len;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0xFFFD;
        const size_t len = DecodeUtf8Char(text, pos, cp);
        pos += len == 0 ? 1 : len;
        if (len == 0) {
            cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out(text.size() * 3, '\0');
    out.resize(ConvertUtf16(
        text.size(), [text](size_t i) { return text[i]; }, out.data()));
    return out;
}

std::string Utf16LeBytes(std::string_view text) {
    const std::u16string units = Utf8ToUtf16(text);
    std::string out;
    out.reserve(units.size() * 2);
    for (char16_t u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

std::string Utf16LeFileBytes(std::string_view text) {
    std::string out(kUtf16LeBom);
    out += Utf16LeBytes(text);
    return out;
}

void DecodeUtf16LeInto(std::string_view bytes, std::string& out) {
    const size_t count = bytes.size() / 2;
    out.resize(count * 3);
    // Runs of ASCII, what the program's own files hold, go eight units at a
    // time: a tenth of the instructions of a unit at a time.
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t ascii = 0;
    for (; ascii + 8 <= count; ascii += 8) {
        const unsigned char* group = in + 2 * ascii;
        unsigned high = 0;
        unsigned low = 0;
        for (size_t k = 0; k < 8; ++k) {
            low |= group[2 * k];
            high |= group[2 * k + 1];
        }
        if (high != 0 || low >= 0x80) {
            break;
        }
        for (size_t k = 0; k < 8; ++k) {
            out[ascii + k] = static_cast<char>(group[2 * k]);
        }
    }
    const std::string_view rest = bytes.substr(2 * ascii);
    out.resize(ascii + ConvertUtf16(
                           count - ascii, [rest](size_t i) { return LittleEndianUnit(rest, i); },
                           out.data() + ascii));
}

std::string DecodeUtf16Le(std::string_view bytes) {
    std::string out;
    DecodeUtf16LeInto(bytes, out);
    return out;
}

}  // namespace vardane
