// What names the version of a server's file whose bytes a task holds: the
// HTTP ETag and Last-Modified date, the FTP MDTM time (the size is kept as
// FileSize). A resumed download asks for, or checks, that same version, so
// the bytes on disk never mix two versions of the file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vardane {

struct FileValidators {
    std::string ETag;          // as the server sent it, "W/" and quotes kept
    std::string LastModified;  // the HTTP date as the server sent it
    std::string ModTime;       // the time of an FTP "213" reply to MDTM

    bool Empty() const { return ETag.empty() && LastModified.empty() && ModTime.empty(); }
    bool HasHttp() const { return !ETag.empty() || !LastModified.empty(); }
};

// A validator may be stored in the progress file and sent back in a header:
// printable ASCII, at most 256 bytes. Anything else gives "" (not known).
inline std::string UsableValidator(std::string_view value) {
    constexpr size_t kMaxValidatorBytes = 256;
    if (value.size() > kMaxValidatorBytes) {
        return "";
    }
    for (char c : value) {
        if (c < 0x20 || c > 0x7e) {
            return "";
        }
    }
    return std::string(value);
}

inline FileValidators UsableValidators(const FileValidators& v) {
    return {UsableValidator(v.ETag), UsableValidator(v.LastModified), UsableValidator(v.ModTime)};
}

inline bool IsWeakETag(std::string_view tag) {
    return tag.substr(0, 2) == "W/";
}

// Whether two ETags name the same version: equal once a "W/" is dropped
// (a server may mark the same tag weak in one reply and not in another).
inline bool SameETag(std::string_view a, std::string_view b) {
    auto opaque = [](std::string_view t) { return IsWeakETag(t) ? t.substr(2) : t; };
    return opaque(a) == opaque(b);
}

// The If-Range value: the ETag when it is strong (a weak one may not be
// used there), else the Last-Modified date; "" when neither is known.
inline std::string IfRangeValue(const FileValidators& v) {
    if (!v.ETag.empty() && !IsWeakETag(v.ETag)) {
        return v.ETag;
    }
    return v.LastModified;
}

}  // namespace vardane
