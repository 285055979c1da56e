// The View command against the in-process server: a marked submission viewed and switched file
// by file, the marker's name, saving (texts byte for byte, pictures, sub-folders, a hostile
// name refused, the one PDF read back by an independent reader), the unmarked state, nothing
// submitted (-12) and a refused request.
#include "marking/ViewMarked.h"
#include "marking/MarkedDownload.h"
#include "marking/MarkedPdf.h"
#include "marking/PageScale.h"
#include "marking/SaveMarked.h"
#include "marking/ViewDlg.h"
#include "sourceview/SrcWnd.h"
#include "support/EmfReadback.h"
#include "support/InProcessServer.h"
#include "support/PdfTools.h"
#include "support/ScriptedPrompts.h"
#include "support/ScriptedTransactionUi.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "ui/DialogUnits.h"

#include "course/Demo.h"
#include "student/PackageParser.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

namespace tallyport::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr int32_t kCourse = 3101;
constexpr int32_t kStudent = 100123456;
constexpr char kPassword[] = "demo123";
constexpr int32_t kDemoMarked = 0;   // hello.c, 8 of 10, by tjones
constexpr int32_t kDemoUnmarked = 1; // three files, not marked
constexpr int32_t kOwn = 2;          // the submission this test stores and marks
constexpr int32_t kNothing = 10;     // Quiz 1: nothing submitted

struct File {
    std::string name;
    char kind;
    int tab;
    std::string bytes;
};

const std::vector<File> kOwnFiles = {
    {"src/main.c", 'F', 4, "int main(void)\r\n{\r\n\treturn 0;\r\n}\r\n"},
    {"docs\\notes.txt", 'A', 8, "notes\nwith a bare LF\n"},
    {"data.bin", 'B', 8, "\0\x01\xFF\r\n\x1A\nEOF\r\n"s},
    {"../escape.txt", 'A', 8, "must not leave the folder"},
};

std::string Package(const std::vector<File>& files) {
    std::string out = "Number of Files: " + std::to_string(files.size()) + "\r\n";
    int n = 0;
    for (const File& f : files)
        out += std::string(80, '-') + "\r\nFile #" + std::to_string(++n) + ": " + f.name + "," +
               f.kind + "," + std::to_string(f.tab) + "," + std::to_string(f.bytes.size()) +
               "\r\n" + f.bytes + "EOF\r\n";
    return out;
}

class NoFields : public MainDialogFields {
public:
    void FocusStudentNumber() override {}
    void FocusPassword() override {}
    void SetPasswordText(std::string_view) override {}
};

// Runs `step` on the view dialog once it is up, then closes it; counts showings.
class ViewDialogDriver : public QObject {
public:
    explicit ViewDialogDriver(std::function<void(ViewDlg*)> step) : step_(std::move(step)) {
        qApp->installEventFilter(this);
    }
    ~ViewDialogDriver() override { qApp->removeEventFilter(this); }
    int showings = 0;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show)
            if (auto* dialog = qobject_cast<ViewDlg*>(object)) {
                ++showings;
                QPointer<ViewDlg> guarded(dialog);
                QTimer::singleShot(0, dialog, [this, guarded] {
                    if (!guarded)
                        return;
                    if (step_)
                        step_(guarded);
                    guarded->accept();
                });
            }
        return false;
    }

private:
    std::function<void(ViewDlg*)> step_;
};

template <typename T = QWidget> T* Control(QWidget* dialog, int id) {
    return FindControl<T>(dialog, id);
}

int CountColour(const QImage& image, QColor colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelColor(x, y) == colour;
    return n;
}

class ViewMarkedTest : public ::testing::Test {
protected:
    ViewMarkedTest() {
        server.LoadDemo();
        course.number = kCourse;
        const std::string package = Package(kOwnFiles);
        auto parsed = server::ParsePackage(package);
        EXPECT_TRUE(parsed);
        server::NewSubmission submission;
        submission.course = kCourse;
        submission.student = kStudent;
        submission.entry = kOwn;
        submission.time = int64_t(std::time(nullptr));
        submission.package = package;
        submission.files = parsed ? parsed->files : std::vector<server::StoredFile>{};
        EXPECT_TRUE(server.store().AddSubmission(submission));
    }

    void MarkOwn() {
        server::MarkRequest request;
        request.course = kCourse;
        request.student = kStudent;
        request.entry = kOwn;
        request.mark = 6;
        request.markerId = "tjones";
        request.detail = "checked";
        request.markup = {
            {"src/main.c",
             "C,100,10,80,20,return\r\avalue?\r\nL,0,20,50,10\r\nP,0,0\r\nP,50,10\r\nEOL\r\n"},
            {"data.bin", "C,0,0,10,10,never drawn\r\n"}};
        ASSERT_EQ(server.store().MarkLatest(request), server::MarkOutcome::Marked);
        // Students see a marking once the entry's marks are released.
        const auto entry = server.store().FindCourse(kCourse)->entries[kOwn];
        ASSERT_TRUE(server.store().SetMarksReleased(kCourse, entry.id, true, "tjones"));
    }

