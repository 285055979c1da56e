// The Register command end to end: the real main dialog and RegisterDlg against the in-process
// server, checking what the server stored and what the main dialog shows afterwards.
#include "accounts/AccountFields.h"
#include "accounts/RegisterDlg.h"
#include "protocol/PasswordHash.h"
#include "support/gui/AccountsHarness.h"
#include "support/gui/ModalDriver.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace tallyport::test {
namespace {

constexpr int32_t kStudent = 100123456; // typed as 123456

struct Typed {
    const char* password = "";
    const char* retype = "";
    const char* name = "";
    const char* email = "";
    const char* attempts = nullptr; // full form only
    int experience = -2;            // -2: leave the list alone
    int expectation = -2;
};

QLineEdit* Edit(QWidget* dialog, int id) {
    return FindControl<QLineEdit>(dialog, id);
}

void Type(RegisterDlg* dialog, const Typed& typed) {
    Edit(dialog, accountid::kPassword)->setText(QString::fromUtf8(typed.password));
    Edit(dialog, accountid::kRetype)->setText(QString::fromUtf8(typed.retype));
    Edit(dialog, accountid::kName)->setText(QString::fromUtf8(typed.name));
    Edit(dialog, accountid::kEmail)->setText(QString::fromUtf8(typed.email));
    if (typed.attempts)
        Edit(dialog, accountid::kAttempts)->setText(QString::fromUtf8(typed.attempts));
    if (typed.experience != -2)
        FindControl<QComboBox>(dialog, accountid::kExperience)->setCurrentIndex(typed.experience);
    if (typed.expectation != -2)
        FindControl<QComboBox>(dialog, accountid::kExpectation)->setCurrentIndex(typed.expectation);
}

void PressOk(QDialog* dialog) {
    QTest::mouseClick(FindControl<QPushButton>(dialog, 1), Qt::LeftButton);
}

const char kCreated[] =
    "Your submit account has been created.\nPlease do not forget your password.";

} // namespace

TEST(RegisterAccount, ShortAndFullFormsStoreTheQuestionnaireCode) {
    const struct {
        int32_t course;
        int form;
        Typed typed;
        const char* code;
    } cases[] = {
        {3101,
         RegisterDlg::kShortForm,
         {" secret ", "secret", " Ann  Lee", "ann@example.org "},
         "002"},
        {1606, RegisterDlg::kFullForm, {"secret", "secret", "Ann Lee", "ann@example.org"}, "002"},
        {1606,
         RegisterDlg::kFullForm,
         {"secret", "secret", "Ann Lee", "ann@example.org", " 2", 3, 3},
         "233"},
    };
    int address = 10;
    for (const auto& c : cases) {
        AccountsHarness h("127.0.0." + std::to_string(address++), c.course);
        h.Login("123456", "typed-before");
        int form = 0;
        auto drive = WhenShown<RegisterDlg>([&](RegisterDlg* dialog) {
            form = dialog->form();
            Type(dialog, c.typed);
            PressOk(dialog);
        });
        h.Click(mainid::kRegister);

        ASSERT_TRUE(drive->found) << c.course;
        EXPECT_EQ(form, c.form);
        EXPECT_EQ(h.prompts.texts(), std::vector<std::string>{kCreated});
        EXPECT_EQ(h.ui.titles,
                  (std::vector<std::string>{"Verification", "Registration Information"}));
        const auto record = h.server.store().FindStudent(c.course, kStudent);
        ASSERT_TRUE(record) << c.course;
        EXPECT_EQ(record->passwordHash, HashPassword("secret"));
        EXPECT_EQ(record->passwordHash, "QZLWmbC0AiZHI"); // crypt("secret", "QZ")
        EXPECT_EQ(record->name, QString::fromUtf8(c.typed.name).trimmed().toStdString());
        EXPECT_EQ(record->email, "ann@example.org");
        EXPECT_EQ(record->questionnaire, c.code);
        // The new password replaces what was typed in the main dialog.
        EXPECT_EQ(h.edit(mainid::kPassword)->text(), QStringLiteral("secret"));
    }
}

