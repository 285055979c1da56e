#include "accounts/Questionnaire.h"

#include <gtest/gtest.h>

using namespace tallyport;

TEST(Questionnaire, CodeIsTheThreeAnswersAsDigits) {
    EXPECT_EQ(QuestionnaireCode({}), "002") << "untouched answers";
    EXPECT_EQ(QuestionnaireCode({2, 3, 3}), "233");
    EXPECT_EQ(QuestionnaireCode({9, 4, 0}), "940");
}
