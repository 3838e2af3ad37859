#include "task/display_address.h"

#include "platform/text.h"
#include "task/url.h"

namespace vardane {

namespace {

// Offsets of the password in address: [begin, end), end at the '@' that
// ends the login, found by the same rule the address parser uses. False when
// the address carries no "user:password@".
bool FindPassword(std::string_view address, size_t& begin, size_t& end) {
    const UrlAuthority a = FindAuthority(address);
    if (a.Begin == UrlAuthority::npos || a.At == UrlAuthority::npos) {
        return false;
    }
    const size_t colon = address.substr(a.Begin, a.At - a.Begin).find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    begin = a.Begin + colon + 1;
    end = a.At;
    return begin < end;
}

}  // namespace

std::string MaskAddressForDisplay(std::string_view address) {
    return MaskUrlPassword(address);
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
