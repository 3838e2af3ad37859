#include "tests/support/sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vardane::test {

namespace {

// OpenSSL's SHA-256, fed in pieces.
class Sha256 {
  public:
    Sha256() : context_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context_, EVP_sha256(), nullptr); }
    ~Sha256() { EVP_MD_CTX_free(context_); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Update(const unsigned char* data, size_t n) { EVP_DigestUpdate(context_, data, n); }
    std::string HexDigest() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(context_, digest, &length);
        std::string hex;
        char byte[3];
        for (unsigned int i = 0; i < length; ++i) {
            std::snprintf(byte, sizeof byte, "%02x", digest[i]);
            hex += byte;
        }
        return hex;
    }

  private:
    EVP_MD_CTX* context_;
};

// splitmix64: fast, and the same bytes for the same seed on every machine.
class ByteStream {
  public:
    explicit ByteStream(uint64_t seed) : state_(seed) {}
    void Fill(char* out, size_t n) {
        for (size_t i = 0; i < n; i += 8) {
            uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            z ^= z >> 31;
            for (size_t j = 0; j < 8 && i + j < n; ++j) {
                out[i + j] = static_cast<char>(z >> (8 * j));
            }
        }
    }

  private:
    uint64_t state_;
};

}  // namespace

std::string Sha256OfBytes(std::string_view bytes) {
    Sha256 hash;
    hash.Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return hash.HexDigest();
}

std::string Sha256OfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    Sha256 hash;
    std::vector<char> chunk(1 << 16);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        hash.Update(reinterpret_cast<const unsigned char*>(chunk.data()),
                    static_cast<size_t>(in.gcount()));
    }
    return hash.HexDigest();
}

std::string RandomBytes(size_t size, uint64_t seed) {
    std::string bytes(size, '\0');
    ByteStream(seed).Fill(bytes.data(), size);
    return bytes;
}

std::string MakeRandomFile(const std::string& path, int64_t size, uint64_t seed) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return {};
    }
    // Chunks of a multiple of 8 bytes keep the stream identical to RandomBytes.
    ByteStream stream(seed);
    Sha256 hash;
    std::vector<char> chunk(1 << 16);
    for (int64_t left = size; left > 0;) {
        size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(chunk.size())));
        stream.Fill(chunk.data(), n);
        hash.Update(reinterpret_cast<const unsigned char*>(chunk.data()), n);
        out.write(chunk.data(), static_cast<std::streamsize>(n));
        left -= static_cast<int64_t>(n);
    }
    return out.flush() ? hash.HexDigest() : std::string();
}

}  // namespace vardane::test
