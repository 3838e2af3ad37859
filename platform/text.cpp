#include "platform/text.h"

#include <cstring>
#include <limits>

#include "platform/utf16.h"

namespace vardane {

std::string IntToText(int64_t value) {
    return std::to_string(value);
}

std::string HostPortText(std::string_view host, int64_t port) {
    std::string text = host.find(':') != std::string_view::npos ? "[" + std::string(host) + "]"
                                                                : std::string(host);
    return text + ":" + IntToText(port);
}

int64_t TextToInt(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    // Accumulate towards the sign so that INT64_MIN itself is reachable.
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        const int digit = text[pos] - '0';
        if (negative) {
            if (value < (kMin + digit) / 10) {
                return kMin;
            }
            value = value * 10 - digit;
        } else {
            if (value > (kMax - digit) / 10) {
                return kMax;
            }
            value = value * 10 + digit;
        }
    }
    return value;
}

namespace {

// Copies bytes, handing each byte that is not part of a valid UTF-8
// sequence to invalid(out, byte) instead.
template <typename Invalid>
std::string MapInvalidUtf8(std::string_view bytes, Invalid invalid) {
    std::string out;
    out.reserve(bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t cp = 0;
        const size_t len = DecodeUtf8Char(bytes, pos, cp);
        if (len == 0) {
            invalid(out, static_cast<unsigned char>(bytes[pos]));
            ++pos;
        } else {
            out.append(bytes.substr(pos, len));
            pos += len;
        }
    }
    return out;
}

}  // namespace

std::string AnsiToWide(std::string_view bytes) {
    return MapInvalidUtf8(bytes, [](std::string& out, unsigned char b) { AppendUtf8(out, b); });
}

std::string ValidUtf8(std::string_view bytes) {
    return MapInvalidUtf8(bytes, [](std::string& out, unsigned char) { AppendUtf8(out, 0xFFFD); });
}

std::string WideToAnsi(std::string_view text) {
    return std::string(text);
}

std::string ReplaceCopy(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    size_t start = 0;
    for (size_t hit = text.find(from); hit != std::string_view::npos;
         hit = text.find(from, start)) {
        out.append(text.substr(start, hit - start));
        out.append(to);
        start = hit + from.size();
    }
    out.append(text.substr(start));
    return out;
}

int SplitLines(std::string_view text, std::vector<std::string>& lines) {
    int count = 0;
    size_t start = 0;
    // A match at position 0 ends the search at once: a text that begins with
    // CR LF is returned whole as one entry.
    for (size_t hit = text.find("\r\n"); hit != std::string_view::npos && hit > 0;
         hit = text.find("\r\n", start)) {
        lines.emplace_back(text.substr(start, hit - start));
        ++count;
        start = hit + 2;
    }
    if (start < text.size()) {
        lines.emplace_back(text.substr(start));
        ++count;
    }
    return count;
}

std::string ErrorText(int code) {
    char buffer[256] = {};
    // GNU strerror_r: returns either buffer or a static string.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) {
        return "";
    }
    return text;
}

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

int CompareNoCase(std::string_view a, std::string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(LowerAscii(a[i]));
        const auto cb = static_cast<unsigned char>(LowerAscii(b[i]));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = LowerAscii(c);
    }
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace vardane
