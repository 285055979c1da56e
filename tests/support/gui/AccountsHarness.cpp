#include "support/gui/AccountsHarness.h"

#include "accounts/RegisterAccount.h"

#include <QPushButton>
#include <QTest>

#include <stdexcept>

namespace tallyport::test {
namespace {

server::CourseDefinition OneAssignment(int32_t number, std::string name) {
    server::CourseDefinition course;
    course.number = number;
    course.name = std::move(name);
    course.components = {{"Assignment", 1, 1}};
    course.entries.resize(1);
    course.entries[0].label = "Assignment 1";
    return course;
}

} // namespace

AccountsHarness::AccountsHarness(std::string address, int32_t courseNumber)
    : server(dir.path() / "server", std::move(address)), transactor(server.endpoint(), ui),
      course(courseNumber) {
    std::string error;
    if (!server.store().PutCourse(OneAssignment(3101, "Programming"), {}, &error) ||
        !server.store().PutCourse(OneAssignment(1606, "Questionnaire Course"), {}, &error))
        throw std::runtime_error(error);
    auto catalogue = LoadCourseCatalogue(transactor);
    if (!catalogue)
        throw std::runtime_error("no course catalogue from the test server");
    catalogue_ = std::move(*catalogue);
    ui = ScriptedTransactionUi(); // forget the catalogue's transaction

    MainDlgCommands commands;
    commands.registerAccount = RegisterAccount;
    commands.updateAccount = std::ref(update);
    dialog_ =
        std::make_unique<MainDlg>(MainDlgSetup{catalogue_, courseNumber, transactor, prompts,
                                               std::move(commands), dir.path() / "client", false});
    dialog_->show();
    if (!QTest::qWaitForWindowActive(dialog_.get()))
        throw std::runtime_error("the main dialog did not become active");
}

void AccountsHarness::Login(std::string_view number, std::string_view password) {
    edit(mainid::kStudentNumber)->setText(QString::fromUtf8(number));
    edit(mainid::kPassword)->setText(QString::fromUtf8(password));
}

void AccountsHarness::Click(int buttonId) {
    QTest::mouseClick(FindControl<QPushButton>(dialog_.get(), buttonId), Qt::LeftButton);
}

void AccountsHarness::AddStudent(int32_t number, const std::string& password,
                                 const std::string& name, const std::string& email) {
    server::NewStudent student;
    student.course = course;
    student.number = number;
    student.password = password;
    student.name = name;
    student.email = email;
    if (server.store().RegisterStudent(student) != server::RegisterOutcome::Registered)
        throw std::runtime_error("the test account could not be added");
}

} // namespace tallyport::test
