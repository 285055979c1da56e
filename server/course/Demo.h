// The demonstration data of `tallyport-server demo` (described in README.md).
#pragma once

#include <string>
#include <string_view>

namespace tallyport::server {

class Store;

inline constexpr int32_t kDemoCourse = 3101;
inline constexpr int32_t kQuestionnaireCourse = 1606;
inline constexpr int32_t kDemoStudent = 100123456; // typed as 123456
inline constexpr std::string_view kDemoPassword = "demo123";
inline constexpr std::string_view kDemoMarker = "tjones"; // marks course 3101 in the staff API
inline constexpr std::string_view kDemoMarkerPassword = "marking-demo-123";

// Loads the demo courses, marker, student, submissions and marks into `store`. Running it again
// replaces the courses and adds the submissions once more. False with the reason in `error`.
bool LoadDemo(Store& store, std::string& error);

// The TOML definitions of the two demo courses.
std::string_view DemoCourseToml();
std::string_view QuestionnaireCourseToml();

} // namespace tallyport::server
