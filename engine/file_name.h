// Local file names that come from a server (Content-Disposition, a redirect
// target) or from an address: made safe to join to the target folder.
#pragma once

#include <string>
#include <string_view>

namespace vardane {

// Longest local name: its temporary name (+ ".vd~") must fit the 255 bytes a
// Linux file name may have.
inline constexpr size_t kMaxLocalNameBytes = 255 - 4;

// A name that stays inside its folder: only the part after the last '/' or
// '\' is kept; bytes that are not UTF-8 become U+FFFD; quotes and control
// characters are dropped; leading dots and blanks and trailing dots and
// blanks are trimmed; at most kMaxLocalNameBytes (the extension kept).
// Returns "" when nothing usable is left ("", ".", "..").
std::string SanitizeFileName(std::string_view name);

// name with suffix put before its extension, the part before cut (never
// inside a UTF-8 character) so that the whole fits maxBytes. The extension is
// from the first dot, or from the last where that one is too long to keep.
// FitFileName("a.tar.gz", "(1)", 255) is "a(1).tar.gz".
std::string FitFileName(std::string_view name, std::string_view suffix, size_t maxBytes);

// The file name a Content-Disposition header line names, "" when none:
// filename*=charset''percent-encoded wins over filename=, which may be a
// quoted string (backslash escapes) or a token ending at ';'. The result is
// not yet sanitized.
std::string DispositionFileName(std::string_view line);

// True when the line is a Content-Disposition header that names a file for
// an attachment ("Content-Disposition: attachment; filename", any case).
bool IsAttachmentDisposition(std::string_view line);

}  // namespace vardane
