// The three questions the registration form asks for one course, and the code they are sent as.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tallyport {

// Registration for this course uses the full form (template 101) with the questionnaire.
inline constexpr int32_t kQuestionnaireCourse = 1606;

inline constexpr std::array<std::string_view, 5> kExperienceItems = {
    "None", "Written simple programs (<100 lines)", "Written moderate programs (<1000 lines)",
    "Written complex systems", "Fluent in several computer languages"};

inline constexpr std::array<std::string_view, 5> kExpectationItems = {
    "Much worse", "Worse", "About the same", "Better", "Much better"};

struct QuestionnaireAnswers {
    int32_t previousAttempts = 0;
    int32_t experience = 0;  // index into kExperienceItems
    int32_t expectation = 2; // index into kExpectationItems
};

// "%d%d%d" of the three answers; three digits once they have been validated ("002" untouched).
std::string QuestionnaireCode(const QuestionnaireAnswers& answers);

} // namespace tallyport