TEST(RegisterAccount, ExistingAccountMovesTheFocusToTheStudentNumber) {
    AccountsHarness h("127.0.0.20", 3101);
    h.AddStudent(kStudent, "first", "Ann Lee", "ann@x.org");
    h.Login("123456", "pw");
    h.edit(mainid::kPassword)->setFocus();
    auto drive = WhenShown<RegisterDlg>([](RegisterDlg* dialog) { dialog->reject(); }, 500);
    h.Click(mainid::kRegister);

    EXPECT_FALSE(drive->found) << "the dialog must not open";
    EXPECT_EQ(h.ui.reported, std::vector<StatusCode>{status::kAccountExists});
    EXPECT_EQ(h.ui.titles, std::vector<std::string>{"Verification"});
    EXPECT_EQ(h.dialog().focusWidget(), h.edit(mainid::kStudentNumber));
    EXPECT_EQ(h.edit(mainid::kStudentNumber)->selectedText(), QStringLiteral("123456"));
    EXPECT_EQ(h.server.store().FindStudent(3101, kStudent)->name, "Ann Lee");
}

// A registration that cannot reach the server, answered with Ignore, shows the same dialog again
// with everything entered except the retype box; once the server is back, OK registers.
TEST(RegisterAccount, IgnoredConnectionFailureReopensTheDialogWithEntriesKept) {
    AccountsHarness h("127.0.0.21", 1606);
    h.Login("123456", "pw");
    struct Seen {
        QString password, retype, name, email, attempts;
        int experience = -1, expectation = -1;
    } seen;
    std::shared_ptr<DriveResult> second;
    auto first = WhenShown<RegisterDlg>([&](RegisterDlg* dialog) {
        Type(dialog, {" secret ", "secret", "Ann Lee", "ann@x.org", "2", 3, 4});
        h.server.Stop();
        second = WhenShown<RegisterDlg>([&](RegisterDlg* again) {
            seen = {Edit(again, 1012)->text(),
                    Edit(again, 1014)->text(),
                    Edit(again, 1015)->text(),
                    Edit(again, 1016)->text(),
                    Edit(again, 1017)->text(),
                    FindControl<QComboBox>(again, 1018)->currentIndex(),
                    FindControl<QComboBox>(again, 1019)->currentIndex()};
            h.server.Start();
            Edit(again, 1014)->setText(QStringLiteral("secret"));
            PressOk(again);
        });
        PressOk(dialog);
    });
    h.Click(mainid::kRegister);

    ASSERT_TRUE(first->found);
    ASSERT_TRUE(second && second->found);
    EXPECT_EQ(h.ui.reported, std::vector<StatusCode>{status::kNoConnection});
    EXPECT_EQ(seen.password, QStringLiteral("secret"));
    EXPECT_TRUE(seen.retype.isEmpty());
    EXPECT_EQ(seen.name, QStringLiteral("Ann Lee"));
    EXPECT_EQ(seen.email, QStringLiteral("ann@x.org"));
    EXPECT_EQ(seen.attempts, QStringLiteral("2"));
    EXPECT_EQ(seen.experience, 3);
    EXPECT_EQ(seen.expectation, 4);
    EXPECT_EQ(h.prompts.texts(), std::vector<std::string>{kCreated});
    const auto record = h.server.store().FindStudent(1606, kStudent);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->questionnaire, "234");
}

TEST(RegisterAccount, AbortAfterAConnectionFailureEndsTheCommand) {
    AccountsHarness h("127.0.0.22", 3101);
    h.Login("123456", "typed");
    h.ui.answers = {RetryChoice::Abort};
    auto drive = WhenShown<RegisterDlg>([&](RegisterDlg* dialog) {
        Type(dialog, {"secret", "secret", "Ann Lee", "ann@x.org"});
        h.server.Stop();
        PressOk(dialog);
    });
    h.Click(mainid::kRegister);
    h.server.Start();

    ASSERT_TRUE(drive->found);
    EXPECT_EQ(h.ui.reported, std::vector<StatusCode>{status::kNoConnection});
    EXPECT_TRUE(h.prompts.shown.empty());
    EXPECT_FALSE(h.server.store().FindStudent(3101, kStudent));
    EXPECT_EQ(h.edit(mainid::kPassword)->text(), QStringLiteral("typed"));
}

TEST(RegisterAccount, CancelSendsNoRegistration) {
    AccountsHarness h("127.0.0.23", 3101);
    h.Login("123456", "typed");
    auto drive = WhenShown<RegisterDlg>([](RegisterDlg* dialog) {
        Type(dialog, {"secret", "secret", "Ann Lee", "ann@x.org"});
        QTest::mouseClick(FindControl<QPushButton>(dialog, 2), Qt::LeftButton);
    });
    h.Click(mainid::kRegister);
    ASSERT_TRUE(drive->found);
    EXPECT_EQ(h.ui.titles, std::vector<std::string>{"Verification"});
    EXPECT_FALSE(h.server.store().FindStudent(3101, kStudent));
}

} // namespace tallyport::test
