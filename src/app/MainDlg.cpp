#include "app/MainDlg.h"

#include "app/AppIcon.h"
#include "app/MainDlgRules.h"
#include "ui/DialogUnits.h"
#include "ui/FitFixedTexts.h"
#include "ui/QtPrompts.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>

namespace tallyport {
namespace {

constexpr char kNotSetUp[] = "Your course has not yet been set up!  Try again later.";

QString Text(std::string_view bytes) {
    return FromBytes(bytes);
}

std::string Bytes(const QString& text) {
    return text.toLatin1().toStdString();
}

} // namespace

MainDlg::MainDlg(MainDlgSetup setup, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      setup_(std::move(setup)) {
    BuildControls();
    Initialise();
}

// The template: 166 x 168 dialog units, controls in tab order.
void MainDlg::BuildControls() {
    setWindowTitle(QStringLiteral("Submit"));
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.size(166, 168));

    auto label = [&](const char* text, int y, int id = 0) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setGeometry(du.rect(7, y + 2, 51, 8));
        if (id != 0)
            SetControlId(l, id);
        return l;
    };
    auto list = [&](int id, int y) {
        auto* c = new QComboBox(this);
        SetControlId(c, id);
        c->setGeometry(du.rect(60, y, 99, 12));
        return c;
    };
    auto edit = [&](int id, int y) {
        auto* e = new QLineEdit(this);
        SetControlId(e, id);
        e->setGeometry(du.rect(60, y, 99, 12));
        return e;
    };
    auto button = [&](const char* text, int id, int x, int y) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        SetControlId(b, id);
        b->setGeometry(du.rect(x, y, 74, 14));
        b->setAutoDefault(false); // Enter presses nothing
        b->setDefault(false);
        return b;
    };

    label("Course:", 7);
    courseList_ = list(mainid::kCourse, 7);
    label("Component:", 23);
    componentList_ = list(mainid::kComponent, 23);
    elementLabel_ = label("Element:", 39, mainid::kElementLabel);
    elementList_ = list(mainid::kElement, 39);
    label("Section:", 55);
    sectionList_ = list(mainid::kSection, 55);

    QLabel* studentLabel = label("&Student #:", 73);
    studentNumber_ = edit(mainid::kStudentNumber, 73);
    studentNumber_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    studentLabel->setBuddy(studentNumber_);
    QLabel* passwordLabel = label("&Password:", 89);
    password_ = edit(mainid::kPassword, 89);
    password_->setEchoMode(QLineEdit::Password);
    passwordLabel->setBuddy(password_);

    registerButton_ = button("&Register", mainid::kRegister, 7, 109);
    updateButton_ = button("&Update Info", mainid::kUpdate, 85, 109);
    submitButton_ = button("Sub&mit", mainid::kSubmit, 7, 127);
    viewButton_ = button("&View", mainid::kView, 85, 127);
    examButton_ = button("&Exam", mainid::kExam, 85, 127); // same rectangle as View
    exitButton_ = button("E&xit", mainid::kExit, 46, 147);

    registerButton_->setToolTip(QStringLiteral("Register with the Tallyport system"));
    updateButton_->setToolTip(QStringLiteral("Change your password and email address"));
    submitButton_->setToolTip(QStringLiteral("Submit your solution to an assignment"));
    viewButton_->setToolTip(QStringLiteral("View your previously submitted solution"));
    examButton_->setToolTip(QStringLiteral("Download your practical exam question"));

    // Only the user's choices run the handlers; filling and selecting from code does not.
    connect(courseList_, &QComboBox::activated, this, &MainDlg::OnCourseChange);
    connect(componentList_, &QComboBox::activated, this, &MainDlg::OnComponentChange);
    connect(elementList_, &QComboBox::activated, this, &MainDlg::OnElementChange);
    connect(sectionList_, &QComboBox::activated, this, &MainDlg::OnSectionChange);

    connect(registerButton_, &QPushButton::clicked, this,
            [this] { RunCommand(setup_.commands.registerAccount); });
    connect(updateButton_, &QPushButton::clicked, this,
            [this] { RunCommand(setup_.commands.updateAccount); });
    connect(submitButton_, &QPushButton::clicked, this,
            [this] { RunCommand(setup_.commands.submit); });
    connect(viewButton_, &QPushButton::clicked, this,
            [this] { RunCommand(setup_.commands.viewMarked); });
    connect(examButton_, &QPushButton::clicked, this,
            [this] { RunCommand(setup_.commands.downloadExam); });
    connect(exitButton_, &QPushButton::clicked, this, &QDialog::reject);
    FitFixedTexts(this);
}

