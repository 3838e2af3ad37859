#include "engine/ftp_control.h"

#include <string_view>

#include "net/proxy.h"

namespace vardane {

ControlRead ReadControlLines(CConnectionSet& set, IConnectionOwner& owner, const ProxyRecord& proxy,
                             CFtpReplyReader& reader, std::vector<CFtpReplyReader::Line>& lines,
                             bool& bounded) {
    ReceiveBuffer buffer;
    const int n = Receive(set, slotControl, buffer);
    if (n < 0) {
        return ControlRead::Nothing;
    }
    int64_t consumed = 0;
    const int step = NegotiateProxy(owner, set[slotControl], proxy, buffer.data(), n, consumed);
    if (step == proxyFailed) {
        return ControlRead::Failed;
    }
    if (step != proxyReady) {
        return ControlRead::Nothing;
    }
    bounded = reader.Feed(
        std::string_view(buffer.data() + consumed, static_cast<size_t>(n - consumed)), lines);
    return ControlRead::Lines;
}

}  // namespace vardane
