// Text helpers shared by the whole program. Text inside the program is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vardane {

// Decimal text of a value: a minus sign for negatives, no leading zeros.
std::string IntToText(int64_t value);
// "host:port" as a Host header or CONNECT line writes it: an IPv6 literal
// ("::1") goes in brackets ("[::1]:80").
std::string HostPortText(std::string_view host, int64_t port);

// wtol-style: leading blanks skipped, optional sign, then decimal digits;
// anything else ends the number. No digits gives 0. Saturates instead of
// overflowing.
int64_t TextToInt(std::string_view text);

// Network and "ANSI" text: bytes that are valid UTF-8 pass unchanged, every
// byte that is not part of a valid UTF-8 sequence is read as Latin-1.
std::string AnsiToWide(std::string_view bytes);
// Text that claims to be UTF-8 but may not be: every byte that is not part
// of a valid sequence becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes);
// Program text to network bytes: UTF-8 as it stands.
std::string WideToAnsi(std::string_view text);

// Copy of text with every non-overlapping occurrence of from (left to right)
// replaced by to. An empty from returns text unchanged.
std::string ReplaceCopy(std::string_view text, std::string_view from, std::string_view to);

// Appends the CR LF separated lines of text to lines and returns how many were
// appended. Empty lines between two CR LF give empty entries; a trailing CR LF
// gives no empty last entry; an empty text gives none; a text starting with
// CR LF is returned whole as one entry.
int SplitLines(std::string_view text, std::vector<std::string>& lines);

// strerror of an errno value; empty when the system has no text for it.
std::string ErrorText(int code);

// ASCII case-insensitive comparison (the program's keys, names and addresses).
bool EqualsNoCase(std::string_view a, std::string_view b);
// <0, 0, >0 like _wcsicmp, ASCII case folded.
int CompareNoCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view text);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Value of a hexadecimal digit (either case), -1 for any other character.
int HexDigitValue(char c);
// text without the blanks and tabs around it.
std::string_view TrimBlanks(std::string_view text);

}  // namespace vardane
