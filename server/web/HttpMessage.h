// The web listener's own request, response and route table: what a route sees and answers, and
// which routes exist with the most body each may be sent. The listener (StaffListener) reads and
// writes these with Boost.Beast; routes never see the wire.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::server::staff {

// Header names compare without case, as HTTP has them.
struct HeaderNameLess {
    bool operator()(std::string_view a, std::string_view b) const;
};
using HttpHeaders = std::multimap<std::string, std::string, HeaderNameLess>;

struct HttpRequest {
    std::string method;
    std::string path; // the target without its query
    HttpHeaders headers;
    std::string body;
    std::smatch matches; // the route's captures in `path`
    std::string remote_addr;

    bool has_header(std::string_view name) const;
    // The first value of `name`; empty when there is none.
    std::string get_header_value(std::string_view name) const;
};

struct HttpResponse {
    int status = 200;
    HttpHeaders headers;
    std::string body;
    std::string marker; // the logged-in marker it answered, for the request log

    void set_header(std::string_view name, std::string_view value);
    void set_content(std::string content, std::string_view contentType);
    void set_content(const char* data, std::size_t size, std::string_view contentType) {
        set_content(std::string(data, size), contentType);
    }
};

// The most body a route takes: none for a GET; a few kilobytes for a POST or PUT unless the
// route says otherwise (a login, a logout, a release); the marking a save sends is larger.
inline constexpr std::size_t kNoBody = 0;
inline constexpr std::size_t kSmallBody = 4 << 10;
inline constexpr std::size_t kMarkingBody = std::size_t(4) << 20;

class Router {
public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    // Looks at a request's head before its body is read; false after answering it.
    using HeadCheck = std::function<bool(const HttpRequest&, HttpResponse&)>;

    struct Route {
        std::string method;
        std::regex path;
        Handler handler;
        std::size_t bodyLimit;
        // A file upload: its body is raw bytes (application/octet-stream), and its limit is its
        // own rather than one under the listener's cap for JSON bodies.
        bool upload = false;
        HeadCheck checkHead; // none: every head that fits the route is read on
    };

    void Get(const std::string& path, Handler handler) {
        Add("GET", path, std::move(handler), kNoBody);
    }
    void Post(const std::string& path, Handler handler, std::size_t bodyLimit = kSmallBody) {
        Add("POST", path, std::move(handler), bodyLimit);
    }
    void Put(const std::string& path, Handler handler, std::size_t bodyLimit = kSmallBody) {
        Add("PUT", path, std::move(handler), bodyLimit);
    }
    // A POST whose body is the bytes of a file, up to `bodyLimit`.
    void Upload(const std::string& path, Handler handler, std::size_t bodyLimit) {
        Add("POST", path, std::move(handler), bodyLimit, true);
    }
    void Add(std::string method, const std::string& path, Handler handler, std::size_t bodyLimit,
             bool upload = false);
    // Every upload route added so far reads its body only after `check` lets the head through,
    // so that megabytes are taken in from their own callers only.
    void CheckUploadHeads(const HeadCheck& check);

    // The route for `method` on the whole of `path`, with its captures in `matches`; null when
    // there is none.
    const Route* Find(std::string_view method, const std::string& path, std::smatch& matches) const;

private:
    std::vector<Route> routes_;
};

} // namespace tallyport::server::staff
