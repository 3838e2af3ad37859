// An address typed, imported or sent as a redirect target.
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/text.h"
#include "task/download_task.h"
#include "task/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string address(reinterpret_cast<const char*>(data), size);
    vardane::TaskDescriptor d;
    if (vardane::ParseUrlInto(d, address)) {
        const bool http = d.Protocol == "http://" || d.Protocol == "https://";
        FUZZ_CHECK(http || d.Protocol == "ftp://", address);
        FUZZ_CHECK(!d.Host.empty() && d.Host.find('/') == std::string::npos, address);
        // HTTP(S) addresses lose their fragment and send blanks as %20; FTP
        // addresses go as they stand.
        std::string sent = address;
        if (http) {
            sent = vardane::ReplaceCopy(sent.substr(0, sent.find('#')), " ", "%20");
        }
        FUZZ_CHECK(d.URL == sent, address);
        FUZZ_CHECK(!d.RequestPath.empty() && d.RequestPath.front() == '/', address);
        FUZZ_CHECK(d.RequestPath.find('.') != std::string::npos, address);
        FUZZ_CHECK(d.FileName.find_first_of("/\\?&") == std::string::npos, address);
        // The path is a tail of the address: nothing was invented.
        FUZZ_CHECK(sent.size() >= d.RequestPath.size() &&
                       sent.compare(sent.size() - d.RequestPath.size(), d.RequestPath.size(),
                                    d.RequestPath) == 0,
                   address);
        FUZZ_CHECK(d.Referer.empty() || sent.compare(0, d.Referer.size(), d.Referer) == 0, address);
    }
    vardane::PathParts parts = vardane::SplitPath(address);
    FUZZ_CHECK(parts.Dir + parts.Name + parts.Ext == address, address);
    return 0;
}