void MainDlg::Initialise() {
    setWindowIcon(AppIcon());

    // The course list keeps itself sorted by name; each item refers to its course.
    const auto& courses = setup_.catalogue.courses;
    for (std::size_t i = 0; i < courses.size(); ++i) {
        if (setup_.configuredCourse != 0 && courses[i].number != setup_.configuredCourse)
            continue;
        const QString name = Text(courses[i].name);
        int at = 0;
        while (at < courseList_->count() &&
               QString::compare(courseList_->itemText(at), name, Qt::CaseInsensitive) <= 0)
            ++at;
        courseList_->insertItem(at, name, QVariant::fromValue(qulonglong(i)));
    }
    FitDropWidth(courseList_);
    if (courseList_->count() == 0)
        return; // exec() tells the user and ends

    for (QWidget* w : std::initializer_list<QWidget*>{componentList_, elementList_, sectionList_,
                                                      studentNumber_, password_, registerButton_,
                                                      updateButton_, submitButton_, viewButton_})
        w->setEnabled(false);
    viewButton_->show();
    examButton_->setEnabled(false);
    examButton_->hide();

    courseList_->setCurrentIndex(0);
    OnCourseChange();
    if (courseList_->count() == 1)
        courseList_->setEnabled(false);
    else
        courseList_->setFocus();
}

int MainDlg::exec() {
    if (courseList_->count() == 0) {
        setup_.prompts.Message(kNotSetUp, Buttons::Ok, Icon::None);
        setResult(Rejected);
        return Rejected;
    }
    return QDialog::exec();
}

void MainDlg::OnCourseChange() {
    const int item = courseList_->currentIndex();
    const Course* course =
        item < 0 ? nullptr : &setup_.catalogue.courses[courseList_->itemData(item).toULongLong()];
    if (course == course_)
        return;
    course_ = course;
    selection_.componentIndex = selection_.elementIndex = selection_.sectionIndex = -1;

    for (QWidget* w : std::initializer_list<QWidget*>{
             componentList_, elementList_, sectionList_, studentNumber_, password_, registerButton_,
             updateButton_, submitButton_, viewButton_, examButton_})
        w->setEnabled(false);
    if (!course_)
        return;
    for (QWidget* w : std::initializer_list<QWidget*>{componentList_, studentNumber_, password_,
                                                      registerButton_, updateButton_})
        w->setEnabled(true);

    componentList_->clear();
    for (int c = 0; c < course_->componentCount && c < int(course_->components.size()); ++c)
        componentList_->addItem(Text(ComponentLabel(course_->components[c].name)));
    FitDropWidth(componentList_);

    if (course_->componentCount < 2) {
        componentList_->setCurrentIndex(componentList_->count() > 0 ? 0 : -1);
        componentList_->setEnabled(false);
        OnComponentChange();
    } else {
        // The element and section lists keep their old items, disabled, until refilled.
        elementList_->setCurrentIndex(-1);
        sectionList_->setCurrentIndex(-1);
        componentList_->setCurrentIndex(-1);
    }
}

void MainDlg::OnComponentChange() {
    const int c = componentList_->currentIndex();
    if (c == selection_.componentIndex)
        return;
    selection_.componentIndex = c;
    for (QWidget* w : std::initializer_list<QWidget*>{elementList_, sectionList_, submitButton_,
                                                      viewButton_, examButton_})
        w->setEnabled(false);
    if (c < 0 || !course_)
        return;

    const CourseComponent& component = course_->components[c];
    elementList_->setEnabled(true);
    elementLabel_->setText(Text(FormatMessage("%s #:", component.name.c_str())));

    elementList_->clear();
    int firstOpen = -1;
    for (int e = 0; e < ListedItemCount(component.elementCount); ++e) {
        const char status = ElementStatus(*course_, c, e);
        elementList_->addItem(Text(ElementItemText(e + 1, status)));
        if (firstOpen < 0 && status == 'O')
            firstOpen = e;
    }
    FitDropWidth(elementList_);
    elementList_->setCurrentIndex(firstOpen >= 0 ? firstOpen
                                                 : (elementList_->count() > 0 ? 0 : -1));

    selection_.elementIndex = -1;
    OnElementChange();
}

void MainDlg::OnElementChange() {
    const int e = elementList_->currentIndex();
    if (e == selection_.elementIndex)
        return;
    selection_.elementIndex = e;
    for (QWidget* w :
         std::initializer_list<QWidget*>{sectionList_, submitButton_, viewButton_, examButton_})
        w->setEnabled(false);
    if (e < 0 || !course_ || selection_.componentIndex < 0)
        return;

    const int c = selection_.componentIndex;
    const CourseComponent& component = course_->components[c];
    const int previous = sectionList_->currentIndex();
    sectionList_->setEnabled(true);
    sectionList_->clear();

    if (component.sectionCount == 1) {
        sectionList_->setEnabled(false);
        submitButton_->setEnabled(true);
        ApplyViewExamChoice(EntryIndex(*course_, c, e, 0));
        return;
    }

    int firstOpen = -1;
    for (int s = 0; s < ListedItemCount(component.sectionCount); ++s) {
        const char status = EntryStatus(*course_, c, e, s);
        sectionList_->addItem(
            Text(std::string(EntryLabel(*course_, c, e, s)) + std::string(StatusSuffix(status))));
        if (firstOpen < 0 && status == 'O')
            firstOpen = s;
    }
    FitDropWidth(sectionList_);
    if (previous >= 0) {
        // Keep the section position the student had with the last element.
        const int kept = previous < sectionList_->count() ? previous : -1;
        sectionList_->setCurrentIndex(kept);
        selection_.sectionIndex = kept;
    } else {
        sectionList_->setCurrentIndex(firstOpen >= 0 ? firstOpen
                                                     : (sectionList_->count() > 0 ? 0 : -1));
        selection_.sectionIndex = firstOpen;
    }
    OnSectionChange();
}

