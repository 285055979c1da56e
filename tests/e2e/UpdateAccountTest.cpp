// The Update Info command end to end: the real main dialog and UpdateDlg against the in-process
// server, with the account's record checked on the server and the next command proving the
// password the main dialog was given.
#include "accounts/AccountFields.h"
#include "accounts/UpdateDlg.h"
#include "protocol/PasswordHash.h"
#include "support/gui/AccountsHarness.h"
#include "support/gui/ModalDriver.h"

#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace tallyport::test {
namespace {

constexpr int32_t kStudent = 100123456; // typed as 123456
constexpr char kUpdated[] = "Your information has been successfully updated";

QLineEdit* Edit(QWidget* dialog, int id) {
    return FindControl<QLineEdit>(dialog, id);
}
std::string Text(QWidget* dialog, int id) {
    return Edit(dialog, id)->text().toStdString();
}
void Set(QWidget* dialog, int id, const char* text) {
    Edit(dialog, id)->setText(QString::fromUtf8(text));
}
void PressOk(QDialog* dialog) {
    QTest::mouseClick(FindControl<QPushButton>(dialog, 1), Qt::LeftButton);
}

struct Shown {
    std::string password, retype, name, email;
};

Shown Read(QWidget* dialog) {
    return {Text(dialog, 1012), Text(dialog, 1014), Text(dialog, 1015), Text(dialog, 1016)};
}

class UpdateAccountTest : public ::testing::Test {
protected:
    UpdateAccountTest() {
        h.AddStudent(kStudent, "demo123", "Ann Lee", "ann@example.org");
        h.Login("123456", "demo123");
    }
    AccountsHarness h{"127.0.0.30", 3101};
};

} // namespace

TEST_F(UpdateAccountTest, UnchangedFieldsKeepTheRecord) {
    Shown shown;
    auto drive = WhenShown<UpdateDlg>([&](UpdateDlg* dialog) {
        shown = Read(dialog);
        PressOk(dialog);
    });
    h.Click(mainid::kUpdate);

    ASSERT_TRUE(drive->found);
    EXPECT_EQ(shown.password, "demo123");
    EXPECT_EQ(shown.retype, "demo123");
    EXPECT_EQ(shown.name, "Ann Lee");
    EXPECT_EQ(shown.email, "ann@example.org");
    EXPECT_EQ(h.ui.titles,
              (std::vector<std::string>{"Student Verification", "Password & E-mail Address"}));
    EXPECT_EQ(h.prompts.texts(), std::vector<std::string>{kUpdated});
    const auto record = h.server.store().FindStudent(3101, kStudent);
    EXPECT_EQ(record->passwordHash, "QZeA4rc9ffzjc"); // crypt("demo123", "QZ")
    EXPECT_EQ(record->name, "Ann Lee");
    EXPECT_EQ(record->email, "ann@example.org");
    EXPECT_EQ(h.edit(mainid::kPassword)->text(), QStringLiteral("demo123"));
}

// The new password goes to the server as its hash and into the main dialog, so the next
// command (here Update Info again, on the same dialog object) proves it.
TEST_F(UpdateAccountTest, NewPasswordIsProvedByTheNextCommand) {
    auto first = WhenShown<UpdateDlg>([&](UpdateDlg* dialog) {
        Set(dialog, 1012, "  newpw1 ");
        Set(dialog, 1014, "newpw1");
        Set(dialog, 1015, " Ann B. Lee ");
        Set(dialog, 1016, "ann.lee@example.org");
        PressOk(dialog);
    });
    h.Click(mainid::kUpdate);
    ASSERT_TRUE(first->found);
    EXPECT_EQ(h.prompts.texts(), std::vector<std::string>{kUpdated});
    auto record = h.server.store().FindStudent(3101, kStudent);
    EXPECT_EQ(record->passwordHash, "QZojmIZBdmiNQ"); // crypt("newpw1", "QZ")
    EXPECT_EQ(record->name, "Ann B. Lee");
    EXPECT_EQ(record->email, "ann.lee@example.org");
    EXPECT_EQ(h.edit(mainid::kPassword)->text(), QStringLiteral("newpw1"));
    UpdateDlg* const dialogObject = h.update.dialog();

    Shown shown;
    auto second = WhenShown<UpdateDlg>([&](UpdateDlg* dialog) {
        shown = Read(dialog);
        dialog->reject();
    });
    h.Click(mainid::kUpdate);
    ASSERT_TRUE(second->found);
    EXPECT_TRUE(h.ui.reported.empty()) << "the verification with the new password passed";
    EXPECT_EQ(h.update.dialog(), dialogObject) << "one dialog object for the program's run";
    EXPECT_EQ(shown.password, "newpw1");
    EXPECT_EQ(shown.retype, "newpw1");
    EXPECT_EQ(shown.name, "Ann B. Lee");
}

