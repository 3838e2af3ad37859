// Encoding-aware line reader shared by language files, list files and imports.
#pragma once

#include <cstdio>
#include <string>

namespace vardane {

// Detects the encoding from the first bytes: FF FE UTF-16LE, FE FF UTF-16BE,
// EF BB BF UTF-8, anything else the system code page (UTF-8 with Latin-1 for
// invalid bytes). Returns lines ended by CR, LF or CR LF, without the line
// end, as UTF-8. A last line without terminator is returned too.
class CTextLineReader {
public:
    enum class Encoding { Ansi, Utf16Le, Utf16Be, Utf8 };

    CTextLineReader() = default;
    ~CTextLineReader();
    CTextLineReader(const CTextLineReader&) = delete;
    CTextLineReader& operator=(const CTextLineReader&) = delete;

    // False when the file cannot be opened; a reader that failed to open is
    // at its end.
    bool Open(const std::string& path);
    // False at end of file (nothing returned).
    bool ReadLine(std::string& line);
    bool AtEnd() const;
    void Close();
    Encoding GetEncoding() const { return encoding_; }

private:
    // Implementation-defined state (buffer, push-back unit, flags).
    int ReadUnit();
    bool Refill();

    std::FILE* file_ = nullptr;
    Encoding encoding_ = Encoding::Ansi;
    unsigned char buffer_[1024] = {};
    size_t fill_ = 0;
    size_t pos_ = 0;
    bool eof_ = true;
    int pushback_ = -1;
    bool firstLine_ = true;
};

}  // namespace vardane
