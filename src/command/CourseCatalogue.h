// The courses the server serves, each with up to three components of elements and sections;
// every (component, element, section) is one entry with a status letter, kind letter and label.
#pragma once

#include "protocol/NetMessage.h"
#include "protocol/StatusCode.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport {

class Transactor;

struct CourseComponent {
    std::string name;
    int32_t elementCount = 0;
    int32_t sectionCount = 0;
};

struct Course {
    int32_t number = 0;
    std::string name;
    int32_t componentCount = 0;
    std::array<CourseComponent, 3> components{};
    int32_t entryCount = 0;
    std::vector<int32_t> status; // character codes
    std::vector<int32_t> kind;   // character codes
    std::vector<std::string> label;
};

struct CourseCatalogue {
    std::vector<Course> courses; // reply order
};

// Splits "Assignment,5,1/Quiz,3,2" into up to three component slots.
void ParseComponentSpecification(std::string_view text, Course& course);

// Reads a Course List reply; none when the reply does not hold what it announces.
std::optional<CourseCatalogue> ReadCourseCatalogue(NetMessage& reply);

// The "Course List" request body: 1, 0, 0.
NetMessage BuildCourseListRequest();

// One "Course List" transaction; none when it returned no reply or the reply was unreadable.
// `status`, when given, receives the transaction's final status.
std::optional<CourseCatalogue> LoadCourseCatalogue(Transactor& transactor,
                                                   StatusCode* status = nullptr);

int32_t EntryIndex(const Course& course, int32_t c, int32_t e, int32_t s);

// Entry accessors. An index outside the entry arrays reads as status 'U', kind 'A', label "".
char EntryStatus(const Course& course, int32_t c, int32_t e, int32_t s);
char EntryKind(const Course& course, int32_t c, int32_t e, int32_t s);
std::string_view EntryLabel(const Course& course, int32_t c, int32_t e, int32_t s);
char EntryStatusAt(const Course& course, int32_t index);
char EntryKindAt(const Course& course, int32_t index);
std::string_view EntryLabelAt(const Course& course, int32_t index);

// One status letter for an element, folded over its sections.
char ElementStatus(const Course& course, int32_t c, int32_t e);

} // namespace tallyport
