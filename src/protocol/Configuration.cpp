#include "protocol/Configuration.h"

#include "BuildConfig.h"

#include <cctype>
#include <climits>

namespace tallyport {
namespace {

// Leading white space, optional sign, decimal digits; anything else ends the number (atoi rules,
// saturating instead of overflowing).
int32_t LeadingDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return int32_t(negative ? -value : value);
}

} // namespace

int32_t DefaultCourseNumber() {
    return LeadingDecimal(std::string_view(build::kCourseNumberSetting).substr(10));
}

char ServerSelector() { return build::kServerSetting[7]; }

bool LabMode() { return ServerSelector() == 'L'; }

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
            matches = matches && std::tolower(static_cast<unsigned char>(applicationName[i])) == kPrefix[i];
        if (matches) {
            const int32_t number = LeadingDecimal(applicationName.substr(kPrefix.size()));
            if (number != 0)
                return number;
        }
    }
    return DefaultCourseNumber();
}

} // namespace tallyport
