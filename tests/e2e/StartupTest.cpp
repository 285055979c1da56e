// Start-up against a real server on loopback: the catalogue shown in the main dialog, the
// connection question with Retry, the not-set-up path, the networking failure message.
#include "app/MainDlg.h"
#include "app/SubmitApp.h"
#include "support/InProcessServer.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"
#include "support/gui/ModalDriver.h"
#include "ui/DialogUnits.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace tallyport::test {
namespace {

constexpr char kSecondCourse[] = R"(
number = 3102
name = "Data Structures"

[[component]]
name = "Assignment"
elements = 2
sections = 1
)";

struct MainDialogSeen {
    QStringList courses;
    bool courseListEnabled = false;
};

// When the main dialog comes up: note its course list, then press Exit.
std::shared_ptr<DriveResult> ExitMainDialog(MainDialogSeen& seen) {
    return WhenShown<MainDlg>([&seen](MainDlg* dialog) {
        auto* courses = FindControl<QComboBox>(dialog, mainid::kCourse);
        for (int i = 0; i < courses->count(); ++i)
            seen.courses << courses->itemText(i);
        seen.courseListEnabled = courses->isEnabled();
        QTest::mouseClick(FindControl<QPushButton>(dialog, mainid::kExit), Qt::LeftButton);
    });
}

class StartupTest : public ::testing::Test {
protected:
    SubmitAppSetup Setup(std::string name = "tallyport-submit") {
        SubmitAppSetup setup;
        setup.applicationName = std::move(name);
        setup.endpoint = server.endpoint();
        setup.tempFolder = dir.path();
        setup.labMode = false;
        return setup;
    }

    TempDir dir;
    InProcessServer server{dir.path(), "127.0.0.4"};
    ScriptedPrompts prompts;
};

TEST_F(StartupTest, ShowsTheConfiguredCourseAndReleasesTheCatalogue) {
    server.LoadDemo();
    MainDialogSeen seen;
    auto driven = ExitMainDialog(seen);
    SubmitApp app(Setup(), prompts);
    EXPECT_EQ(app.Run(), 0);
    ASSERT_TRUE(driven->found);
    EXPECT_EQ(seen.courses.size(), 1); // course 3101 only, though the demo serves 1606 too
    EXPECT_FALSE(seen.courseListEnabled);
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_FALSE(app.holdsCatalogue());
}

TEST_F(StartupTest, RenamedProgramListsItsOwnCourse) {
    server.LoadDemo();
    server.LoadCourse(kSecondCourse);
    MainDialogSeen seen;
    auto driven = ExitMainDialog(seen);
    SubmitApp app(Setup("VORPA3102"), prompts);
    EXPECT_EQ(app.Run(), 0);
    ASSERT_TRUE(driven->found);
    EXPECT_EQ(seen.courses, QStringList{QStringLiteral("Data Structures")});
}

TEST_F(StartupTest, ServerDownAsksAndIgnoreOrAbortEndsWithoutAWindow) {
    server.Stop();
    for (Answer answer : {Answer::Ignore, Answer::Abort}) {
        prompts.shown.clear();
        prompts.answers = {answer};
        MainDialogSeen seen;
        auto driven = ExitMainDialog(seen);
        SubmitApp app(Setup(), prompts);
        EXPECT_EQ(app.Run(), 1);
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].text, "Unable to establish connection to server.");
        EXPECT_EQ(prompts.shown[0].buttons, Buttons::AbortRetryIgnore);
        EXPECT_EQ(prompts.shown[0].icon, Icon::Question);
        QCoreApplication::processEvents();
        EXPECT_EQ(FindWindow<MainDlg>(), nullptr);
        EXPECT_FALSE(driven->found);
        CloseAllDialogs();
    }
}

TEST_F(StartupTest, RetrySucceedsOnceTheServerIsUp) {
    server.LoadDemo();
    server.Stop();
    prompts.answers = {Answer::Retry};
    prompts.onMessage = [this](const ShownMessage&) { server.Start(); };
    MainDialogSeen seen;
    auto driven = ExitMainDialog(seen);
    SubmitApp app(Setup(), prompts);
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(prompts.texts(),
              std::vector<std::string>{"Unable to establish connection to server."});
    ASSERT_TRUE(driven->found);
    EXPECT_EQ(seen.courses.size(), 1);
}

TEST_F(StartupTest, CourseNotSetUp) {
    server.LoadDemo();
    MainDialogSeen seen;
    auto driven = ExitMainDialog(seen);
    SubmitApp app(Setup("vorpa4999"), prompts);
    app.Run();
    EXPECT_EQ(prompts.texts(),
              std::vector<std::string>{"Your course has not yet been set up!  Try again later."});
    EXPECT_EQ(prompts.shown[0].buttons, Buttons::Ok);
    EXPECT_FALSE(driven->found); // the dialog never showed
    EXPECT_FALSE(app.holdsCatalogue());
    CloseAllDialogs();
}

TEST_F(StartupTest, NoNetworkingIsReportedBeforeAnyRequest) {
    server.LoadDemo();
    SubmitAppSetup setup = Setup();
    setup.startNetworking = [] { return false; };
    SubmitApp app(std::move(setup), prompts);
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(prompts.texts(), std::vector<std::string>{"Windows sockets initialization failed."});
    EXPECT_EQ(prompts.shown[0].buttons, Buttons::Ok);
    EXPECT_EQ(server.requestsServed(), 0);
}

} // namespace
} // namespace tallyport::test
