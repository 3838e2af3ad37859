// Task addresses as they may be shown: the password of a login stays in the
// task (it goes to its own host), but never reaches a terminal, a window or
// a log in clear.
#pragma once

#include <string>
#include <string_view>

namespace vardane {

inline constexpr std::string_view kMaskedSecret = "******";

// address with the password of "scheme://user:password@" replaced by
// "******", the login found as the address parser finds it.
std::string MaskAddressForDisplay(std::string_view address);

// shown is an address the user may have edited from the masked form of
// real: when shown still starts with that masked login ("scheme://user:******@",
// case of the scheme ignored), the real login takes its place; anything else
// is returned as it stands.
std::string UnmaskAddress(std::string_view shown, std::string_view real);

}  // namespace vardane