void MainDlg::OnSectionChange() {
    const int s = sectionList_->currentIndex();
    const int c = selection_.componentIndex;
    if (!course_ || c < 0 || selection_.elementIndex < 0 || s < 0 ||
        s >= course_->components[c].sectionCount) {
        submitButton_->setEnabled(false);
        viewButton_->setEnabled(false);
        viewButton_->show();
        examButton_->setEnabled(false);
        examButton_->hide();
        return;
    }
    submitButton_->setEnabled(true);
    ApplyViewExamChoice(EntryIndex(*course_, c, selection_.elementIndex, s));
}

// View and Exam share one place: exactly one of them is shown.
void MainDlg::ApplyViewExamChoice(int32_t entryIndex) {
    const bool exam = OffersExam(*course_, entryIndex, setup_.labMode);
    examButton_->setEnabled(exam);
    examButton_->setVisible(exam);
    viewButton_->setEnabled(!exam);
    viewButton_->setVisible(!exam);
}

// The popup grows to show its widest item in full; it never shrinks.
void MainDlg::FitDropWidth(QComboBox* list) {
    QAbstractItemView* view = list->view();
    const QFontMetrics metrics(view->font());
    int widest = 0;
    for (int i = 0; i < list->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(list->itemText(i)));
    const QStyle* style = list->style();
    const int needed = widest + metrics.averageCharWidth() +
                       2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, view) +
                       style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
    if (std::max(list->width(), view->minimumWidth()) < needed)
        view->setMinimumWidth(needed);
}

bool MainDlg::RunPreamble() {
    selection_.componentIndex = componentList_->currentIndex();
    selection_.elementIndex = elementList_->currentIndex();
    selection_.sectionIndex = sectionList_->currentIndex();

    const std::optional<int64_t> number = ReadDecimalField(Bytes(studentNumber_->text()));
    if (!number) {
        setup_.prompts.Message("Enter an integer.", Buttons::Ok, Icon::Exclamation);
        FocusStudentNumber();
        return false;
    }
    if (*number < kLowestStudentNumber || *number > kHighestStudentNumber) {
        setup_.prompts.Message(FormatMessage("Enter an integer between %d and %d.",
                                             kLowestStudentNumber, kHighestStudentNumber),
                               Buttons::Ok, Icon::Exclamation);
        FocusStudentNumber();
        return false;
    }

    const std::string password = Bytes(password_->text());
    if (password.size() > std::size_t(kPasswordLimit)) {
        setup_.prompts.Message(FormatMessage("Enter no more than %d characters.", kPasswordLimit),
                               Buttons::Ok, Icon::Exclamation);
        FocusPassword();
        return false;
    }
    // From now on the field takes no more than the limit (the text already fits).
    password_->setMaxLength(kPasswordLimit);

    if (selection_.sectionIndex == -1)
        selection_.sectionIndex = 0;
    // Register and Update Info run before a component or element is chosen; no entry then.
    selection_.entryIndex = selection_.componentIndex >= 0 && selection_.elementIndex >= 0
                                ? EntryIndex(*course_, selection_.componentIndex,
                                             selection_.elementIndex, selection_.sectionIndex)
                                : 0;
    selection_.studentNumber = NormaliseStudentNumber(int32_t(*number));
    selection_.password = password;
    return true;
}

void MainDlg::RunCommand(const MainCommand& command) {
    if (!course_ || !RunPreamble())
        return;
    if (!command)
        return;
    CommandContext context{setup_.transactor, setup_.prompts,   *this, course_, selection_,
                           setup_.tempFolder, setup_.examFolder};
    command(context, this);
}

void MainDlg::FocusStudentNumber() {
    studentNumber_->setFocus(Qt::OtherFocusReason);
    studentNumber_->selectAll();
}

void MainDlg::FocusPassword() {
    password_->setFocus(Qt::OtherFocusReason);
    password_->selectAll();
}

void MainDlg::SetPasswordText(std::string_view password) {
    const QString text = Text(password);
    if (text.size() > password_->maxLength())
        password_->setMaxLength(32767); // a set text is never cut short
    password_->setText(text);
}

} // namespace tallyport
