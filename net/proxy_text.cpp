#include "net/proxy_text.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "settings/proxy_record.h"

namespace vardane {

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void AppendAddress(std::string& out, const sockaddr_in& target) {
    const char* address = reinterpret_cast<const char*>(&target.sin_addr.s_addr);
    out.append(address, 4);
}

void AppendPort(std::string& out, const sockaddr_in& target) {
    const char* port = reinterpret_cast<const char*>(&target.sin_port);
    out.append(port, 2);
}

}  // namespace

std::string Base64Encode(std::string_view text) {
    const std::string bytes = WideToAnsi(text);
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t group = (static_cast<uint8_t>(bytes[i]) << 16) |
                         (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                         static_cast<uint8_t>(bytes[i + 2]);
        out += kBase64Alphabet[(group >> 18) & 0x3F];
        out += kBase64Alphabet[(group >> 12) & 0x3F];
        out += kBase64Alphabet[(group >> 6) & 0x3F];
        out += kBase64Alphabet[group & 0x3F];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
        if (rest == 2) {
            group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        }
        out += kBase64Alphabet[(group >> 18) & 0x3F];
        out += kBase64Alphabet[(group >> 12) & 0x3F];
        out += rest == 2 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
        out += '=';
    }
    return out;
}

std::string HexBytes(const void* bytes, size_t n) {
    const auto* data = static_cast<const uint8_t*>(bytes);
    std::string out;
    out.reserve(n * 3);
    char digits[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(digits, sizeof(digits), "%02X ", data[i]);
        out += digits;
    }
    return out;
}

size_t FindHeaderEnd(const char* bytes, size_t n) {
    for (size_t i = 0; i + 4 <= n; ++i) {
        if (std::memcmp(bytes + i, "\r\n\r\n", 4) == 0) {
            return i + 4;
        }
    }
    return 0;
}

std::string ReplyStatus(std::string_view text) {
    if (!StartsWithNoCase(text, "HTTP")) {
        return {};
    }
    size_t blank = text.find(' ');
    if (blank == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(blank + 1, 3));
}

std::string MaskCredentials(std::string_view line) {
    static constexpr std::string_view kSecretHeaders[] = {
        "Proxy-Authorization:", "Authorization:", "Cookie:"};
    for (std::string_view name : kSecretHeaders) {
        if (StartsWithNoCase(line, name)) {
            size_t value = name.size();
            while (value < line.size() && (line[value] == ' ' || line[value] == '\t')) {
                ++value;
            }
            return std::string(line.substr(0, value)) + "******";
        }
    }
    return std::string(line);
}

std::string Socks5Greeting(bool authenticate) {
    return std::string{'\x05', '\x01', authenticate ? '\x02' : '\x00'};
}

std::optional<std::string> Socks5Credentials(std::string_view user, std::string_view password) {
    const std::string userBytes = WideToAnsi(user);
    const std::string passwordBytes = WideToAnsi(password);
    if (userBytes.size() > 255 || passwordBytes.size() > 255) {
        return std::nullopt;
    }
    std::string out{'\x01'};
    out += static_cast<char>(userBytes.size());
    out += userBytes;
    out += static_cast<char>(passwordBytes.size());
    out += passwordBytes;
    return out;
}

std::string Socks5ConnectRequest(const sockaddr_in& target) {
    std::string out{'\x05', '\x01', '\x00', '\x01'};
    AppendAddress(out, target);
    AppendPort(out, target);
    return out;
}

std::string Socks5ConnectRequest(const sockaddr_storage& target) {
    if (target.ss_family != AF_INET6) {
        return Socks5ConnectRequest(reinterpret_cast<const sockaddr_in&>(target));
    }
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(target);
    std::string out{'\x05', '\x01', '\x00', '\x04'};
    out.append(reinterpret_cast<const char*>(&v6.sin6_addr), sizeof(v6.sin6_addr));
    out.append(reinterpret_cast<const char*>(&v6.sin6_port), 2);
    return out;
}

std::string Socks4Request(const sockaddr_in& target) {
    std::string out{'\x04', '\x01'};
    AppendPort(out, target);
    AppendAddress(out, target);
    out += '\x00';
    return out;
}

size_t Socks5ReplyLength(const char* bytes, size_t n) {
    if (n < 4) {
        return 10;
    }
    switch (bytes[3]) {
        case 0x04:
            return 22;
        case 0x03:
            return n >= 5 ? 7 + static_cast<uint8_t>(bytes[4]) : 10;
        default:
            return 10;
    }
}

std::string ConnectRequestLine(const std::string& targetHost, int targetPort) {
    return "CONNECT " + HostPortText(targetHost, targetPort) + " HTTP/1.1\r\n";
}

std::string ProxyAuthorizationLine(const ProxyRecord& proxy) {
    return "Proxy-Authorization: Basic " + Base64Encode(proxy.User + ":" + proxy.Password) + "\r\n";
}

}  // namespace vardane
