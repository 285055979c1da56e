#include "web/Download.h"

#include <cctype>

namespace tallyport::server::staff {

std::string DownloadName(std::string_view name) {
    if (const auto slash = name.find_last_of("/\\"); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    std::string safe;
    for (const char c : name)
        safe += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
    return safe.empty() ? "file" : safe;
}

void SendDownload(HttpResponse& response, std::string_view name, std::string_view bytes) {
    response.status = 200;
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("Content-Disposition",
                        "attachment; filename=\"" + DownloadName(name) + "\"");
    response.set_content(bytes.data(), bytes.size(), "application/octet-stream");
}

} // namespace tallyport::server::staff
