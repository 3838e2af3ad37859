#include "engine/file_name.h"

#include <algorithm>

#include "engine/http_text.h"
#include "platform/text.h"
#include "task/url.h"

namespace vardane {

namespace {

// A longer "extension" is no extension worth keeping whole.
constexpr size_t kMaxExtBytes = 32;

bool IsTrimmed(char c) {
    return c == ' ' || c == '.' || c == '\t';
}

// Without leading and trailing dots and blanks.
std::string TrimName(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && IsTrimmed(s[b])) {
        ++b;
    }
    size_t e = s.size();
    while (e > b && IsTrimmed(s[e - 1])) {
        --e;
    }
    return std::string(s.substr(b, e - b));
}

// Cuts a UTF-8 text to at most n bytes without splitting a character.
std::string CutUtf8(std::string_view s, size_t n) {
    if (s.size() <= n) {
        return std::string(s);
    }
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) {
        --n;
    }
    return std::string(s.substr(0, n));
}

// Position of parameter name (followed by optional blanks and '=') in the
// lower-cased line, npos when absent; sets valueAt to the first value byte.
size_t FindParam(const std::string& lower, std::string_view name, size_t& valueAt) {
    size_t at = 0;
    while ((at = lower.find(name, at)) != std::string::npos) {
        size_t p = at + name.size();
        while (p < lower.size() && lower[p] == ' ') {
            ++p;
        }
        bool boundary = at == 0 || lower[at - 1] == ';' || lower[at - 1] == ' ';
        if (boundary && p < lower.size() && lower[p] == '=') {
            ++p;
            while (p < lower.size() && lower[p] == ' ') {
                ++p;
            }
            valueAt = p;
            return at;
        }
        at = p;
    }
    return std::string::npos;
}

}  // namespace

std::string SanitizeFileName(std::string_view name) {
    size_t sep = name.find_last_of("/\\");
    if (sep != std::string_view::npos) {
        name = name.substr(sep + 1);
    }
    std::string valid = ValidUtf8(name);
    std::string clean;
    for (char c : valid) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '"') {
            continue;
        }
        clean += c;
    }
    clean = TrimName(clean);
    if (clean.size() > kMaxLocalNameBytes) {
        // The cut may end on a blank or a dot: trim again.
        clean = TrimName(FitFileName(clean, "", kMaxLocalNameBytes));
    }
    if (clean.empty() || clean == "." || clean == "..") {
        return "";
    }
    return clean;
}

std::string FitFileName(std::string_view name, std::string_view suffix, size_t maxBytes) {
    size_t dot = name.find('.');
    if (dot == std::string_view::npos || name.size() - dot > kMaxExtBytes) {
        dot = name.rfind('.');
    }
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot > kMaxExtBytes) {
        dot = name.size();
    }
    std::string_view ext = name.substr(dot);
    size_t room = maxBytes - std::min(maxBytes, ext.size() + suffix.size());
    return CutUtf8(name.substr(0, dot), room) + std::string(suffix) + std::string(ext);
}

bool IsAttachmentDisposition(std::string_view line) {
    return ToLowerAscii(line).find("content-disposition: attachment; filename") !=
           std::string::npos;
}

std::string DispositionFileName(std::string_view line) {
    std::string lower = ToLowerAscii(line);
    size_t v = 0;
    if (FindParam(lower, "filename*", v) != std::string::npos) {
        std::string_view value = line.substr(v);
        value = value.substr(0, value.find(';'));
        size_t quote = value.find("''");
        if (quote != std::string_view::npos) {
            std::string charset = ToLowerAscii(value.substr(0, quote));
            std::string decoded = PercentDecode(value.substr(quote + 2));
            // ISO-8859-1 bytes are read as Latin-1, which AnsiToWide does for
            // bytes that are not UTF-8.
            return charset == "utf-8" ? ValidUtf8(decoded) : AnsiToWide(decoded);
        }
    }
    if (FindParam(lower, "filename", v) == std::string::npos) {
        return "";
    }
    std::string_view value = line.substr(v);
    std::string out;
    if (!value.empty() && value.front() == '"') {
        for (size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) {
                ++i;
            }
            out += value[i];
        }
        return out;
    }
    out = std::string(value.substr(0, value.find(';')));
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) {
        out.pop_back();
    }
    return out;
}

}  // namespace vardane
