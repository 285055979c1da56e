#include "protocol/Configuration.h"

#include "protocol/LeadingDecimal.h"

#include "BuildConfig.h"

#include <cctype>

namespace tallyport {

int32_t DefaultCourseNumber() {
    return LeadingDecimal(std::string_view(build::kCourseNumberSetting).substr(10));
}

char ServerSelector() {
    return build::kServerSetting[7];
}

bool LabMode() {
    return ServerSelector() == 'L';
}

Endpoint DefaultEndpoint() {
    return {LabMode() ? build::kDefaultServerAddress : build::kDefaultServerHost, kServerPort};
}

std::string ApplicationNameFromPath(std::string_view argv0) {
    const auto slash = argv0.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? argv0 : argv0.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0)
        name = name.substr(0, dot);
    return std::string(name);
}

int32_t ConfiguredCourseNumber(std::string_view applicationName) {
    constexpr std::string_view kPrefix = "vorpa";
    if (applicationName.size() >= kPrefix.size()) {
        bool matches = true;
        for (std::size_t i = 0; i < kPrefix.size(); ++i)
            matches = matches &&
                      std::tolower(static_cast<unsigned char>(applicationName[i])) == kPrefix[i];
        if (matches) {
            const int32_t number = LeadingDecimal(applicationName.substr(kPrefix.size()));
            if (number != 0)
                return number;
        }
    }
    return DefaultCourseNumber();
}

} // namespace tallyport
