#include "common/UtcText.h"

#include <ctime>

namespace tallyport::server {

std::string UtcText(int64_t time) {
    const std::time_t t = std::time_t(time);
    std::tm parts{};
    char text[32] = "-";
    if (gmtime_r(&t, &parts) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

} // namespace tallyport::server
