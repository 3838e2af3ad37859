#include "explorer/list_line.h"

#include <charconv>
#include <vector>

namespace vardane {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

size_t SkipBlanks(std::string_view s, size_t pos) {
    while (pos < s.size() && IsBlank(s[pos])) {
        ++pos;
    }
    return pos;
}

struct Token {
    size_t begin, end;
};

// The first count blank-separated tokens of line (fewer when it has fewer).
std::vector<Token> Tokens(std::string_view line, size_t count) {
    std::vector<Token> tokens;
    size_t pos = SkipBlanks(line, 0);
    while (tokens.size() < count && pos < line.size()) {
        size_t end = pos;
        while (end < line.size() && !IsBlank(line[end])) {
            ++end;
        }
        tokens.push_back({pos, end});
        pos = SkipBlanks(line, end);
    }
    return tokens;
}

bool AllDigits(std::string_view s) {
    if (s.empty()) {
        return false;
    }
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// A decimal size; -1 when it does not fit.
int64_t SizeOf(std::string_view s) {
    int64_t value = -1;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    return error == std::errc() && end == s.data() + s.size() ? value : -1;
}

bool IsMonth(std::string_view s) {
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    if (s.size() != 3) {
        return false;
    }
    for (std::string_view m : kMonths) {
        bool same = true;
        for (size_t i = 0; i < 3; ++i) {
            same = same && (s[i] | 0x20) == m[i];
        }
        if (same) {
            return true;
        }
    }
    return false;
}

// "12:05" or "2023".
bool IsTimeOrYear(std::string_view s) {
    const size_t colon = s.find(':');
    if (colon == std::string_view::npos) {
        return s.size() == 4 && AllDigits(s);
    }
    return AllDigits(s.substr(0, colon)) && AllDigits(s.substr(colon + 1));
}

// "01-02-24" or "01-02-2024".
bool IsDosDate(std::string_view s) {
    return (s.size() == 8 || s.size() == 10) && s[2] == '-' && s[5] == '-' &&
           AllDigits(s.substr(0, 2)) && AllDigits(s.substr(3, 2)) && AllDigits(s.substr(6));
}

// "10:15AM", "10:15PM" or "22:15".
bool IsDosTime(std::string_view s) {
    if (s.size() > 2 && (s.ends_with("AM") || s.ends_with("PM"))) {
        s.remove_suffix(2);
    }
    const size_t colon = s.find(':');
    return colon != std::string_view::npos && colon > 0 && AllDigits(s.substr(0, colon)) &&
           s.size() - colon == 3 && AllDigits(s.substr(colon + 1));
}

std::string_view Part(std::string_view line, const Token& t) {
    return line.substr(t.begin, t.end - t.begin);
}

bool ParseDosEntry(std::string_view line, ListEntry& entry) {
    const std::vector<Token> t = Tokens(line, 3);
    if (t.size() < 3 || !IsDosDate(Part(line, t[0])) || !IsDosTime(Part(line, t[1]))) {
        return false;
    }
    const std::string_view sizeText = Part(line, t[2]);
    const std::string_view name = line.substr(SkipBlanks(line, t[2].end));
    if (name.empty()) {
        return false;
    }
    if (sizeText == "<DIR>") {
        entry.type = EntryType::Folder;
    } else if (AllDigits(sizeText)) {
        entry.type = EntryType::File;
        entry.size = SizeOf(sizeText);
    } else {
        return false;
    }
    entry.date = std::string(Part(line, t[0])) + " " + std::string(Part(line, t[1]));
    entry.name = name;
    return true;
}

bool ParseUnixEntry(std::string_view line, ListEntry& entry) {
    const std::vector<Token> t = Tokens(line, 9);
    if (t.size() < 6) {
        return false;
    }
    const std::string_view perms = Part(line, t[0]);
    if (perms.size() < 10 || (perms[0] != 'd' && perms[0] != '-' && perms[0] != 'l')) {
        return false;
    }
    // The size is the number just before the month; the owner and group
    // columns before it are not always both there.
    for (size_t j = 2; j + 3 < t.size(); ++j) {
        if (!AllDigits(Part(line, t[j])) || !IsMonth(Part(line, t[j + 1])) ||
            !AllDigits(Part(line, t[j + 2])) || !IsTimeOrYear(Part(line, t[j + 3]))) {
            continue;
        }
        std::string_view name = line.substr(SkipBlanks(line, t[j + 3].end));
        if (name.empty()) {
            return false;
        }
        entry.type = static_cast<EntryType>(perms[0]);
        entry.size = SizeOf(Part(line, t[j]));
        entry.date = std::string(Part(line, t[j + 1])) + " " + std::string(Part(line, t[j + 2])) +
                     " " + std::string(Part(line, t[j + 3]));
        const size_t arrow = name.find(" -> ");
        if (entry.type == EntryType::Link && arrow != std::string_view::npos) {
            entry.linkTarget = name.substr(arrow + 4);
            name = name.substr(0, arrow);
        }
        entry.name = name;
        return true;
    }
    return false;
}

}  // namespace

int ParseListLine(std::string_view line, ListLineFields& columns) {
    for (std::string& c : columns) {
        c.clear();
    }
    std::string_view rest = line;
    for (int i = 0; i < 8; ++i) {
        size_t blank = 0;
        while (blank < rest.size() && !IsBlank(rest[blank])) {
            ++blank;
        }
        if (blank == rest.size()) {
            // No blank left: the last word is this column.
            if (!rest.empty()) {
                columns[static_cast<size_t>(i)] = rest;
                return i + 1;
            }
            return i;
        }
        if (blank > 0) {
            columns[static_cast<size_t>(i)] = rest.substr(0, blank);
        }
        rest = rest.substr(SkipBlanks(rest, blank));
        if (rest.empty()) {
            return i + 1;
        }
    }
    columns[8] = rest;
    return 9;
}

bool ParseListEntry(std::string_view line, ListEntry& entry) {
    entry = ListEntry{};
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    if (line.size() > kMaxEntryLine) {
        return false;
    }
    if (ParseUnixEntry(line, entry) || ParseDosEntry(line, entry)) {
        return true;
    }
    entry = ListEntry{};
    return false;
}

bool IsSafeEntryName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') {
            return false;
        }
    }
    return true;
}

}  // namespace vardane
