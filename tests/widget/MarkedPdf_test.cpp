// The marked work's PDF written directly: a 5,000-line file on exactly the sheets its lines
// need with every line whole on one sheet, characters beyond ASCII read back from their own
// cells, the paper the locale prints on, and a write failure reported without leaving a file
// behind (a PDF of more sheets than any submission needs too).
#include "marking/MarkedPdf.h"
#include "marking/PageScale.h"
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

    // A stroke taller than a sheet is cut where the lines are: each sheet draws its part, and
    // nothing of it spills into the margins.
    void strokeTallerThanASheetClippedToEachSheet() {
        ScopedPageScales scales;
        TempDir dir;
        MarkedSubmission s = LongMarkedFile(100);
        MarkedFile& file = s.files[0];
        file.annotations.reset();
        file.PushAnnotation(std::make_unique<LineNode>(
            500, 0, 0, 990,
            std::make_unique<PointNode>(0, 990, std::make_unique<PointNode>(0, 0))));
        const fs::path pdf = dir.path() / "tall.pdf";
        QCOMPARE(WriteMarkedPdf(pdf, s, 10, QPageSize(QPageSize::A4)), std::nullopt);
        const auto layout = LayoutMarkedPdf(file, QPageSize(QPageSize::A4));
        QVERIFY(layout);
        QCOMPARE(PdfPageCount(pdf), 2);
        QCOMPARE(int(layout->bands.size()), 2);
        const int x = int(std::lround(layout->PointX(PageToPixelX(500))));
        for (std::size_t sheet = 0; sheet < 2; ++sheet) {
            const fs::path png = dir.path() / ("sheet" + std::to_string(sheet) + ".png");
            QVERIFY(RenderPdfPage(pdf, int(sheet) + 1, 72, png));
            const QImage image(QString::fromStdString(png.string()));
            QVERIFY(!image.isNull());
            auto redRows = [&](double from, double to) {
                int rows = 0;
                for (int y = std::max(0, int(from)); y < std::min(image.height(), int(to)); ++y)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const QRgb p = image.pixel(x + dx, y);
                        if (qRed(p) > 150 && qGreen(p) < 110) {
                            ++rows;
                            break;
                        }
                    }
                return rows;
            };
            const PageBand& band = layout->bands[sheet];
            const double top = layout->PointY(sheet, PageToPixelY(band.top));
            // The stroke ends at page y 990, inside the last sheet's band.
            const double bottom =
                layout->PointY(sheet, PageToPixelY(std::min<int32_t>(band.bottom, 990)));
            QVERIFY(redRows(top + 1, bottom - 1) >= int(bottom - top) - 3);
            QCOMPARE(redRows(0, top - 1), 0);
            QCOMPARE(redRows(bottom + 1, image.height()), 0);
        }
    }

    // A line wider than the sheet is cut at the right margin, not printed into it.
    void wideLineStopsAtTheRightMargin() {
        ScopedPageScales scales;
        TempDir dir;
        MarkedSubmission s = LongMarkedFile(1);
        MarkedFile& file = s.files[0];
        file.SetText(std::string(400, 'W') + "\r\n");
        file.length = int32_t(file.text()->size());
        const fs::path pdf = dir.path() / "wide.pdf";
        const fs::path png = dir.path() / "wide.png";
        QCOMPARE(WriteMarkedPdf(pdf, s, 10, QPageSize(QPageSize::A4)), std::nullopt);
        QVERIFY(RenderPdfPage(pdf, 1, 72, png));
        const QImage image(QString::fromStdString(png.string()));
        const auto layout = LayoutMarkedPdf(file, QPageSize(QPageSize::A4));
        QVERIFY(layout);
        const int row = int(layout->PointY(0, PageToPixelY(5)));
        const int edge = image.width() - int(layout->margin);
        auto dark = [&](int from, int to) {
            int n = 0;
            for (int x = from; x < to; ++x)
                for (int y = row - 4; y <= row + 4; ++y)
                    n += qGray(image.pixel(x, y)) < 128;
            return n;
        };
        QVERIFY(dark(int(layout->margin), edge) > 100); // the W's across the sheet
        QCOMPARE(dark(edge + 8, image.width()), 0);     // at most one cell past the edge
    }

    // Characters beyond ASCII: UTF-8 (a character in the first of its byte cells, a star the
    // page font lacks drawn from a fallback font) and Windows-1252 all read back, and what
    // follows them stays in its own cell.
    void nonAsciiTextInItsCells() {
        ScopedPageScales scales;
        TempDir dir;
        MarkedSubmission s = LongMarkedFile(1);
        s.files[0].annotations.reset();
        // c a f é(2 cells) space ★(3 cells) space x ;
        s.files[0].SetText("caf\xc3\xa9 \xe2\x98\x85 x;\r\n");
        MarkedFile windows;
        windows.name = "cp1252.txt";
        windows.SetText("caf\xe9 \x80 y;\r\n");
        s.files.push_back(std::move(windows));
        const fs::path pdf = dir.path() / "non-ascii.pdf";
        QCOMPARE(WriteMarkedPdf(pdf, s, 10, QPageSize(QPageSize::A4)), std::nullopt);
        QCOMPARE(PdfPageCount(pdf), 2);
        const auto text = PdfText(pdf, false);
        QVERIFY(text);
        for (const char* expected : {"caf\xc3\xa9", "\xe2\x98\x85", "x;", "\xe2\x82\xac", "y;"})
            QVERIFY2(text->find(expected) != std::string::npos, expected);

        constexpr int kDpi = 144;
        const fs::path png = dir.path() / "non-ascii.png";
        QVERIFY(RenderPdfPage(pdf, 1, kDpi, png));
        const QImage image(QString::fromStdString(png.string()));
        QVERIFY(!image.isNull());
        const auto layout = LayoutMarkedPdf(s.files[0], QPageSize(QPageSize::A4));
        QVERIFY(layout);
        // Dark pixels in a cell of line 0 (column `column`), less a pixel all round.
        auto darkInCell = [&](int column) {
            auto at = [&](double points) { return int(std::lround(points * kDpi / 72)); };
            const int left = at(layout->PointX(PageToPixelX(column * 10))) + 1;
            const int right = at(layout->PointX(PageToPixelX(column * 10 + 10))) - 2;
            const int top = at(layout->PointY(0, PageToPixelY(0))) + 1;
            const int bottom = at(layout->PointY(0, PageToPixelY(10))) - 2;
            int n = 0;
            for (int y = top; y <= bottom; ++y)
                for (int x = left; x <= right; ++x)
                    n += qGray(image.pixel(x, y)) < 128;
            return n;
        };
        for (int column : {0, 3, 6, 10, 11})
            QVERIFY2(darkInCell(column) > 2, qPrintable(QString::number(column)));
        for (int column : {4, 5, 9, 12})
            QVERIFY2(darkInCell(column) == 0, qPrintable(QString::number(column)));
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
        // Comments placed far apart would each want a sheet: past 5,000 the PDF is refused.
        MarkedSubmission spread = LongMarkedFile(3);
        for (int32_t i = 1; i <= 5000; ++i)
            spread.files[0].PushAnnotation(
                std::make_unique<CommentNode>(0, i * 10'000, 10, 10, "far"));
        const fs::path tooMany = dir.path() / "too-many.pdf";
        QCOMPARE(WriteMarkedPdf(tooMany, spread, 10),
                 std::optional<std::string>("it would need more than 5000 pages"));
        QVERIFY(!fs::exists(tooMany));
        fs::create_directories(dir.path() / "a-folder.pdf"); // a folder where the file goes
        QVERIFY(WriteMarkedPdf(dir.path() / "a-folder.pdf", s, 10));
        QVERIFY(fs::is_directory(dir.path() / "a-folder.pdf"));
    }
};

QTEST_MAIN(MarkedPdfTest)
#include "MarkedPdf_test.moc"
