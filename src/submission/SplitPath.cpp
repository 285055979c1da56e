#include "submission/SplitPath.h"

namespace tallyport {

SplitPathResult SplitPath(std::string_view path) {
    const std::size_t separator = path.find_last_of("/\\");
    if (separator == std::string_view::npos)
        return {".", std::string(path)};
    if (separator == 0)
        return {"", std::string(path)};
    return {std::string(path.substr(0, separator)), std::string(path.substr(separator + 1))};
}

} // namespace tallyport
