#include "engine/digest_header.h"

#include <array>

#include "engine/http_text.h"
#include "platform/text.h"

namespace vardane {

namespace {

struct KnownDigest {
    std::string_view Name;  // as Repr-Digest writes it; Digest's in any case
    ChecksumAlgorithm Algorithm;
};

// Strongest first.
constexpr std::array<KnownDigest, 4> kKnown{{
    {"sha-512", ChecksumAlgorithm::Sha512},
    {"sha-256", ChecksumAlgorithm::Sha256},
    {"sha", ChecksumAlgorithm::Sha1},
    {"md5", ChecksumAlgorithm::Md5},
}};

int Rank(ChecksumAlgorithm algorithm) {
    for (size_t i = 0; i < kKnown.size(); ++i) {
        if (kKnown[i].Algorithm == algorithm) {
            return static_cast<int>(kKnown.size() - i);
        }
    }
    return 0;
}

// Keeps candidate when it decodes to the algorithm's digest length and is
// at least as strong as best (a later member of the same name wins, as a
// dictionary's last duplicate does).
void Consider(std::optional<Checksum>& best, ChecksumAlgorithm algorithm,
              const std::optional<std::string>& digest) {
    if (!digest || digest->size() != ChecksumDigestSize(algorithm)) {
        return;
    }
    if (!best || Rank(algorithm) >= Rank(best->Algorithm)) {
        best = Checksum{algorithm, *digest};
    }
}

bool IsLcAlpha(char c) {
    return c >= 'a' && c <= 'z';
}
bool IsDigitChar(char c) {
    return c >= '0' && c <= '9';
}
bool IsAlpha(char c) {
    return IsLcAlpha(c) || (c >= 'A' && c <= 'Z');
}
bool IsTchar(char c) {
    return IsAlpha(c) || IsDigitChar(c) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// A cursor over a structured-field dictionary; each step fails on anything
// the grammar does not allow.
class SfReader {
  public:
    explicit SfReader(std::string_view text) : s_(text) {}

    bool AtEnd() const { return pos_ >= s_.size(); }
    char Peek() const { return AtEnd() ? '\0' : s_[pos_]; }
    bool Eat(char c) {
        if (Peek() != c || AtEnd()) {
            return false;
        }
        ++pos_;
        return true;
    }
    void SkipSp() {
        while (Peek() == ' ') {
            ++pos_;
        }
    }
    void SkipOws() {
        while (Peek() == ' ' || Peek() == '\t') {
            ++pos_;
        }
    }

    std::optional<std::string_view> Key() {
        size_t start = pos_;
        if (!IsLcAlpha(Peek()) && Peek() != '*') {
            return std::nullopt;
        }
        while (!AtEnd() && (IsLcAlpha(Peek()) || IsDigitChar(Peek()) || Peek() == '_' ||
                            Peek() == '-' || Peek() == '.' || Peek() == '*')) {
            ++pos_;
        }
        return s_.substr(start, pos_ - start);
    }

    // A bare item; bytes gets the decoded value of a byte sequence.
    bool BareItem(std::optional<std::string>& bytes) {
        char c = Peek();
        if (c == ':') {
            ++pos_;
            size_t end = s_.find(':', pos_);
            if (end == std::string_view::npos) {
                return false;
            }
            bytes = Base64Decode(s_.substr(pos_, end - pos_));
            pos_ = end + 1;
            return bytes.has_value();
        }
        if (c == '"') {
            for (++pos_; !AtEnd(); ++pos_) {
                char d = s_[pos_];
                if (d == '\\') {
                    ++pos_;
                    if (Peek() != '"' && Peek() != '\\') {
                        return false;
                    }
                } else if (d == '"') {
                    ++pos_;
                    return true;
                } else if (d < 0x20 || d > 0x7e) {
                    return false;
                }
            }
            return false;
        }
        if (c == '?') {
            ++pos_;
            return Eat('0') || Eat('1');
        }
        if (c == '-' || IsDigitChar(c)) {
            Eat('-');
            size_t start = pos_;
            while (IsDigitChar(Peek()) || Peek() == '.') {
                ++pos_;
            }
            return pos_ > start && pos_ - start <= 20;
        }
        if (IsAlpha(c) || c == '*') {
            while (!AtEnd() && (IsTchar(Peek()) || Peek() == ':' || Peek() == '/')) {
                ++pos_;
            }
            return true;
        }
        return false;
    }

    bool Parameters() {
        while (Eat(';')) {
            SkipSp();
            if (!Key()) {
                return false;
            }
            std::optional<std::string> ignored;
            if (Eat('=') && !BareItem(ignored)) {
                return false;
            }
        }
        return true;
    }

  private:
    std::string_view s_;
    size_t pos_ = 0;
};

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

}  // namespace

std::optional<std::string> Base64Decode(std::string_view text) {
    size_t data = text.find('=');
    std::string_view padding = data == std::string_view::npos ? "" : text.substr(data);
    text = text.substr(0, data);
    if (padding.size() > 2 || padding.find_first_not_of('=') != std::string_view::npos ||
        text.size() % 4 == 1 || (!padding.empty() && (text.size() + padding.size()) % 4 != 0)) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(text.size() * 3 / 4);
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v = Base64Value(c);
        if (v < 0) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return out;
}

void CollectDigestField(std::string_view line, DigestFields& fields) {
    for (auto [name, field] :
         {std::pair{"Repr-Digest", &fields.Repr}, std::pair{"Digest", &fields.Legacy}}) {
        if (line.size() > std::string_view(name).size() && StartsWithNoCase(line, name) &&
            line[std::string_view(name).size()] == ':') {
            if (!field->empty()) {
                *field += ", ";
            }
            *field += HeaderField(line, name);
            return;
        }
    }
}

std::optional<Checksum> ParseReprDigest(std::string_view value) {
    SfReader r(value);
    std::optional<Checksum> best;
    r.SkipSp();
    if (r.AtEnd()) {
        return std::nullopt;
    }
    while (true) {
        std::optional<std::string_view> key = r.Key();
        if (!key) {
            return std::nullopt;
        }
        std::optional<std::string> bytes;
        if (r.Eat('=')) {
            if (r.Peek() == '(' || !r.BareItem(bytes)) {
                return std::nullopt;  // inner lists: no digest field has them
            }
        }
        if (!r.Parameters()) {
            return std::nullopt;
        }
        for (const KnownDigest& known : kKnown) {
            if (*key == known.Name) {
                Consider(best, known.Algorithm, bytes);
            }
        }
        r.SkipOws();
        if (r.AtEnd()) {
            return best;
        }
        if (!r.Eat(',')) {
            return std::nullopt;
        }
        r.SkipOws();
        if (r.AtEnd()) {
            return std::nullopt;  // a trailing comma
        }
    }
}

std::optional<Checksum> ParseLegacyDigest(std::string_view value) {
    std::optional<Checksum> best;
    while (!value.empty()) {
        size_t comma = value.find(',');
        std::string_view member = TrimBlanks(value.substr(0, comma));
        value = comma == std::string_view::npos ? "" : value.substr(comma + 1);
        size_t eq = member.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        std::string_view name = TrimBlanks(member.substr(0, eq));
        std::string_view encoded = TrimBlanks(member.substr(eq + 1));
        if (encoded.size() >= 2 && encoded.front() == '"' && encoded.back() == '"') {
            encoded = encoded.substr(1, encoded.size() - 2);
        }
        for (const KnownDigest& known : kKnown) {
            if (EqualsNoCase(name, known.Name)) {
                Consider(best, known.Algorithm, Base64Decode(encoded));
            }
        }
    }
    return best;
}

std::optional<AnnouncedDigest> ParseDigestFields(const DigestFields& fields) {
    if (std::optional<Checksum> sum = ParseReprDigest(fields.Repr)) {
        return AnnouncedDigest{*sum, "Repr-Digest"};
    }
    if (std::optional<Checksum> sum = ParseLegacyDigest(fields.Legacy)) {
        return AnnouncedDigest{*sum, "Digest"};
    }
    return std::nullopt;
}

bool ReplyIsWholeFile(std::string_view status, std::string_view contentRange) {
    if (status == "200") {
        return true;
    }
    ContentRange range;
    return status == "206" && ParseContentRange(contentRange, range) && range.First == 0 &&
           range.Total > 0 && range.Last == range.Total - 1;
}

}  // namespace vardane