TEST_F(UpdateAccountTest, WrongPasswordMovesTheFocusToThePassword) {
    h.Login("123456", "wrong1");
    auto drive = WhenShown<UpdateDlg>([](UpdateDlg* dialog) { dialog->reject(); }, 500);
    h.edit(mainid::kStudentNumber)->setFocus();
    h.Click(mainid::kUpdate);
    EXPECT_FALSE(drive->found) << "the dialog must not open";
    EXPECT_EQ(h.ui.reported, std::vector<StatusCode>{status::kWrongPassword});
    EXPECT_EQ(h.ui.titles, std::vector<std::string>{"Student Verification"});
    EXPECT_EQ(h.dialog().focusWidget(), h.edit(mainid::kPassword));
    EXPECT_EQ(h.edit(mainid::kPassword)->selectedText(), QStringLiteral("wrong1"));
}

TEST_F(UpdateAccountTest, UnknownStudentMovesTheFocusToTheStudentNumber) {
    h.Login("654321", "demo123");
    auto drive = WhenShown<UpdateDlg>([](UpdateDlg* dialog) { dialog->reject(); }, 500);
    h.edit(mainid::kPassword)->setFocus();
    h.Click(mainid::kUpdate);
    EXPECT_FALSE(drive->found);
    EXPECT_EQ(h.ui.reported, std::vector<StatusCode>{status::kUnknownStudent});
    EXPECT_EQ(h.dialog().focusWidget(), h.edit(mainid::kStudentNumber));
}

// After an ignored connection failure the dialog comes back with what was entered, both
// password boxes holding the new password; once the server is back OK updates the record.
TEST_F(UpdateAccountTest, IgnoredConnectionFailureReopensTheDialog) {
    Shown shown;
    std::shared_ptr<DriveResult> second;
    auto first = WhenShown<UpdateDlg>([&](UpdateDlg* dialog) {
        Set(dialog, 1012, " newpw1");
        Set(dialog, 1014, "newpw1");
        Set(dialog, 1015, "Ann Lee-Smith");
        h.server.Stop();
        second = WhenShown<UpdateDlg>([&](UpdateDlg* again) {
            shown = Read(again);
            h.server.Start();
            PressOk(again);
        });
        PressOk(dialog);
    });
    h.Click(mainid::kUpdate);

    ASSERT_TRUE(first->found);
    ASSERT_TRUE(second && second->found);
    EXPECT_EQ(h.ui.reported, std::vector<StatusCode>{status::kNoConnection});
    EXPECT_EQ(shown.password, "newpw1");
    EXPECT_EQ(shown.retype, "newpw1");
    EXPECT_EQ(shown.name, "Ann Lee-Smith");
    EXPECT_EQ(shown.email, "ann@example.org");
    EXPECT_EQ(h.prompts.texts(), std::vector<std::string>{kUpdated});
    EXPECT_EQ(h.server.store().FindStudent(3101, kStudent)->passwordHash, HashPassword("newpw1"));
    EXPECT_EQ(h.edit(mainid::kPassword)->text(), QStringLiteral("newpw1"));
}

// A record that breaks the field rules (a comma in the name) must be corrected before OK is
// accepted; nothing is sent meanwhile.
TEST(UpdateAccount, RecordBreakingTheRulesMustBeCorrected) {
    AccountsHarness h{"127.0.0.31", 3101};
    h.AddStudent(kStudent, "demo123", "Lee, Ann", "ann@example.org");
    h.Login("123456", "demo123");
    std::vector<std::string> messagesBeforeFix;
    auto drive = WhenShown<UpdateDlg>([&](UpdateDlg* dialog) {
        PressOk(dialog);
        messagesBeforeFix = h.prompts.texts();
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->focusWidget(), Edit(dialog, 1015));
        Set(dialog, 1015, "Ann Lee");
        PressOk(dialog);
    });
    h.Click(mainid::kUpdate);
    ASSERT_TRUE(drive->found);
    EXPECT_EQ(messagesBeforeFix, std::vector<std::string>{"Name must not contain any commas (,)"});
    EXPECT_EQ(h.ui.titles,
              (std::vector<std::string>{"Student Verification", "Password & E-mail Address"}));
    EXPECT_EQ(h.server.store().FindStudent(3101, kStudent)->name, "Ann Lee");
}

} // namespace tallyport::test
