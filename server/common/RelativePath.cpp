#include "common/RelativePath.h"

#include <algorithm>

namespace tallyport::server {

bool HasOnlyPlainSegments(std::string_view name) {
    std::size_t start = 0;
    while (start <= name.size()) {
        const auto end = std::min(name.find('/', start), name.size());
        const auto part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace tallyport::server
