// Local file names that come from a server (Content-Disposition, a redirect
// target) or from an address: made safe to join to the target folder.
#pragma once

#include <string>
#include <string_view>

namespace vardane {

// A name that stays inside its folder: only the part after the last '/' or
// '\' is kept; quotes and control characters are dropped; leading dots and
// blanks and trailing dots and blanks are trimmed; at most 255 bytes (the
// extension kept). Returns "" when nothing usable is left ("", ".", "..").
std::string SanitizeFileName(std::string_view name);

// The file name a Content-Disposition header line names, "" when none:
// filename*=charset''percent-encoded wins over filename=, which may be a
// quoted string (backslash escapes) or a token ending at ';'. The result is
// not yet sanitized.
std::string DispositionFileName(std::string_view line);

// True when the line is a Content-Disposition header that names a file for
// an attachment ("Content-Disposition: attachment; filename", any case).
bool IsAttachmentDisposition(std::string_view line);

}  // namespace vardane
