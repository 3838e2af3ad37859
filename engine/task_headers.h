// Which request of a task gets the task's own header values: every request
// of the task (each connection, each retry, each redirect) sends its
// User-Agent and Referer; its Cookie goes only where the browser would have
// sent it, the host of the address the task was created with, and never in
// clear text when that address was https.
#pragma once

#include <string_view>

#include "engine/http_text.h"
#include "task/request_headers.h"

namespace vardane {

// Puts own into request q for a request to host over protocol ("http://" or
// "https://") of a task created with baseUrl. A value that could not stand
// in a header line (a hand-edited progress file) is not sent; the request
// keeps what the settings gave it.
void ApplyTaskHeaders(const RequestHeaders& own, std::string_view baseUrl,
                      std::string_view protocol, std::string_view host, HttpRequest& q);

// Whether the task's cookie may go to host over protocol.
bool TaskCookieGoesTo(std::string_view baseUrl, std::string_view protocol, std::string_view host);

}  // namespace vardane
