// The whole file's digest as a server announces it: Repr-Digest (a
// structured-field dictionary of byte sequences, "sha-256=:<base64>:") and
// the older Digest ("SHA-256=<base64>"). Pure functions of header text,
// tested alone and fuzzed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "task/checksum.h"

namespace vardane {

// The digest header values of one reply; a field sent on several lines is
// joined with ", " as one value.
struct DigestFields {
    std::string Repr;    // Repr-Digest
    std::string Legacy;  // Digest
};

// Adds line's value to fields when the line is a Repr-Digest or Digest
// header (name in any case).
void CollectDigestField(std::string_view line, DigestFields& fields);

// The strongest known digest of a Repr-Digest value (sha-512, sha-256, sha,
// md5); nullopt when none is there or the value is not a well-formed
// dictionary (then nothing of it can be trusted).
std::optional<Checksum> ParseReprDigest(std::string_view value);
// The same for a Digest value (names in any case: SHA-512, SHA-256, SHA,
// MD5). Members that do not decode are skipped.
std::optional<Checksum> ParseLegacyDigest(std::string_view value);

// Repr-Digest's answer when it has one, else Digest's; header names the
// field it came from.
struct AnnouncedDigest {
    Checksum Sum;
    std::string Header;
};
std::optional<AnnouncedDigest> ParseDigestFields(const DigestFields& fields);

// Whether a reply's body is the whole file: a 200, or a 206 whose
// Content-Range runs from the first byte to the last of a known total. Only
// then does a digest header surely describe the bytes the task stores.
bool ReplyIsWholeFile(std::string_view status, std::string_view contentRange);

// Standard Base64 with or without "=" padding; nullopt for any other
// character, a misplaced "=" or a length no encoding has.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace vardane
