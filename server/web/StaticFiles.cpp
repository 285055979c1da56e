#include "web/StaticFiles.h"

#include "web/StaffRoutes.h"

#include <fstream>
#include <iterator>
#include <map>

namespace tallyport::server::staff {
namespace {

// The files are a few kilobytes; anything larger in the folder is not ours.
constexpr std::streamsize kMaxFileBytes = 1 << 20;

const std::map<std::string, std::string>& ContentTypes() {
    static const std::map<std::string, std::string> types{
        {"html", "text/html; charset=utf-8"},
        {"js", "text/javascript; charset=utf-8"},
        {"css", "text/css; charset=utf-8"},
        {"svg", "image/svg+xml"},
    };
    return types;
}

} // namespace

HttpHeaders SecurityHeaders() {
    return {
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
         "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'"},
        {"X-Frame-Options", "DENY"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Cross-Origin-Opener-Policy", "same-origin"},
    };
}

void InstallStaticFiles(Router& server, const std::string& folder) {
    if (folder.empty())
        return;
    server.Get(R"(/(?:([a-z0-9-]+)\.(html|js|css|svg))?)",
               [folder](const HttpRequest& request, HttpResponse& response) {
                   const std::string stem =
                       request.matches[1].matched ? request.matches[1].str() : std::string("index");
                   const std::string extension =
                       request.matches[2].matched ? request.matches[2].str() : "html";
                   std::ifstream in(folder + "/" + stem + "." + extension, std::ios::binary);
                   std::string body;
                   if (in) {
                       in.seekg(0, std::ios::end);
                       const std::streamsize size = in.tellg();
                       in.seekg(0);
                       if (size >= 0 && size <= kMaxFileBytes)
                           body.assign(std::istreambuf_iterator<char>(in), {});
                   }
                   if (!in || body.empty()) {
                       SendError(response, 404, "no such page");
                       return;
                   }
                   // Pages change only with the server package; a reload after an upgrade
                   // must not mix old and new modules.
                   response.set_header("Cache-Control", "no-cache");
                   response.set_content(body, ContentTypes().at(extension).c_str());
               });
}

} // namespace tallyport::server::staff
