// Course definitions in TOML, as staff write them (the format is described in README.md).
#pragma once

#include "course/CourseDefinition.h"
#include "store/Store.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tallyport::server {

struct LoadedCourse {
    CourseDefinition course;
    std::vector<std::pair<int32_t, std::vector<ExamFile>>> examFiles; // by entry index
};

// Reads a course definition. Exam files given by path are read relative to `baseFolder`.
// None with a message naming the key or line at fault in `error`. Unknown keys are errors, so a
// misspelt deadline is never silently ignored.
std::optional<LoadedCourse>
ParseCourseToml(std::string_view text, const std::filesystem::path& baseFolder, std::string& error);

} // namespace tallyport::server
