#include "lang/profile_value.h"

#include "platform/file.h"
#include "platform/utf16.h"

namespace vardane {

std::string GetProfileValue(const std::string& path, std::string_view section, std::string_view key,
                            std::string_view defaultValue) {
    std::string bytes;
    if (section.empty() || key.empty() || !ReadFileBytes(path, bytes)) {
        return std::string(defaultValue);
    }
    std::u16string text = Utf8ToUtf16(DecodeUtf16Le(bytes));
    if (!text.empty() && text.front() == u'\xFEFF') {
        text.erase(0, 1);
    }
    std::u16string header = u"[" + Utf8ToUtf16(section) + u"]\r\n";
    size_t at = text.find(header);
    if (at == std::u16string::npos) {
        return std::string(defaultValue);
    }
    std::u16string name = Utf8ToUtf16(key) + u"=";
    size_t start = text.find(name, at + header.size());
    if (start == std::u16string::npos) {
        return std::string(defaultValue);
    }
    start += name.size();
    size_t end = text.find(u"\r\n", start);
    if (end == std::u16string::npos) {
        return std::string(defaultValue);
    }
    return Utf16ToUtf8(std::u16string_view(text).substr(start, end - start));
}

}  // namespace vardane
