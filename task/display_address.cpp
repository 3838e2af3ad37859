#include "task/display_address.h"

#include "platform/text.h"

namespace vardane {

namespace {

// Offsets of the password in address: [begin, end), end at the '@'. False
// when the address carries no "user:password@".
bool FindPassword(std::string_view address, size_t& begin, size_t& end) {
    const size_t scheme = address.find("://");
    if (scheme == std::string_view::npos) {
        return false;
    }
    const size_t start = scheme + 3;
    const size_t first = address.find('@', start);
    if (first == std::string_view::npos) {
        return false;
    }
    // The address parser ends the login at the first '@', a reader of the
    // authority at its last one: the mask covers both readings.
    end = address.substr(0, address.find('/', first)).rfind('@');
    const size_t colon = address.substr(start, end - start).find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    begin = start + colon + 1;
    return begin < end;
}

}  // namespace

std::string MaskAddressForDisplay(std::string_view address) {
    size_t begin = 0, end = 0;
    if (!FindPassword(address, begin, end)) {
        return std::string(address);
    }
    return std::string(address.substr(0, begin)) + std::string(kMaskedSecret) +
           std::string(address.substr(end));
}

std::string UnmaskAddress(std::string_view shown, std::string_view real) {
    size_t begin = 0, end = 0;
    if (!FindPassword(real, begin, end)) {
        return std::string(shown);
    }
    // "scheme://user:******@" as the masked form shows it.
    const std::string maskedLogin =
        std::string(real.substr(0, begin)) + std::string(kMaskedSecret) + "@";
    const size_t scheme = maskedLogin.find("://");
    if (shown.size() < maskedLogin.size() ||
        !EqualsNoCase(shown.substr(0, scheme), maskedLogin.substr(0, scheme)) ||
        shown.substr(scheme, maskedLogin.size() - scheme) != maskedLogin.substr(scheme)) {
        return std::string(shown);
    }
    return std::string(real.substr(0, end + 1)) + std::string(shown.substr(maskedLogin.size()));
}

}  // namespace vardane
