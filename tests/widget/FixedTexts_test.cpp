// Every fixed text of every dialog (labels, buttons) shows whole: its width in the control's
// font fits the rectangle the control gives it, and the control stays inside its dialog. The
// program is run once per scale factor (QT_SCALE_FACTOR, see tests/CMakeLists.txt), since the
// factor is fixed when the application starts. The submit dialog's "0" and "8" also stand under
// the slider's end ticks as they are drawn.
#include "accounts/RegisterDlg.h"
#include "accounts/UpdateDlg.h"
#include "marking/ViewDlg.h"
#include "submission/SubmitDlg.h"
#include "support/ScriptedPrompts.h"
#include "support/ScriptedTransactionUi.h"
#include "support/gui/MainDlgHarness.h"
#include "ui/DialogUnits.h"
#include "ui/WaitDialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include <map>
#include <memory>

using namespace tallyport;
using namespace tallyport::test;

namespace {

constexpr const char* kTypes = "Source,src,A,4/Text,txt,T";

class NoFields : public MainDialogFields {
public:
    void FocusStudentNumber() override {}
    void FocusPassword() override {}
    void SetPasswordText(std::string_view) override {}
};

MarkedSubmission Marked() {
    MarkedSubmission s;
    s.marking.emplace();
    s.marking->mark = 100;
    s.marking->markerId = "m042";
    s.marking->detail = "-";
    MarkedFile file;
    file.name = "main.c";
    file.tabWidth = 4;
    file.SetText("int main;\r\n");
    file.length = 11;
    s.files.push_back(std::move(file));
    s.fileCount = 1;
    return s;
}

// The room a control gives its text, measured as the style draws it.
int TextRoom(const QWidget* control) {
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->contentsRect().width() - 2 * label->margin() - std::max(0, label->indent());
    const auto* button = qobject_cast<const QAbstractButton*>(control);
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (qobject_cast<const QCheckBox*>(button))
        return button->style()
            ->subElementRect(QStyle::SE_CheckBoxContents, &option, button)
            .width();
    const auto* push = qobject_cast<const QPushButton*>(button);
    if (push && (push->autoDefault() || push->isDefault()))
        option.features |= QStyleOptionButton::AutoDefaultButton;
    return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
}

QString TextOf(const QWidget* control) {
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->text();
    return {};
}

} // namespace

class FixedTextsTest : public QObject {
    Q_OBJECT

    // Every dialog, shown, with a name for the table's rows.
    std::vector<std::pair<QString, QWidget*>> dialogs_;
    std::vector<std::unique_ptr<QWidget>> owned_;
    ScriptedPrompts prompts_;
    ScriptedTransactionUi ui_;
    Transactor transactor_{Endpoint{"127.0.0.1", 9}, ui_};
    NoFields fields_;
    Course course_;
    CommandContext context_{transactor_, prompts_, fields_, &course_, {}, {}};
    RequiredFileSet set_ = BuildRequiredFileSet(kTypes, "M", 0, "", 0, 0);
    SubmissionEntries entries_;
    std::unique_ptr<MainDlgHarness> main_;

    void Add(const char* name, QWidget* dialog) {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        dialogs_.emplace_back(QString::fromLatin1(name), dialog);
    }
    template <typename T, typename... Args> void Make(const char* name, Args&&... args) {
        owned_.push_back(std::make_unique<T>(std::forward<Args>(args)...));
        Add(name, owned_.back().get());
    }

private slots:
    void initTestCase() {
        // The run's scale factor really is the one asked for.
        const QByteArray asked = qgetenv("QT_SCALE_FACTOR");
        const double factor = asked.isEmpty() ? 1.0 : asked.toDouble();
        QCOMPARE(qApp->devicePixelRatio(), factor);

        Make<RegisterDlg>("Account Registration", RegisterDlg::kShortForm, prompts_);
        Make<RegisterDlg>("Account Registration with questionnaire", RegisterDlg::kFullForm,
                          prompts_);
        Make<UpdateDlg>("Set Password", prompts_);
        entries_.push_back(SubmissionFile{"main.c", ContentKind::Ascii, "int main;\r\n", 4});
        Make<SubmitDlg>("Submit", set_, entries_, prompts_);
        Make<ViewDlg>("View", nullptr, context_, Marked(), 0, 100);
        Make<CNewWaitDialog>("Transfer", QStringLiteral("Registration Information"));
        Make<CNewWaitDialog>("Transfer", QStringLiteral("Submitted Program"));

        course_ = MakeCourse(3101, "Programming Fundamentals", "Assignment,2,1", "OO", "AE");
        main_ = std::make_unique<MainDlgHarness>(CourseCatalogue{{course_}}, 3101);
        Add("main dialog", &main_->dialog());

        // The texts found cut off before are all in the table.
        QStringList texts;
        for (const auto& [name, dialog] : dialogs_)
            for (const QWidget* control : dialog->findChildren<QWidget*>())
                texts << TextOf(control);
        for (const char* text :
             {"Preferred E-mail address:",
              "How many previous times have you attempted this course?", "Programming Experience:",
              "Relative to your other courses, how do you expect to do in this one?",
              "&Retype New Password:", "&E-mail Address:", "&Tabstop:", "0", "8", "&Update Info",
              "Please wait while files are transferred", "&Marker", "Mark: 100/100"})
            QVERIFY2(texts.contains(QString::fromLatin1(text)), text);
    }

