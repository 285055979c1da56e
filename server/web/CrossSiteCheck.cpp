#include "web/CrossSiteCheck.h"

#include <algorithm>
#include <cctype>

namespace tallyport::server::staff {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsType(std::string_view contentType, std::string_view wanted) {
    const auto end = contentType.find(';');
    std::string_view type = contentType.substr(0, end);
    while (!type.empty() && type.back() == ' ')
        type.remove_suffix(1);
    return SameLetters(type, wanted);
}

} // namespace

Refusal CheckCrossSite(const RequestHeaders& request, bool tls) {
    const bool changes = request.method == "POST" || request.method == "PUT" ||
                         request.method == "DELETE" || request.method == "PATCH";
    if (!changes)
        return {};
    if (!request.fetchSite.empty() && request.fetchSite != "same-origin" &&
        request.fetchSite != "none")
        return {403, "a request from another site cannot change anything here"};
    if (!request.origin.empty() &&
        !SameLetters(request.origin,
                     std::string(tls ? "https://" : "http://") + std::string(request.host)))
        return {403, "a request from another site cannot change anything here"};
    if (request.hasBody && request.upload &&
        !IsType(request.contentType, "application/octet-stream"))
        return {415, "the body must be the file's bytes, sent as application/octet-stream"};
    if (request.hasBody && !request.upload && !IsType(request.contentType, "application/json"))
        return {415, "the body must be JSON, sent as application/json"};
    return {};
}

} // namespace tallyport::server::staff
