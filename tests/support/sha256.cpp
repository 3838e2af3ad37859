#include "tests/support/sha256.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vardane::test {

namespace {

constexpr std::array<uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

class Sha256 {
  public:
    void Update(const unsigned char* data, size_t n) {
        length_ += n;
        while (n > 0) {
            size_t take = std::min(n, block_.size() - used_);
            std::copy(data, data + take, block_.begin() + static_cast<long>(used_));
            used_ += take;
            data += take;
            n -= take;
            if (used_ == block_.size()) {
                Compress();
                used_ = 0;
            }
        }
    }

    std::string HexDigest() {
        uint64_t bits = length_ * 8;
        unsigned char pad = 0x80;
        Update(&pad, 1);
        unsigned char zero = 0;
        while (used_ != 56) {
            Update(&zero, 1);
        }
        unsigned char size[8];
        for (int i = 0; i < 8; ++i) {
            size[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
        }
        Update(size, 8);
        std::string hex;
        char digits[9];
        for (uint32_t word : state_) {
            std::snprintf(digits, sizeof(digits), "%08x", word);
            hex += digits;
        }
        return hex;
    }

  private:
    void Compress() {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            w[i] = (uint32_t{block_[4 * i]} << 24) | (uint32_t{block_[4 * i + 1]} << 16) |
                   (uint32_t{block_[4 * i + 2]} << 8) | uint32_t{block_[4 * i + 3]};
        }
        for (int i = 16; i < 64; ++i) {
            uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::array<uint32_t, 8> v = state_;
        for (int i = 0; i < 64; ++i) {
            uint32_t s1 = Rotr(v[4], 6) ^ Rotr(v[4], 11) ^ Rotr(v[4], 25);
            uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
            uint32_t t1 = v[7] + s1 + ch + kRound[static_cast<size_t>(i)] + w[i];
            uint32_t s0 = Rotr(v[0], 2) ^ Rotr(v[0], 13) ^ Rotr(v[0], 22);
            uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
            uint32_t t2 = s0 + maj;
            v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
        }
        for (size_t i = 0; i < 8; ++i) {
            state_[i] += v[i];
        }
    }

    std::array<uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<unsigned char, 64> block_{};
    size_t used_ = 0;
    uint64_t length_ = 0;
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
