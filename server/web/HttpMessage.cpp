#include "web/HttpMessage.h"

#include <algorithm>
#include <cctype>

namespace tallyport::server::staff {

bool HeaderNameLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
    });
}

bool HttpRequest::has_header(std::string_view name) const {
    return headers.find(std::string(name)) != headers.end();
}

std::string HttpRequest::get_header_value(std::string_view name) const {
    const auto found = headers.find(std::string(name));
    return found == headers.end() ? std::string() : found->second;
}

void HttpResponse::set_header(std::string_view name, std::string_view value) {
    headers.emplace(std::string(name), std::string(value));
}

void HttpResponse::set_content(std::string content, std::string_view contentType) {
    body = std::move(content);
    headers.erase(std::string("Content-Type"));
    set_header("Content-Type", contentType);
}

void Router::Add(std::string method, const std::string& path, Handler handler,
                 std::size_t bodyLimit, bool upload) {
    routes_.push_back(
        {std::move(method), std::regex(path), std::move(handler), bodyLimit, upload, {}});
}

void Router::CheckUploadHeads(const HeadCheck& check) {
    for (auto& route : routes_)
        if (route.upload)
            route.checkHead = check;
}

const Router::Route* Router::Find(std::string_view method, const std::string& path,
                                  std::smatch& matches) const {
    for (const auto& route : routes_)
        if (route.method == method && std::regex_match(path, matches, route.path))
            return &route;
    return nullptr;
}

} // namespace tallyport::server::staff
