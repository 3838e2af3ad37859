// Directory listing lines as FTP servers send them: the blank-separated
// columns of a Unix "ls -l" line, and one entry (type, size, date, name)
// read from either a Unix line or an MS-DOS line ("01-02-24  10:15AM
// <DIR>  name"). Pure functions: no line can make them fail other than by
// returning "not an entry".
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vardane {

// permissions, links, owner, group, size, month, day, time or year, name.
using ListLineFields = std::array<std::string, 9>;

// Splits line into up to nine columns: the first eight end at a blank, the
// ninth is the whole rest of the line (so a name keeps its blanks). Returns
// the number of columns found; columns past that number are empty.
int ParseListLine(std::string_view line, ListLineFields& columns);

enum class EntryType : char { None = 0, Folder = 'd', File = '-', Link = 'l' };

struct ListEntry {
    EntryType type = EntryType::None;  // None: not an entry (a "total 12" line, junk)
    int64_t size = -1;                 // bytes; -1 when the line gives none
    std::string date;                  // as the server wrote it
    std::string name;
    std::string linkTarget;  // a link's "-> target", without the arrow
};

// Lines longer than this are never read as entries (a hostile listing).
inline constexpr size_t kMaxEntryLine = 8192;

// Reads one listing line, Unix or MS-DOS. False (type None) for anything
// else, which the caller shows as a plain line.
bool ParseListEntry(std::string_view line, ListEntry& entry);

// Whether name can stand as one path component below a local folder and in
// an address: not empty, not "." or "..", no "/" or "\", no control
// characters.
bool IsSafeEntryName(std::string_view name);

}  // namespace vardane