    // Runs View for `entry`; returns how often the dialog showed.
    int View(int32_t entry, std::function<void(ViewDlg*)> step, const char* password = kPassword) {
        MainSelection selection;
        selection.studentNumber = kStudent;
        selection.password = password;
        selection.entryIndex = entry;
        CommandContext context{transactor, prompts, fields, &course, selection, dir.path() / "tmp"};
        ViewDialogDriver driver(std::move(step));
        ViewMarked(context, nullptr);
        return driver.showings;
    }

    std::vector<std::string> ListedNames(ViewDlg* dialog) {
        std::vector<std::string> names;
        auto* list = Control<QComboBox>(dialog, view_dlg::kFileList);
        for (int i = 0; i < list->count(); ++i)
            names.push_back(list->itemText(i).toStdString());
        return names;
    }

    TempDir dir;
    InProcessServer server{dir.path() / "server-db", "127.0.0.71"};
    ScriptedTransactionUi ui;
    Transactor transactor{server.endpoint(), ui};
    ScriptedPrompts prompts;
    NoFields fields;
    Course course;
};

TEST_F(ViewMarkedTest, MarkedDemoShowsMarkMarkerAndAnnotatedPage) {
    const int showings = View(kDemoMarked, [&](ViewDlg* dialog) {
        EXPECT_EQ(Control<QLabel>(dialog, view_dlg::kMark)->text().toStdString(), "Mark: 8/10");
        EXPECT_TRUE(Control(dialog, view_dlg::kMarker)->isVisible());
        EXPECT_EQ(ListedNames(dialog), std::vector<std::string>{"hello.c"});
        ASSERT_NE(dialog->view()->currentFile(), nullptr);
        EXPECT_EQ(dialog->view()->currentFile()->name, "hello.c");
        dialog->resize(900, 500);
        QTest::qWait(50);
        const QImage page = dialog->view()->grab(dialog->view()->ClientRect()).toImage();
        EXPECT_GT(CountColour(page, Qt::red), 100);  // comments and strokes
        EXPECT_GT(CountColour(page, Qt::blue), 100); // the margin line
        if (const char* folder = std::getenv("TALLYPORT_VIEW_SCREENSHOT_DIR"))
            dialog->grab().save(QString::fromLocal8Bit(folder) +
                                QStringLiteral("/view-dialog.png"));
        QTest::mouseClick(Control<QPushButton>(dialog, view_dlg::kMarker), Qt::LeftButton);
    });
    EXPECT_EQ(showings, 1);
    EXPECT_EQ(prompts.texts(),
              std::vector<std::string>{
                  "Your assignment was marked by Terry Jones\n<Teaching assistant, Monday labs>"});
    EXPECT_EQ(ui.titles, (std::vector<std::string>{"Marked Assignment", "Marker Name"}));
    EXPECT_TRUE(fs::is_empty(dir.path() / "tmp")); // the package's temporary file is gone
}

// Red enough to be a comment's or stroke's ink, anti-aliased edges included.
bool IsRed(QRgb pixel) {
    return qRed(pixel) > 150 && qGreen(pixel) < 110 && qBlue(pixel) < 110;
}

bool IsDark(QRgb pixel) {
    return qRed(pixel) < 110 && qGreen(pixel) < 110 && qBlue(pixel) < 110;
}

int CountIn(const QImage& image, QRect area, bool (*test)(QRgb)) {
    int n = 0;
    area &= image.rect();
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += test(image.pixel(x, y));
    return n;
}

