// What a request that changes something must show before any route sees it: that a page of this
// listener sent it, not another site's (a cross-site form can post text/plain to any address, and
// so log a victim's browser into an attacker's account), and that a body it carries is JSON.
#pragma once

#include <string>
#include <string_view>

namespace tallyport::server::staff {

struct RequestHeaders {
    std::string_view method;
    std::string_view host;        // Host
    std::string_view origin;      // Origin; empty when not sent
    std::string_view fetchSite;   // Sec-Fetch-Site; empty when not sent
    std::string_view contentType; // Content-Type; empty when not sent
    bool hasBody = false;
    bool upload = false; // a file upload route: its body may also be application/octet-stream
};

struct Refusal {
    int status = 0; // 0: go ahead
    std::string why;
};

// 403 for a state-changing request that a browser says came from another site (Sec-Fetch-Site
// other than same-origin or none, or an Origin other than this listener's own); 415 for a body
// that is not `application/json` (or, on an upload route only, `application/octet-stream`).
// Scripts that send neither header go ahead.
Refusal CheckCrossSite(const RequestHeaders& request, bool tls);

} // namespace tallyport::server::staff
