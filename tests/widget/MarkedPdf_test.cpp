// The marked work's PDF written directly: a 5,000-line file on exactly the sheets its lines
// need with every line whole on one sheet, the paper the locale prints on, and a write failure
// reported without leaving a file behind.
#include "marking/MarkedPdf.h"
#include "support/PdfTools.h"
#include "support/RecordingSurface.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

#include <QTest>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

using namespace tallyport;
using namespace tallyport::test;
namespace fs = std::filesystem;

namespace {

MarkedSubmission LongMarkedFile(int lines) {
    std::string text;
    char line[64];
    for (int i = 0; i < lines; ++i) {
        std::snprintf(line, sizeof line, "line %04d\tof the long file;\r\n", i);
        text += line;
    }
    MarkedFile file;
    file.name = "long.c";
    file.tabWidth = 4;
    file.length = int32_t(text.size());
    file.SetText(std::move(text));
    // A two-line comment every 97 lines, so some would straddle a sheet's end.
    for (int y = 30; y < lines * 10; y += 970)
        file.PushAnnotation(std::make_unique<CommentNode>(400, y, 100, 20, "two\r\alines"));
    MarkedSubmission s;
    s.marking.emplace();
    s.marking->mark = 9;
    s.files.push_back(std::move(file));
    return s;
}

} // namespace

class MarkedPdfTest : public QObject {
    Q_OBJECT
private slots:
    void longFileRunsOverWholeLineSheets() {
        ScopedPageScales scales; // a 96 dpi screen: 16 pixels a line, 744 to the margin line
        TempDir dir;
        constexpr int kLines = 5000;
        const MarkedSubmission s = LongMarkedFile(kLines);
        const QPageSize a4(QPageSize::A4);
        const fs::path pdf = dir.path() / "long.pdf";
        QCOMPARE(WriteMarkedPdf(pdf, s, 10, a4), std::nullopt);

        // The sheets the lines need: A4 less half-inch margins, the 80 columns shrunk to fit
        // across, the first sheet two lines shorter for its heading.
        const double perPixel = (a4.size(QPageSize::Point).width() - 72) / 745;
        const int perSheet = int((a4.size(QPageSize::Point).height() - 72) / (16 * perPixel));
        int sheets = 1;
        for (int left = kLines - (perSheet - 2); left > 0; left -= perSheet)
            ++sheets;
        // Comments straddling a cut move it up a line now and then, never by a sheet.
        const int pages = PdfPageCount(pdf);
        QVERIFY2(pages == sheets || pages == sheets + 1,
                 qPrintable(QStringLiteral("%1 pages for %2").arg(pages).arg(sheets)));
        const auto layout = LayoutMarkedPdf(s.files[0], a4);
        QVERIFY(layout);
        QCOMPARE(int(layout->bands.size()), pages);

        // Every line whole on exactly one sheet, in order; both lines of every comment on the
        // sheet of its first.
        const auto text = PdfText(pdf, true);
        QVERIFY(text);
        std::istringstream sheetsText(*text);
        std::string sheet;
        int next = 0;
        int comments = 0;
        for (int index = 0; std::getline(sheetsText, sheet, '\f') && index < pages; ++index) {
            std::istringstream lines(sheet);
            int onSheet = 0, firstLines = 0, secondLines = 0;
            for (std::string line; std::getline(lines, line);) {
                firstLines += line.find("two") != std::string::npos;
                secondLines += line.find("lines") != std::string::npos;
                const std::size_t at = line.find("line ");
                if (at == std::string::npos)
                    continue;
                char expected[16];
                std::snprintf(expected, sizeof expected, "line %04d", next);
                QVERIFY2(line.compare(at, std::strlen(expected), expected) == 0 &&
                             line.find("of the long file;", at) != std::string::npos,
                         qPrintable(QString::fromStdString(line + " / " + expected)));
                ++next;
                ++onSheet;
            }
            QVERIFY(onSheet <= perSheet);
            QCOMPARE(firstLines, secondLines);
            comments += firstLines;
        }
        QCOMPARE(next, kLines);
        QCOMPARE(comments, (kLines * 10 - 30 + 969) / 970);
    }

    void paperFromTheLocale() {
        const struct {
            QLocale locale;
            QPageSize::PageSizeId paper;
        } cases[] = {{QLocale(QLocale::English, QLocale::UnitedStates), QPageSize::Letter},
                     {QLocale(QLocale::English, QLocale::Canada), QPageSize::Letter},
                     {QLocale(QLocale::Spanish, QLocale::Mexico), QPageSize::Letter},
                     {QLocale(QLocale::English, QLocale::UnitedKingdom), QPageSize::A4},
                     {QLocale(QLocale::German, QLocale::Germany), QPageSize::A4},
                     {QLocale(QLocale::French, QLocale::France), QPageSize::A4},
                     {QLocale::c(), QPageSize::A4}};
        for (const auto& c : cases)
            QCOMPARE(MarkedPdfPageSize(c.locale).id(), c.paper);
    }

    void writeFailureReportedAndNothingLeft() {
        ScopedPageScales scales;
        TempDir dir;
        WriteFile(dir.path() / "plain-file", "x");
        const MarkedSubmission s = LongMarkedFile(3);
        for (const fs::path& path :
             {dir.path() / "plain-file" / "marked.pdf", dir.path() / "missing" / "marked.pdf"}) {
            const auto error = WriteMarkedPdf(path, s, 10);
            QVERIFY(error);
            QVERIFY(!error->empty());
            QVERIFY(!fs::exists(path));
        }
        fs::create_directories(dir.path() / "a-folder.pdf"); // a folder where the file goes
        QVERIFY(WriteMarkedPdf(dir.path() / "a-folder.pdf", s, 10));
        QVERIFY(fs::is_directory(dir.path() / "a-folder.pdf"));
    }
};

QTEST_MAIN(MarkedPdfTest)
#include "MarkedPdf_test.moc"
