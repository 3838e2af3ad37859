// Encoding-aware line reader shared by language files, list files and imports.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vardane {

// Detects the encoding from the first bytes: FF FE UTF-16LE, FE FF UTF-16BE,
// EF BB BF UTF-8, anything else the system code page (UTF-8 with Latin-1 for
// invalid bytes). Returns lines ended by CR, LF or CR LF, without the line
// end, as UTF-8. A last line without terminator is returned too; a line end
// at the very end of the file does not start another (empty) line. UTF-16
// surrogate pairs and 4-byte UTF-8 sequences are decoded; bytes that are not
// UTF-8 in a file marked as UTF-8 read as U+FFFD.
class TextLineReader {
  public:
    enum class Encoding { Ansi, Utf16Le, Utf16Be, Utf8 };

    TextLineReader() = default;
    ~TextLineReader();
    TextLineReader(const TextLineReader&) = delete;
    TextLineReader& operator=(const TextLineReader&) = delete;

    // False when the file cannot be opened; a reader that failed to open is
    // at its end.
    bool Open(const std::string& path);
    // False at end of file (line is then empty). AtEnd() is true as soon as
    // the last line has been returned.
    bool ReadLine(std::string& line);
    bool AtEnd() const;
    void Close();
    Encoding GetEncoding() const { return encoding_; }

  private:
    // Next unit of the file: a byte (Ansi), a UTF-16 code unit or a decoded
    // code point (Utf8); -1 at the end of the file.
    int32_t ReadUnit();
    int32_t ReadUtf8Unit();
    // Next byte without consuming it; -1 at the end of the file.
    int PeekByte();
    int ReadByte();
    bool Refill();
    void AppendUnit(std::string& bytes, std::u16string& units, int32_t unit) const;

    std::FILE* file_ = nullptr;
    Encoding encoding_ = Encoding::Ansi;
    unsigned char buffer_[1024] = {};
    size_t fill_ = 0;
    size_t pos_ = 0;
    bool eof_ = true;
    int32_t pushback_ = -1;
};

}  // namespace vardane
