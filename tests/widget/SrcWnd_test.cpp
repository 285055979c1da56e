// SrcWnd: the page of one file in the view, painted with the scroll offset, the margin line at
// column 80 over the whole visible height, the non-ASCII notice, and painting only what is
// exposed while giving the same picture as drawing the whole page.
#include "marking/PageScale.h"
#include "sourceview/SrcWnd.h"

#include <QFontInfo>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

using namespace tallyport;

namespace {

MarkedFile TextFile(std::string name, std::string text, int32_t tabWidth = 4) {
    MarkedFile file;
    file.name = std::move(name);
    file.tabWidth = tabWidth;
    file.length = int32_t(text.size());
    file.SetText(std::move(text));
    return file;
}

// A long marked file: numbered lines with tabs, a comment every 10 lines and strokes.
MarkedSubmission Example(int lines) {
    MarkedSubmission s;
    s.marking.emplace();
    s.marking->mark = 7;
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "line " + std::to_string(i) + "\tint value = " + std::to_string(i * 7) + ";" +
                std::string(i % 120, '#') + "\r\n";
    s.files.push_back(TextFile("long.c", text));
    for (int i = 0; i < lines; i += 10) {
        s.files[0].PushAnnotation(
            std::make_unique<CommentNode>(400, i * 10, 90, 20, "check\r\athis"));
        auto points = std::make_unique<PointNode>(0, 0);
        points = std::make_unique<PointNode>(300, 40, std::move(points));
        s.files[0].PushAnnotation(
            std::make_unique<LineNode>(20, i * 10 + 5, 300, 40, std::move(points)));
    }
    s.files.push_back(TextFile("short.c", "x\n"));
    MarkedFile binary = TextFile("data.bin", "\x01\x02");
    binary.kind = ContentKind::NonAscii;
    binary.PushAnnotation(std::make_unique<CommentNode>(0, 0, 10, 10, "never drawn"));
    s.files.push_back(std::move(binary));
    s.fileCount = 3;
    return s;
}

// What the client area must show: the whole page drawn without any dirty area.
QImage Reference(const SrcWnd& view) {
    const QRect client = view.ClientRect();
    QImage image(client.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(view.palette().color(QPalette::Base));
    QPainter painter(&image);
    const QPoint scroll = view.GetScrollPosition();
    painter.translate(-scroll);
    painter.setFont(view.pageFont());
    SrcWnd::PaintPage(painter, *view.currentFile(), scroll, client.height(), std::nullopt);
    return image;
}

QImage Shown(SrcWnd& view) {
    return view.grab(view.ClientRect())
        .toImage()
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

int CountColour(const QImage& image, QColor colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelColor(x, y) == colour;
    return n;
}

struct Shown_ {
    SrcWnd view;
    explicit Shown_(QSize size = QSize(500, 300)) {
        view.resize(size);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
};

} // namespace

class SrcWndTest : public QObject {
    Q_OBJECT
private slots:
    void pageFontAndEmptyView() {
        Shown_ s;
        QCOMPARE(s.view.pageFont().pixelSize(), PageFontPixelHeight());
        QVERIFY(QFontInfo(s.view.pageFont()).fixedPitch());
        QCOMPARE(QFontInfo(s.view.pageFont()).family(), QStringLiteral("Liberation Mono"));
        QCOMPARE(s.view.windowTitle(), QStringLiteral("View"));
        MarkedSubmission sub = Example(20);
        for (const int index : {-1, 3, -5}) {
            s.view.SetFile(&sub, index);
            QCOMPARE(s.view.currentFile(), nullptr);
            QCOMPARE(s.view.docWidth(), PageToPixelX(100)); // 10 columns by 10 lines
            QCOMPARE(s.view.docHeight(), PageToPixelY(100));
        }
        s.view.SetFile(nullptr, 0);
        QCOMPARE(s.view.currentFile(), nullptr);
        const QImage empty = Shown(s.view);
        QCOMPARE(CountColour(empty, s.view.palette().color(QPalette::Base)),
                 empty.width() * empty.height());
    }

    void documentIsThePageExtent() {
        Shown_ s;
        MarkedSubmission sub = Example(200);
        s.view.SetFile(&sub, 0);
        // 200 lines and an empty last piece; the widest line: "line 119" TAB (to column 12)
        // "int value = 833;" + 119 '#' and the CR.
        QCOMPARE(s.view.docHeight(), PageToPixelY(2010));
        QCOMPARE(s.view.docWidth(), PageToPixelX(10 * (12 + 16 + 119 + 1)));
        s.view.SetFile(&sub, 2); // non-ASCII: the notice's measure, height ten times its own
        const QFontMetrics metrics(s.view.pageFont());
        const int noticeWidth =
            metrics.horizontalAdvance(QString::fromLatin1(kNonAsciiNotice.data(), 46));
        QCOMPARE(s.view.docWidth(), PageToPixelX(noticeWidth));
        QCOMPARE(s.view.docHeight(), PageToPixelY(metrics.height() * 10));
    }

    void paintedPageMatchesTheWholePageDrawnAtAnyScroll() {
        Shown_ s;
        MarkedSubmission sub = Example(3000);
        s.view.SetFile(&sub, 0);
        int red = 0;
        int black = 0;
        for (const QPoint scroll : {QPoint(0, 0), QPoint(0, s.view.Limit(Qt::Vertical) / 2),
                                    QPoint(200, 0), QPoint(s.view.Limit(Qt::Horizontal), 1234)}) {
            s.view.ScrollTo(scroll.x(), scroll.y());
            QCOMPARE(s.view.GetScrollPosition(), scroll);
            const QImage reference = Reference(s.view);
            const QImage shown = Shown(s.view);
            QCOMPARE(shown, reference);
            red += CountColour(reference, Qt::red); // comments and strokes
            black += CountColour(reference, Qt::black);
        }
        QVERIFY(red > 0);
        QVERIFY(black > 0);
    }

    void exposedStripsPaintWhatTheWholePageHasThere() {
        Shown_ s;
        MarkedSubmission sub = Example(3000);
        s.view.SetFile(&sub, 0);
        s.view.ScrollTo(37, s.view.Limit(Qt::Vertical) / 2 + 5);
        const QRect client = s.view.ClientRect();
        const QImage reference = Reference(s.view);
        // Strips as a scroll uncovers them: a few lines at the bottom or top, columns at a side.
        for (const QRect strip : {QRect(client.left(), client.bottom() - 47, client.width(), 48),
                                  QRect(client.left(), client.top(), client.width(), 16),
                                  QRect(client.left() + 300, client.top(), 9, client.height()),
                                  QRect(client.left() + 5, client.top() + 101, 3, 7)}) {
            QImage image(s.view.size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            {
                QPainter painter(&image);
                painter.drawImage(client.topLeft(), reference);
                s.view.render(&painter, strip.topLeft(), QRegion(strip),
                              QWidget::DrawWindowBackground);
            }
            QCOMPARE(image.copy(client), reference);
        }
    }

    void marginLineSpansTheVisibleHeightAndMovesWithTheText() {
        Shown_ s(QSize(900, 300));
        MarkedSubmission sub = Example(100);
        s.view.SetFile(&sub, 1); // "x": nothing near column 80
        const QRect client = s.view.ClientRect();
        auto blueRows = [&](int x) {
            const QImage shown = Shown(s.view);
            int rows = 0;
            for (int y = 0; y < shown.height(); ++y)
                rows += shown.pixelColor(x, y) == QColor(Qt::blue);
            return rows;
        };
        const int marginX = MarginLinePixelX(); // between columns 79 and 80
        QVERIFY(marginX > PageToPixelX(790) && marginX <= PageToPixelX(800));
        QCOMPARE(blueRows(marginX), client.height());
        QCOMPARE(CountColour(Shown(s.view), Qt::blue), client.height());

        s.view.SetFile(&sub, 0);
        s.view.ScrollTo(200, 0); // right more than down: still the whole height
        QCOMPARE(s.view.GetScrollPosition(), QPoint(200, 0));
        const int visible = s.view.ClientRect().height(); // the bars are shown now
        QCOMPARE(blueRows(marginX - 200), visible);
        s.view.ScrollTo(200, 3000);
        QCOMPARE(blueRows(marginX - 200), visible);
    }

    // The horizontal range reaches the end of a tab-indented line: scrolled fully right, its
    // last character is inside the view and painted there.
    void scrollRangeReachesTheEndOfATabIndentedLine() {
        Shown_ s(QSize(400, 200));
        MarkedSubmission sub;
        // 6 tabs of 8 columns and 50 characters: 98 columns drawn from 56 bytes.
        sub.files.push_back(TextFile("deep.c", "\t\t\t\t\t\t" + std::string(49, 'x') + "#", 8));
        sub.fileCount = 1;
        s.view.SetFile(&sub, 0);
        const int lastLeft = PageToPixelX(970); // the cell of '#', column 97
        const int lastRight = PageToPixelX(980);
        s.view.ScrollTo(s.view.Limit(Qt::Horizontal), 0);
        const QRect client = s.view.ClientRect();
        const int scroll = s.view.GetScrollPosition().x();
        QCOMPARE(scroll, s.view.Bar(Qt::Horizontal)->maximum());
        QVERIFY2(lastRight - scroll <= client.width(),
                 qPrintable(QStringLiteral("the last cell ends at %1, the view at %2")
                                .arg(lastRight - scroll)
                                .arg(client.width())));
        const QImage shown = Shown(s.view);
        int inked = 0;
        for (int x = lastLeft - scroll; x < lastRight - scroll; ++x)
            for (int y = 0; y < PageToPixelY(10); ++y)
                inked += shown.pixelColor(x, y) != s.view.palette().color(QPalette::Base);
        QVERIFY(inked > 0);
    }

    // The screen draws the characters the page decodes, not their bytes one by one.
    void screenDrawsDecodedCharacters() {
        Shown_ s;
        MarkedSubmission sub;
        sub.files.push_back(TextFile("quotes.c", "\x93\x80\x94 caf\xE9", 8)); // Windows-1252
        sub.files.push_back(
            TextFile("utf8.c", "\xE2\x80\x9C\xE2\x82\xAC\xE2\x80\x9D caf\xC3\xA9", 8));
        sub.fileCount = 2;
        // What the page must show: each character at the start of its cell.
        auto expected = [&](const std::vector<std::pair<int, QString>>& cells) {
            QImage image(s.view.ClientRect().size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(s.view.palette().color(QPalette::Base));
            QPainter painter(&image);
            painter.setFont(s.view.pageFont());
            const QFontMetrics metrics(s.view.pageFont());
            painter.setPen(Qt::black);
            for (const auto& [column, character] : cells)
                painter.drawText(QPoint(PageToPixelX(10 * column), metrics.ascent()), character);
            return image.copy(0, 0, PageToPixelX(200), PageToPixelY(10));
        };
        const QString euro = QString(QChar(0x20AC));
        const QString open = QString(QChar(0x201C));
        const QString close = QString(QChar(0x201D));
        const QString eAcute = QString(QChar(0xE9));
        s.view.SetFile(&sub, 0);
        QCOMPARE(Shown(s.view).copy(0, 0, PageToPixelX(200), PageToPixelY(10)),
                 expected({{0, open},
                           {1, euro},
                           {2, close},
                           {4, QStringLiteral("c")},
                           {5, QStringLiteral("a")},
                           {6, QStringLiteral("f")},
                           {7, eAcute}}));
        s.view.SetFile(&sub, 1);
        QCOMPARE(Shown(s.view).copy(0, 0, PageToPixelX(200), PageToPixelY(10)),
                 expected({{0, open},
                           {3, euro},
                           {6, close},
                           {10, QStringLiteral("c")},
                           {11, QStringLiteral("a")},
                           {12, QStringLiteral("f")},
                           {13, eAcute}}));
    }

    void nonAsciiShowsOnlyTheNotice() {
        Shown_ s;
        MarkedSubmission sub = Example(10);
        s.view.SetFile(&sub, 2);
        const QImage shown = Shown(s.view);
        QCOMPARE(shown, Reference(s.view));
        QCOMPARE(CountColour(shown, Qt::red), 0);  // no annotations
        QCOMPARE(CountColour(shown, Qt::blue), 0); // no margin line
        QVERIFY(CountColour(shown, Qt::black) > 0);
    }

    void switchingFilesOnlyClampsTheScroll() {
        Shown_ s;
        MarkedSubmission sub = Example(3000);
        sub.files[1] = TextFile("mid.c", std::string(40, '\n'));
        s.view.SetFile(&sub, 0);
        s.view.ScrollTo(0, 5000);
        s.view.SetFile(&sub, 1);
        QCOMPARE(s.view.GetScrollPosition().y(), s.view.Limit(Qt::Vertical));
        const int clamped = s.view.GetScrollPosition().y();
        QVERIFY(clamped > 0);
        s.view.SetFile(&sub, 0); // back to the long file: the position is kept, not reset
        QCOMPARE(s.view.GetScrollPosition().y(), clamped);
    }
};

QTEST_MAIN(SrcWndTest)
#include "SrcWnd_test.moc"