TEST_F(ViewMarkedTest, MarkedDemoSavedAsOnePdfReadBackByPoppler) {
    const fs::path chosen = dir.path() / "chosen";
    fs::create_directories(chosen);
    prompts.folders.push_back(chosen.string());
    std::optional<MarkedPdfLayout> layout;
    View(kDemoMarked, [&](ViewDlg* dialog) {
        layout = LayoutMarkedPdf(dialog->submission().files.at(0), MarkedPdfPageSize());
        QTest::mouseClick(Control<QPushButton>(dialog, view_dlg::kSave), Qt::LeftButton);
    });
    const fs::path target = chosen / "assign00";
    const fs::path pdf = target / "marked.pdf";
    EXPECT_EQ(prompts.texts(),
              std::vector<std::string>{"Your submitted file has been saved in " + target.string() +
                                       "\nThe marked work is also in one PDF file: marked.pdf"});
    EXPECT_TRUE(HasEmfHeader(ReadFile(target / "hello.c.emf"))); // everything else still written
    ASSERT_TRUE(layout);
    ASSERT_EQ(PdfPageCount(pdf), 1);

    // Selectable text: the heading, every source line and every comment line.
    const auto text = PdfText(pdf, true);
    ASSERT_TRUE(text);
    for (const char* expected :
         {"hello.c", "Mark: 8/10", "#include <stdio.h>", "int main(void)", "int i;",
          "for (i = 0; i <= 10; i++)", "printf(\"%d\\n\", i * i);", "return 0;",
          "Good: the header you need.", "Off by one: the loop runs", "eleven times, not ten.",
          "Nice use of a tab width of 4,", "but say why you print squares."})
        EXPECT_NE(text->find(expected), std::string::npos) << expected << " in\n" << *text;

    // Page 1 rendered: page units become page pixels with the screen's scales, then points.
    constexpr int kDpi = 144;
    const fs::path png = dir.path() / "page1.png";
    ASSERT_TRUE(RenderPdfPage(pdf, 1, kDpi, png));
    const QImage page(QString::fromStdString(png.string()));
    ASSERT_FALSE(page.isNull());
    if (const char* folder = std::getenv("TALLYPORT_VIEW_SCREENSHOT_DIR"))
        page.save(QString::fromLocal8Bit(folder) + QStringLiteral("/marked-pdf-page1.png"));
    auto imageX = [&](int32_t units) {
        return int(std::lround(layout->PointX(PageToPixelX(units)) * kDpi / 72));
    };
    auto imageY = [&](int32_t units) {
        return int(std::lround(layout->PointY(0, PageToPixelY(units)) * kDpi / 72));
    };
    // A cell of the page, less one image pixel all round for anti-aliasing.
    auto cell = [&](int32_t x, int32_t y) {
        return QRect(QPoint(imageX(x) + 1, imageY(y) + 1),
                     QPoint(imageX(x + 10) - 2, imageY(y + 10) - 2));
    };
    // Every line of every comment starts with red in its cell; the cell before a comment's
    // first line holds none (that of its second line may hold the stroke).
    const struct {
        int32_t x, y;
        bool first;
    } comments[] = {
        {260, 20, true}, {330, 50, true}, {330, 60, false}, {200, 90, true}, {200, 100, false}};
    for (const auto& c : comments) {
        EXPECT_GT(CountIn(page, cell(c.x, c.y), IsRed), 4) << c.x << "," << c.y;
        if (c.first) {
            EXPECT_EQ(CountIn(page, cell(c.x - 10, c.y), IsRed), 0) << c.x << "," << c.y;
        }
    }
    EXPECT_EQ(CountIn(page, cell(250, 10), IsRed), 0); // above the first comment
    // The source is black: '#' of the first line, 'i' of "int main".
    EXPECT_GT(CountIn(page, cell(0, 0), IsDark), 4);
    EXPECT_EQ(CountIn(page, cell(0, 0), IsRed), 0);
    EXPECT_GT(CountIn(page, cell(0, 20), IsDark), 2);
    // The stroke at page y 65 from x 150 to 330: red along that row, nothing two rows lower.
    const QRect strokeRow(QPoint(imageX(160), imageY(65) - 1), QPoint(imageX(320), imageY(65) + 1));
    EXPECT_GT(CountIn(page, strokeRow, IsRed), strokeRow.width() * 9 / 10);
    EXPECT_EQ(CountIn(page, strokeRow.translated(0, imageY(85) - imageY(65)), IsRed), 0);
}

