// An address typed, imported, sent as a redirect target or built from a
// listing.
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/text.h"
#include "task/download_task.h"
#include "task/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string address(reinterpret_cast<const char*>(data), size);
    vardane::UrlParts parts;
    if (vardane::SplitUrl(address, parts)) {
        // The host is what lies between the login and the path: never a
        // piece of either.
        FUZZ_CHECK(!parts.Host.empty() && parts.Host.find_first_of("/@?#") == std::string::npos,
                   address);
        FUZZ_CHECK(!vardane::HasControlCharacter(parts.User + parts.Password), address);
        if (parts.Protocol == "ftp://") {
            FUZZ_CHECK(
                vardane::PercentDecode(parts.Tail).find_first_of(std::string_view("\r\n\0", 3)) ==
                    std::string::npos,
                address);
        }
        // The masker finds the same authority as the parser.
        vardane::UrlParts masked;
        FUZZ_CHECK(vardane::SplitUrl(vardane::MaskUrlPassword(address), masked) &&
                       masked.Host == parts.Host && masked.Port == parts.Port &&
                       masked.User == parts.User && masked.Tail == parts.Tail,
                   address);
    }
    vardane::TaskDescriptor d;
    if (vardane::ParseUrlInto(d, address)) {
        const bool http = d.Protocol == "http://" || d.Protocol == "https://";
        FUZZ_CHECK(http || d.Protocol == "ftp://", address);
        FUZZ_CHECK(!d.Host.empty() && d.Host.find_first_of("/@") == std::string::npos, address);
        // HTTP(S) addresses lose their fragment and send blanks as %20; FTP
        // addresses go as they stand.
        std::string sent = address;
        if (http) {
            sent = vardane::ReplaceCopy(sent.substr(0, sent.find('#')), " ", "%20");
        }
        FUZZ_CHECK(d.URL == sent, address);
        FUZZ_CHECK(!d.RequestPath.empty() && d.RequestPath.front() == '/', address);
        FUZZ_CHECK(d.RequestPath.find('.') != std::string::npos, address);
        // A decoded name is still one plain name.
        FUZZ_CHECK(d.FileName.find_first_of("/\\") == std::string::npos &&
                       !vardane::HasControlCharacter(d.FileName),
                   address);
        // The path is a tail of the address: nothing was invented.
        FUZZ_CHECK(sent.size() >= d.RequestPath.size() &&
                       sent.compare(sent.size() - d.RequestPath.size(), d.RequestPath.size(),
                                    d.RequestPath) == 0,
                   address);
        // The Referer is the head of the address without its login.
        const std::string bare = vardane::WithLogin(sent, "", "");
        FUZZ_CHECK(d.Referer.empty() || bare.compare(0, d.Referer.size(), d.Referer) == 0, address);
        // Built again from its parts (the login encoded), the address reads
        // back to the same host, port and login. A host ":81" (a colon at
        // its first position) has no written form of its own.
        if (d.Host.front() != ':') {
            vardane::TaskDescriptor again;
            const std::string built =
                vardane::BuildUrl(d.Protocol, d.User, d.Password, d.Host, d.Port, d.RequestPath);
            FUZZ_CHECK(vardane::ParseUrlInto(again, built) && again.Host == d.Host &&
                           again.Port == d.Port && again.User == d.User &&
                           again.Password == d.Password,
                       built);
        }
    }
    vardane::PathParts parts2 = vardane::SplitPath(address);
    FUZZ_CHECK(parts2.Dir + parts2.Name + parts2.Ext == address, address);
    return 0;
}
