#include "accounts/Questionnaire.h"

#include "ui/Prompts.h"

namespace tallyport {

std::string QuestionnaireCode(const QuestionnaireAnswers& answers) {
    return FormatMessage("%d%d%d", answers.previousAttempts, answers.experience,
                         answers.expectation);
}

} // namespace tallyport
