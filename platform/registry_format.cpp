#include "platform/registry_tree.h"

#include "platform/text.h"

namespace vardane {

namespace {

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

// Reads a quoted text at the start of s and removes it from s.
bool TakeQuoted(std::string_view& s, std::string& out) {
    out.clear();
    if (s.empty() || s.front() != '"') {
        return false;
    }
    for (size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == s.size()) {
            return false;
        }
        switch (s[i]) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return false;
        }
    }
    return false;  // no closing quote
}

RegNode* CreatePath(RegNode& root, const std::vector<std::string_view>& parts) {
    RegNode* node = &root;
    for (std::string_view part : parts) {
        auto& slot = node->children[ToLowerAscii(part)];
        if (!slot) {
            slot = std::make_unique<RegNode>();
            slot->name = std::string(part);
        }
        node = slot.get();
    }
    return node;
}

// `@="value"` or `"name"="value"`, blanks allowed around '='.
bool ParseValueLine(std::string_view line, RegNode& key) {
    std::string name;
    if (line.front() == '@') {
        line.remove_prefix(1);
    } else if (!TakeQuoted(line, name)) {
        return false;
    }
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '=') {
        return false;
    }
    line = TrimBlanks(line.substr(1));
    std::string value;
    if (!TakeQuoted(line, value) || !TrimBlanks(line).empty()) {
        return false;
    }
    key.values[ToLowerAscii(name)] = {name, value};
    return true;
}

bool ParseLine(std::string_view line, RegNode& root, RegNode*& current) {
    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') {
        return true;
    }
    if (line.front() == '[') {
        if (line.size() < 2 || line.back() != ']') {
            return false;
        }
        const auto parts = SplitKeyPath(line.substr(1, line.size() - 2));
        if (!parts) {
            return false;
        }
        current = CreatePath(root, *parts);
        return true;
    }
    return current != nullptr && ParseValueLine(line, *current);
}

void FormatNode(const RegNode& node, const std::string& path, std::string& out) {
    out += '[' + path + "]\n";
    for (const auto& [lower, entry] : node.values) {
        if (entry.first.empty()) {
            out += '@';
        } else {
            AppendQuoted(out, entry.first);
        }
        out += '=';
        AppendQuoted(out, entry.second);
        out += '\n';
    }
    out += '\n';
    for (const auto& [lower, child] : node.children) {
        FormatNode(*child, path + '\\' + child->name, out);
    }
}

}  // namespace

std::optional<std::vector<std::string_view>> SplitKeyPath(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t sep = path.find('\\', start);
        const std::string_view part = path.substr(start, sep - start);
        if (part.empty() || part.find_first_of("\r\n") != std::string_view::npos) {
            return std::nullopt;
        }
        parts.push_back(part);
        if (sep == std::string_view::npos) {
            return parts;
        }
        start = sep + 1;
    }
}

bool ParseRegistryText(std::string_view text, RegNode& root) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);  // an editor's byte-order mark
    }
    RegNode* current = nullptr;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!ParseLine(line, root, current)) {
            root.children.clear();
            root.values.clear();
            return false;
        }
    }
    return true;
}

std::string FormatRegistryText(const RegNode& root) {
    std::string out;
    for (const auto& [lower, child] : root.children) {
        FormatNode(*child, child->name, out);
    }
    return out;
}

}  // namespace vardane
