// The marking the staff benchmarks save: 50 annotations, comments of two lines and strokes of
// four points in turn, down a long file.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace tallyport::bench {

inline nlohmann::json FiftyAnnotations() {
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < 50; ++i) {
        if (i % 2 == 0)
            list.push_back({{"type", "comment"},
                            {"x", 400},
                            {"y", i * 100},
                            {"text", "Comment " + std::to_string(i) + ":\nwhy this step?"}});
        else
            list.push_back({{"type", "stroke"},
                            {"x", 0},
                            {"y", i * 100},
                            {"width", 300},
                            {"height", 20},
                            {"points", {{0, 0}, {100, 20}, {200, 0}, {300, 20}}}});
    }
    return list;
}

} // namespace tallyport::bench