    void textShowsWhole_data() {
        QTest::addColumn<QWidget*>("control");
        QTest::addColumn<QWidget*>("dialog");
        std::map<QString, int> seen; // the same text twice in one dialog gets its own row
        for (const auto& [name, dialog] : dialogs_) {
            for (QWidget* control : dialog->findChildren<QWidget*>()) {
                const QString text = TextOf(control);
                if (text.isEmpty())
                    continue;
                QString row = name + QStringLiteral(": ") + text;
                if (const int n = seen[row]++; n > 0)
                    row += QStringLiteral(" #%1").arg(n + 1);
                QTest::newRow(row.toUtf8().constData()) << control << dialog;
            }
        }
    }

    void textShowsWhole() {
        QFETCH(QWidget*, control);
        QFETCH(QWidget*, dialog);
        const QString text = TextOf(control);
        const double width =
            QFontMetricsF(control->font(), control).size(Qt::TextShowMnemonic, text).width();
        const int room = TextRoom(control);
        QVERIFY2(
            width <= room,
            qPrintable(
                QStringLiteral("\"%1\" is %2 px wide in %3 px").arg(text).arg(width).arg(room)));
        QVERIFY2(QRect(QPoint(0, 0), dialog->size()).contains(control->geometry()),
                 "the control lies inside its dialog");
    }

    // "0" and "8" are centred on the first and last tick the style draws below the slider.
    void scaleLabelsStandUnderTheEndTicks() {
        QWidget* submit = nullptr;
        for (const auto& [name, dialog] : dialogs_)
            if (name == QStringLiteral("Submit"))
                submit = dialog;
        QVERIFY(submit);
        auto* slider = FindControl<QSlider>(submit, submitid::kTabSlider);
        const QImage image = slider->grab().toImage();
        const double ratio = image.devicePixelRatio();

        // Tick columns: in the bottom rows, pixels that differ from that row's first pixel
        // (the background, since the first tick stands half a handle in).
        std::vector<int> columns;
        const int rows = int(4 * ratio);
        for (int x = 0; x < image.width(); ++x) {
            for (int y = image.height() - rows; y < image.height(); ++y) {
                if (image.pixel(x, y) != image.pixel(0, y)) {
                    columns.push_back(x);
                    break;
                }
            }
        }
        QVERIFY2(!columns.empty(), "ticks are drawn below the slider");
        // Ticks as runs of adjacent columns; their centres in the dialog's pixels.
        std::vector<double> ticks;
        for (std::size_t i = 0; i < columns.size();) {
            std::size_t j = i;
            while (j + 1 < columns.size() && columns[j + 1] == columns[j] + 1)
                ++j;
            ticks.push_back(slider->x() + (columns[i] + columns[j] + 1) / 2.0 / ratio);
            i = j + 1;
        }
        QCOMPARE(int(ticks.size()), slider->maximum() - slider->minimum() + 1);

        const auto centre = [](const QWidget* w) { return w->x() + w->width() / 2.0; };
        const auto* zero = FindControl<QLabel>(submit, submitid::kZeroLabel);
        const auto* eight = FindControl<QLabel>(submit, submitid::kEightLabel);
        QVERIFY2(
            std::abs(centre(zero) - ticks.front()) <= 1.5,
            qPrintable(QStringLiteral("0 at %1, tick at %2").arg(centre(zero)).arg(ticks.front())));
        QVERIFY2(
            std::abs(centre(eight) - ticks.back()) <= 1.5,
            qPrintable(QStringLiteral("8 at %1, tick at %2").arg(centre(eight)).arg(ticks.back())));
    }

    // With FIXED_TEXTS_SHOTS naming a folder, each dialog's picture is left there to be looked at.
    void savePictures() {
        const QString folder = qEnvironmentVariable("FIXED_TEXTS_SHOTS");
        if (folder.isEmpty())
            QSKIP("FIXED_TEXTS_SHOTS names no folder");
        int n = 0;
        for (const auto& [name, dialog] : dialogs_) {
            const QString file = QStringLiteral("%1/%2-%3-x%4.png")
                                     .arg(folder)
                                     .arg(++n)
                                     .arg(QString(name).replace(QLatin1Char(' '), QLatin1Char('-')))
                                     .arg(qApp->devicePixelRatio());
            QVERIFY(dialog->grab().save(file));
        }
    }

    void cleanupTestCase() {
        main_.reset();
        owned_.clear();
    }
};

QTEST_MAIN(FixedTextsTest)
#include "FixedTexts_test.moc"
