// Build-time configuration and the "vorpa" rule over the application name.
#include "protocol/Configuration.h"

#include "BuildConfig.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace tallyport;

TEST(Configuration, ApplicationNameIsTheFileNameWithoutExtension) {
    struct Case {
        std::string_view path;
        std::string name;
    };
    for (const Case& c : std::vector<Case>{{"/usr/bin/tallyport-submit", "tallyport-submit"},
                                           {"VORPA3102.exe", "VORPA3102"},
                                           {"./vorpa3102", "vorpa3102"},
                                           {"dir.d/submit", "submit"},
                                           {"a.b.c", "a.b"},
                                           {".hidden", ".hidden"},
                                           {"", ""}}) {
        SCOPED_TRACE(std::string(c.path));
        EXPECT_EQ(ApplicationNameFromPath(c.path), c.name);
    }
}

TEST(Configuration, VorpaNameWithANonzeroNumberChoosesTheCourse) {
    const int32_t builtIn = DefaultCourseNumber();
    struct Case {
        std::string_view name;
        int32_t course;
    };
    for (const Case& c : std::vector<Case>{
             {"vorpa3102", 3102},
             {"VORPA3102", 3102}, // the prefix in any case
             {"VoRpA42", 42},
             {"vorpa3102abc", 3102}, // leading digits only
             {"vorpa-5", -5},        // nonzero, so it counts
             {"vorpa+7", 7},
             {"vorpa0", builtIn},
             {"vorpa", builtIn},
             {"vorpax", builtIn}, // no digits reads as 0
             {"vorpa-", builtIn},
             {"vorpa99999999999", INT32_MAX},
             {"vorp3102", builtIn},
             {"xvorpa3102", builtIn},
             {"tallyport-submit", builtIn},
             {"", builtIn},
         }) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_EQ(ConfiguredCourseNumber(c.name), c.course);
    }
}

TEST(Configuration, FixedStringsGiveTheDefaults) {
    const std::string courseSetting = build::kCourseNumberSetting;
    const std::string serverSetting = build::kServerSetting;
    ASSERT_EQ(courseSetting.rfind("COURSENUM=", 0), 0u);
    ASSERT_EQ(serverSetting.rfind("SERVER=", 0), 0u);
    EXPECT_EQ(std::to_string(DefaultCourseNumber()), courseSetting.substr(10));
    EXPECT_EQ(ServerSelector(), serverSetting[7]);
    EXPECT_EQ(LabMode(), ServerSelector() == 'L');
    const Endpoint endpoint = DefaultEndpoint();
    EXPECT_EQ(endpoint.port, 2047);
    EXPECT_EQ(endpoint.host, LabMode() ? build::kDefaultServerAddress : build::kDefaultServerHost);
}
