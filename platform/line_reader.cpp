#include "platform/line_reader.h"

#include "platform/text.h"
#include "platform/utf16.h"

namespace vardane {

namespace {

constexpr int32_t kCr = 0x0D;
constexpr int32_t kLf = 0x0A;
constexpr int32_t kReplacement = 0xFFFD;

}  // namespace

TextLineReader::~TextLineReader() {
    Close();
}

bool TextLineReader::Open(const std::string& path) {
    Close();
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
        return false;
    }
    eof_ = false;
    Refill();
    const auto starts = [&](std::string_view mark) {
        return fill_ >= mark.size() &&
               std::string_view(reinterpret_cast<const char*>(buffer_), mark.size()) == mark;
    };
    encoding_ = Encoding::Ansi;
    if (starts("\xFF\xFE")) {
        encoding_ = Encoding::Utf16Le, pos_ = 2;
    } else if (starts("\xFE\xFF")) {
        encoding_ = Encoding::Utf16Be, pos_ = 2;
    } else if (starts("\xEF\xBB\xBF")) {
        encoding_ = Encoding::Utf8, pos_ = 3;
    }
    if (PeekByte() < 0) {
        eof_ = true;  // an empty file (or only a byte-order mark) has no line
    }
    return true;
}

void TextLineReader::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    fill_ = pos_ = 0;
    eof_ = true;
    pushback_ = -1;
}

bool TextLineReader::AtEnd() const {
    return eof_;
}

bool TextLineReader::Refill() {
    fill_ = pos_ = 0;
    if (file_ != nullptr) {
        fill_ = std::fread(buffer_, 1, sizeof buffer_, file_);
    }
    return fill_ > 0;
}

int TextLineReader::PeekByte() {
    if (pos_ >= fill_ && !Refill()) {
        return -1;
    }
    return buffer_[pos_];
}

int TextLineReader::ReadByte() {
    const int byte = PeekByte();
    if (byte >= 0) {
        ++pos_;
    }
    return byte;
}

int32_t TextLineReader::ReadUtf8Unit() {
    const int lead = ReadByte();
    if (lead < 0x80) {
        return lead;  // ASCII or the end of the file
    }
    // Collect the lead and the continuation bytes that follow it, then let the
    // shared decoder judge them. A byte that cannot continue the sequence is
    // left for the next unit.
    char bytes[4] = {static_cast<char>(lead)};
    const size_t want = (lead & 0xE0) == 0xC0   ? 2
                        : (lead & 0xF0) == 0xE0 ? 3
                        : (lead & 0xF8) == 0xF0 ? 4
                                                : 1;
    size_t have = 1;
    while (have < want) {
        const int next = PeekByte();
        if (next < 0 || (next & 0xC0) != 0x80) {
            break;
        }
        bytes[have++] = static_cast<char>(ReadByte());
    }
    char32_t cp = 0;
    if (have != want || DecodeUtf8Char(std::string_view(bytes, have), 0, cp) != have) {
        return kReplacement;
    }
    return static_cast<int32_t>(cp);
}

int32_t TextLineReader::ReadUnit() {
    if (pushback_ >= 0) {
        const int32_t unit = pushback_;
        pushback_ = -1;
        return unit;
    }
    switch (encoding_) {
        case Encoding::Ansi:
            return ReadByte();
        case Encoding::Utf8:
            return ReadUtf8Unit();
        case Encoding::Utf16Le:
        case Encoding::Utf16Be: {
            const int first = ReadByte();
            const int second = ReadByte();
            if (first < 0 || second < 0) {
                return -1;  // an odd last byte is dropped
            }
            return encoding_ == Encoding::Utf16Le ? (second << 8 | first) : (first << 8 | second);
        }
    }
    return -1;
}

void TextLineReader::AppendUnit(std::string& bytes, std::u16string& units, int32_t unit) const {
    switch (encoding_) {
        case Encoding::Ansi:
            bytes += static_cast<char>(unit);
            break;
        case Encoding::Utf8:
            AppendUtf8(bytes, static_cast<char32_t>(unit));
            break;
        case Encoding::Utf16Le:
        case Encoding::Utf16Be:
            units += static_cast<char16_t>(unit);
            break;
    }
}

bool TextLineReader::ReadLine(std::string& line) {
    line.clear();
    if (eof_) {
        return false;
    }
    std::string bytes;
    std::u16string units;
    int32_t unit = ReadUnit();
    while (unit >= 0 && unit != kCr && unit != kLf) {
        AppendUnit(bytes, units, unit);
        unit = ReadUnit();
    }
    if (unit == kCr) {
        const int32_t next = ReadUnit();
        if (next != kLf) {
            pushback_ = next;
        }
    }
    // Look one unit ahead so that AtEnd() turns true with the last line.
    if (unit < 0 || pushback_ < 0) {
        pushback_ = unit < 0 ? -1 : ReadUnit();
    }
    eof_ = pushback_ < 0;
    switch (encoding_) {
        case Encoding::Ansi:
            line = AnsiToWide(bytes);
            break;
        case Encoding::Utf8:
            line = std::move(bytes);
            break;
        case Encoding::Utf16Le:
        case Encoding::Utf16Be:
            line = Utf16ToUtf8(units);
            break;
    }
    return true;
}

}  // namespace vardane