TEST_F(ViewMarkedTest, OwnMarkedSubmissionSwitchedAndSaved) {
    MarkOwn();
    const fs::path chosen = dir.path() / "chosen";
    fs::create_directories(chosen);
    prompts.folders.push_back(chosen.string());
    const int showings = View(kOwn, [&](ViewDlg* dialog) {
        EXPECT_EQ(Control<QLabel>(dialog, view_dlg::kMark)->text().toStdString(), "Mark: 6/10");
        EXPECT_EQ(ListedNames(dialog), (std::vector<std::string>{"src/main.c", "docs\\notes.txt",
                                                                 "data.bin", "../escape.txt"}));
        auto* list = Control<QComboBox>(dialog, view_dlg::kFileList);
        for (int i : {1, 2, 3, 0}) {
            list->setCurrentIndex(i);
            ASSERT_NE(dialog->view()->currentFile(), nullptr);
            EXPECT_EQ(dialog->view()->currentFile()->name, kOwnFiles[std::size_t(i)].name);
            EXPECT_EQ(*dialog->view()->currentFile()->text(), kOwnFiles[std::size_t(i)].bytes);
        }
        const MarkedFile& main = dialog->submission().files[0];
        ASSERT_NE(main.annotations, nullptr); // the stroke came last, so it heads the chain
        EXPECT_FALSE(main.annotations->GetText().has_value());
        ASSERT_NE(main.annotations->next, nullptr);
        EXPECT_EQ(*main.annotations->next->GetText(), "return\r\avalue?");
        QTest::mouseClick(Control<QPushButton>(dialog, view_dlg::kSave), Qt::LeftButton);
    });
    ASSERT_EQ(showings, 1);

    const fs::path target = chosen / "assign02";
    EXPECT_EQ(ReadFile(target / "src/main.c"), kOwnFiles[0].bytes);
    EXPECT_EQ(ReadFile(target / "docs/notes.txt"), kOwnFiles[1].bytes);
    EXPECT_EQ(ReadFile(target / "data.bin"), kOwnFiles[2].bytes);
    for (const char* picture : {"src/main.c.emf", "docs/notes.txt.emf", "data.bin.emf"})
        EXPECT_TRUE(HasEmfHeader(ReadFile(target / picture))) << picture;
    EXPECT_FALSE(fs::exists(chosen / "escape.txt"));
    EXPECT_FALSE(fs::exists(target / "escape.txt"));
    const auto page = ReadEmf(target / "src/main.c.emf");
    ASSERT_TRUE(page);
    std::string red;
    for (const SvgText& t : page->texts)
        if (t.fill == "#FF0000")
            red += t.text;
    EXPECT_EQ(red, "returnvalue?");
    EXPECT_EQ(page->paths.size(), 2u);

    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text,
              "Some of your submitted files could not be saved in " + target.string() +
                  ":\n../escape.txt: refused: the name points outside that folder"
                  "\nThe marked work is also in one PDF file: marked.pdf");
    EXPECT_EQ(PdfPageCount(target / "marked.pdf"), 4); // one sheet a file, the refused one too
    EXPECT_EQ(prompts.shown[0].icon, Icon::Error);
}

TEST_F(ViewMarkedTest, UnmarkedWorkShowsSubmittedAndSavesTextsOnly) {
    const fs::path chosen = dir.path() / "chosen";
    fs::create_directories(chosen);
    prompts.folders.push_back(chosen.string());
    const int showings = View(kDemoUnmarked, [&](ViewDlg* dialog) {
        EXPECT_EQ(Control<QLabel>(dialog, view_dlg::kMark)->text().toStdString(), "Submitted");
        EXPECT_FALSE(Control(dialog, view_dlg::kMarker)->isVisible());
        EXPECT_EQ(ListedNames(dialog), (std::vector<std::string>{"main.c", "list.c", "list.h"}));
        QTest::mouseClick(Control<QPushButton>(dialog, view_dlg::kSave), Qt::LeftButton);
    });
    EXPECT_EQ(showings, 1);
    const fs::path target = chosen / "assign01";
    EXPECT_EQ(ReadFile(target / "list.h"), "int list_demo(void);\r\n");
    EXPECT_FALSE(fs::exists(target / "list.h.emf"));
    EXPECT_FALSE(fs::exists(target / "marked.pdf"));
    EXPECT_EQ(prompts.texts(), std::vector<std::string>{"Your submitted files have been saved in " +
                                                        target.string()});
    EXPECT_EQ(prompts.shown[0].buttons, Buttons::OkCancel);
}

TEST_F(ViewMarkedTest, NothingSubmittedIsToldAndNoDialogOpens) {
    EXPECT_EQ(View(kNothing, {}), 0);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "You have not submitted anything for that assignment.");
    EXPECT_EQ(prompts.shown[0].buttons, Buttons::Ok);
    EXPECT_EQ(prompts.shown[0].icon, Icon::Exclamation);
    EXPECT_TRUE(ui.reported.empty()); // the transaction shows nothing for -12
}

TEST_F(ViewMarkedTest, RefusedRequestOpensNothing) {
    EXPECT_EQ(View(kDemoMarked, {}, "wrong"), 0);
    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kWrongPassword});
    EXPECT_TRUE(prompts.shown.empty()); // the transaction's report is the only message
}

TEST_F(ViewMarkedTest, UnusableTemporaryFolderIsReported) {
    std::ofstream(dir.path() / "tmp") << "a file, not a folder";
    EXPECT_EQ(View(kDemoMarked, {}), 0);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text.rfind(
                  "The marked submission could not be stored in the temporary folder " +
                      (dir.path() / "tmp").string() + ".\n",
                  0),
              0u);
}

} // namespace
} // namespace tallyport::test
