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

// A point in time as a course file writes one (2025-03-01T23:59:00Z, a local date-time, or Unix
// seconds), for the command line. None with the reason in `error`.
std::optional<int64_t> ParseCourseTime(std::string_view text, std::string& error);

// The course as a file ParseCourseToml reads back to the same definition, every entry with its
// key and every value written out. Exam files that are not plain UTF-8 text cannot be written
// inline; their names go to `skipped`.
std::string WriteCourseToml(const LoadedCourse& course, std::vector<std::string>* skipped);

} // namespace tallyport::server
