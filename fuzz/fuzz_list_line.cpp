// Directory listing lines as an FTP server sends them, read the way the site
// explorer reads them: split into lines, cut into columns, read as Unix or
// MS-DOS entries, and the names it would let become rows and tasks.
#include <string>
#include <vector>

#include "explorer/list_line.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"

namespace {

void CheckLine(const std::string& line) {
    vardane::ListLineFields columns;
    const int n = vardane::ParseListLine(line, columns);
    FUZZ_CHECK(n >= 0 && n <= 9, line);
    for (size_t i = static_cast<size_t>(n); i < columns.size(); ++i) {
        FUZZ_CHECK(columns[i].empty(), line);
    }
    vardane::ListEntry e;
    if (!vardane::ParseListEntry(line, e)) {
        FUZZ_CHECK(e.type == vardane::EntryType::None && e.name.empty(), line);
        return;
    }
    FUZZ_CHECK(e.type != vardane::EntryType::None && !e.name.empty(), line);
    FUZZ_CHECK(e.size >= -1, line);
    FUZZ_CHECK(line.size() <= vardane::kMaxEntryLine + 2, line);
    FUZZ_CHECK(line.find(e.name) != std::string::npos, line);
    if (vardane::IsSafeEntryName(e.name)) {
        // What may become a local file name never leaves its folder.
        FUZZ_CHECK(
            e.name != "." && e.name != ".." && e.name.find_first_of("/\\") == std::string::npos,
            e.name);
        for (unsigned char c : e.name) {
            FUZZ_CHECK(c >= 0x20 && c != 0x7F, e.name);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    vardane::SplitLines(vardane::AnsiToWide(bytes), lines);
    for (const std::string& line : lines) {
        CheckLine(line);
    }
    // A line exactly as the client hands it over, line ends and all.
    CheckLine(bytes);
    return 0;
}
