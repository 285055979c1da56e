// The JSON form of a marking in the staff API, both ways. Annotations are objects:
//   {"type": "comment", "x": 40, "y": 120, "width": 90, "height": 20, "text": "two\nlines"}
//   {"type": "stroke", "x": 0, "y": 300, "width": 200, "height": 40,
//    "points": [[0, 0], [200, 40]]}
// Texts are Unicode; comment texts and the detail are kept as Windows-1252 (Windows1252.h). A
// comment's width and height are always computed here from its text, the way the student's
// client measures it; values sent for them are ignored.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::server::staff {

// Markup lines of one file, as the body named it.
struct FileMarkupUpdate {
    std::string name; // UTF-8, as the API shows file names
    std::string markup;
};

// The body of a PUT of a marking, checked and turned into markup that NormaliseMarkup accepted
// (the check `mark --annotations` applies), ready for the store.
struct MarkingUpdate {
    int64_t version = 0; // the version the marker saw; 0 for a submission not yet marked
    int32_t mark = 0;
    std::string detail; // Windows-1252
    std::vector<FileMarkupUpdate> files;
};

// Limits that keep one body's work bounded besides the body cap.
inline constexpr std::size_t kMaxJsonDepth = 16;
// And the most values (objects, arrays, scalars) one body may hold.
inline constexpr std::size_t kMaxJsonValues = 1'000'000;
inline constexpr std::size_t kMaxAnnotationsPerFile = 10000;
inline constexpr std::size_t kMaxPointsPerStroke = 100000;

// None with the reason in `why` (meant for the marker: it names the field or character).
std::optional<MarkingUpdate> ParseMarkingUpdate(std::string_view body, std::string& why);

// The annotations a student's client reads from stored markup, as a JSON array.
nlohmann::json AnnotationsJson(std::string_view markup);

// A JSON body parsed with its nesting limited to kMaxJsonDepth; none with the reason in `why`.
std::optional<nlohmann::json> ParseJsonBody(std::string_view body, std::string& why);

} // namespace tallyport::server::staff
