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

// Markup lines of one file, as the body addressed it: by its index in the submission's list of
// files (what every submission can be marked by, even one holding two files of the same name),
// or by its name alone where that names one file.
struct FileMarkupUpdate {
    std::optional<std::size_t> index;
    std::string name; // UTF-8, as the API shows file names; may be empty when an index is given
    std::string markup;
    // JSON text of the annotations as AnnotationsJson reads them back from `markup`, the very
    // bytes its dump() writes, for a save to answer with.
    std::string annotations;
};

// The body of a PUT of a marking, checked and turned into markup that NormaliseMarkup accepted
// (the check `mark --annotations` applies), ready for the store.
struct MarkingUpdate {
    int64_t version = 0; // the version the marker saw; 0 for a submission not yet marked
    int32_t mark = 0;
    std::string detail; // Windows-1252
    std::vector<FileMarkupUpdate> files;
};

// Limits that keep one body's work bounded besides the body cap, and keep the marking page quick
// on the heaviest marking it may be sent: far beyond what a marker draws on one file by hand.
inline constexpr std::size_t kMaxJsonDepth = 16;
inline constexpr std::size_t kMaxAnnotationsPerFile = 1000;
inline constexpr std::size_t kMaxPointsPerStroke = 5000;
inline constexpr std::size_t kMaxCommentLines = 100;
inline constexpr std::size_t kMaxCommentBytes = 4000; // Windows-1252: one byte a character
inline constexpr std::size_t kMaxDetailBytes = 10000;
inline constexpr int64_t kMaxCoordinate = 10'000'000; // page units: a million lines or columns
// And the most values (objects, arrays, scalars) one body may hold.
inline constexpr std::size_t kMaxJsonValues = 1'000'000;

// None with the reason in `why` (meant for the marker: it names the field or character).
// `overLimit` tells a well-formed marking refused for one of the limits above (422) from a
// malformed one (400).
std::optional<MarkingUpdate> ParseMarkingUpdate(std::string_view body, std::string& why,
                                                bool* overLimit = nullptr);

// The annotations a student's client reads from stored markup, as a JSON array.
nlohmann::json AnnotationsJson(std::string_view markup);

// A JSON body parsed with its nesting limited to kMaxJsonDepth; none with the reason in `why`.
std::optional<nlohmann::json> ParseJsonBody(std::string_view body, std::string& why);

} // namespace tallyport::server::staff
