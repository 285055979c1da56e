// CScrollWin: document size and steps from the screen's resolution, the two bars decided
// together, scrolling by bar requests, keys and the wheel.
#include "marking/PageScale.h"
#include "sourceview/CScrollWin.h"

#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

using namespace tallyport;

namespace {

// Counts paints so that a test can see that nothing was repainted.
class CountingWin : public CScrollWin {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        CScrollWin::paintEvent(event);
    }
};

// A shown window whose client area (no bars) is `client` pixels. The page scales are set to
// 100 so that a page unit is a pixel and every document size can be made exactly.
struct Fixture {
    CountingWin win;
    int cxV = 0;
    int cyH = 0;
    int frame = 0;

    explicit Fixture(QSize client) {
        SetPageScales({100, 100});
        cxV = win.Bar(Qt::Vertical)->sizeHint().width();
        cyH = win.Bar(Qt::Horizontal)->sizeHint().height();
        frame = win.frameWidth();
        Resize(client);
        win.show();
        QVERIFY(QTest::qWaitForWindowExposed(&win));
    }
    ~Fixture() { SetPageScales(ScalesForResolution(win.logicalDpiY())); }

    void Resize(QSize client) { win.resize(client + QSize(2 * frame, 2 * frame)); }
    void SetDocPixels(int w, int h) { win.SetDocumentSize(w, h); }
    bool H() const { return win.IsBarShown(Qt::Horizontal); }
    bool V() const { return win.IsBarShown(Qt::Vertical); }
};

} // namespace

class ScrollWinTest : public QObject {
    Q_OBJECT
private slots:
    void scalesAndDocumentSize() {
        CScrollWin win;
        const PageScales expected = ScalesForResolution(win.logicalDpiY());
        QCOMPARE(ScaleX(), expected.x);
        QCOMPARE(ScaleY(), expected.y);
        win.SetDocumentSize(100, 100);
        QCOMPARE(win.docWidth(), (100 * ScaleX() + 50) / 100);
        QCOMPARE(win.docHeight(), (100 * ScaleY() + 50) / 100);
        QCOMPARE(win.lineStepX(), (ScaleX() * 10 + 50) / 100);
        QCOMPARE(win.lineStepY(), (ScaleY() * 10 + 50) / 100);
        if (win.logicalDpiY() == 96) {
            QCOMPARE(win.docWidth(), 93);
            QCOMPARE(win.docHeight(), 160);
            QCOMPARE(win.lineStepX(), 9);
            QCOMPARE(win.lineStepY(), 16);
        }
    }

    void smallDocumentHidesBothBarsAndResetsPositions() {
        Fixture f(QSize(300, 200));
        f.SetDocPixels(1000, 1000);
        QVERIFY(f.H() && f.V());
        f.win.ScrollTo(50, 70);
        QCOMPARE(f.win.GetScrollPosition(), QPoint(50, 70));
        f.SetDocPixels(100, 100);
        QVERIFY(!f.H() && !f.V());
        QCOMPARE(f.win.GetScrollPosition(), QPoint(0, 0));
        QCOMPARE(f.win.ClientRect().size(), QSize(300, 200));
        // The page steps come from the client size UpdateBars started with (bars still shown);
        // the next decision takes the new size.
        QCOMPARE(f.win.pageStepX(), (300 - f.cxV) * 9 / 10);
        QCOMPARE(f.win.pageStepY(), (200 - f.cyH) * 9 / 10);
        f.SetDocPixels(100, 100);
        QCOMPARE(f.win.pageStepX(), 270);
        QCOMPARE(f.win.pageStepY(), 180);
    }

    void oneBarCanForceTheOther() {
        Fixture f(QSize(300, 200));
        // Wider, not taller, and the horizontal bar still leaves room: one bar.
        f.SetDocPixels(301, 200 - f.cyH);
        QVERIFY(f.H() && !f.V());
        QCOMPARE(f.win.Limit(Qt::Horizontal), 1);
        // Taller than what the horizontal bar leaves: both.
        f.SetDocPixels(301, 200 - f.cyH + 1);
        QVERIFY(f.H() && f.V());
        QCOMPARE(f.win.Limit(Qt::Vertical), 1);
        QCOMPARE(f.win.Limit(Qt::Horizontal), 301 - (300 - f.cxV));
        // The other way round: taller, and narrow enough beside the vertical bar.
        f.SetDocPixels(300 - f.cxV, 201);
        QVERIFY(!f.H() && f.V());
        f.SetDocPixels(300 - f.cxV + 1, 201);
        QVERIFY(f.H() && f.V());
        QCOMPARE(f.win.ClientRect().size(), QSize(300 - f.cxV, 200 - f.cyH));
        // Exactly the client size needs no bar.
        f.SetDocPixels(300, 200);
        QVERIFY(!f.H() && !f.V());
    }

    void shrinkingAtTheEndClampsToTheNewLimit() {
        Fixture f(QSize(300, 200));
        f.SetDocPixels(200, 2000);
        QVERIFY(!f.H() && f.V());
        f.win.OnVScroll(CScrollWin::Bottom, 0);
        QCOMPARE(f.win.GetScrollPosition().y(), 2000 - 200);
        f.SetDocPixels(200, 500);
        QCOMPARE(f.win.Limit(Qt::Vertical), 300);
        QCOMPARE(f.win.GetScrollPosition().y(), 300);
    }

    void tooSmallForABarShowsNone() {
        Fixture f(QSize(300, 200));
        f.Resize(QSize(f.cxV, 50));
        f.SetDocPixels(1000, 1000);
        QVERIFY(!f.H() && !f.V());
        f.Resize(QSize(f.cxV + 1, 50));
        QVERIFY(f.H() && f.V());
    }

    void resizingRedecidesTheBars() {
        Fixture f(QSize(300, 200));
        f.SetDocPixels(400, 150);
        QVERIFY(f.H() && !f.V());
        f.Resize(QSize(500, 300));
        QVERIFY(!f.H() && !f.V());
        QCOMPARE(f.win.pageStepX(), 450);
    }

    void scrollDeltaTable() {
        // position 100, track 40, limit 500, line 16, page 180
        const int expected[] = {-16, 16, -180, 180, 0, -60, -100, 400, 0, 0};
        for (int code = 0; code < 10; ++code)
            QCOMPARE(CScrollWin::ScrollDelta(100, 40, 500, code, 16, 180), expected[code]);
    }

    void barRequestsAndThumb() {
        Fixture f(QSize(300, 200));
        f.SetDocPixels(2000, 2000);
        f.win.OnVScroll(CScrollWin::LineDown, 0);
        QCOMPARE(f.win.GetScrollPosition().y(), f.win.lineStepY());
        f.win.OnVScroll(CScrollWin::ThumbTrack, 123);
        QCOMPARE(f.win.GetScrollPosition().y(), 123);
        f.win.OnVScroll(CScrollWin::ThumbPosition, 999); // releasing the thumb never moves
        QCOMPARE(f.win.GetScrollPosition().y(), 123);
        f.win.OnHScroll(CScrollWin::PageDown, 0);
        QCOMPARE(f.win.GetScrollPosition().x(), f.win.pageStepX());
        f.win.OnHScroll(CScrollWin::Bottom, 0);
        QCOMPARE(f.win.GetScrollPosition().x(), f.win.Limit(Qt::Horizontal));
        f.win.OnHScroll(CScrollWin::LineDown, 0); // at the end: clamped, nothing scrolled
        QCOMPARE(f.win.GetScrollPosition().x(), f.win.Limit(Qt::Horizontal));

        // The real bars: a page click moves by our page step, not the bar's own.
        QScrollBar* bar = f.win.Bar(Qt::Vertical);
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(f.win.GetScrollPosition().y(), 123 + f.win.pageStepY());
        bar->setSliderPosition(40); // dragging the thumb
        QCOMPARE(f.win.GetScrollPosition().y(), 40);
        QCOMPARE(bar->value(), 40);
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub); // at the top: stays
        QCOMPARE(bar->value(), 0);
        QCOMPARE(bar->sliderPosition(), 0);
    }

    void wheel() {
        Fixture f(QSize(300, 200));
        f.SetDocPixels(2000, 2000);
        QVERIFY(f.win.OnMouseWheel(-120)); // toward the user: down three lines
        QCOMPARE(f.win.GetScrollPosition().y(), 3 * f.win.lineStepY());
        QVERIFY(f.win.OnMouseWheel(-40)); // a finer step moves proportionally
        QCOMPARE(f.win.GetScrollPosition().y(), 4 * f.win.lineStepY());
        QWheelEvent up(QPointF(10, 10), f.win.mapToGlobal(QPointF(10, 10)), QPoint(),
                       QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&f.win, &up);
        QVERIFY(up.isAccepted());
        QCOMPARE(f.win.GetScrollPosition().y(), f.win.lineStepY());

        f.SetDocPixels(2000, 100); // only a horizontal range
        QVERIFY(f.win.OnMouseWheel(-120));
        QCOMPARE(f.win.GetScrollPosition().x(), 3 * f.win.lineStepX());
        f.SetDocPixels(100, 100); // neither
        QVERIFY(!f.win.OnMouseWheel(-120));
        QWheelEvent none(QPointF(10, 10), f.win.mapToGlobal(QPointF(10, 10)), QPoint(),
                         QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&f.win, &none);
        QVERIFY(!none.isAccepted());
    }

    // Over either bar a notch moves three lines, as it does over the page: the bars do not
    // take the wheel for a step of their own, and the horizontal one does not turn it sideways.
    void wheelOverTheBars() {
        Fixture f(QSize(300, 200));
        f.SetDocPixels(2000, 2000);
        QVERIFY(f.H() && f.V());
        const auto notch = [](QWidget* over, int delta) {
            const QPointF at(over->width() / 2.0, over->height() / 2.0);
            QWheelEvent wheel(at, over->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(over, &wheel);
        };
        QScrollBar* vertical = f.win.Bar(Qt::Vertical);
        QScrollBar* horizontal = f.win.Bar(Qt::Horizontal);
        notch(vertical, -120);
        QCOMPARE(f.win.GetScrollPosition(), QPoint(0, 3 * f.win.lineStepY()));
        notch(horizontal, -120);
        QCOMPARE(f.win.GetScrollPosition(), QPoint(0, 6 * f.win.lineStepY()));
        notch(horizontal, 120);
        QCOMPARE(f.win.GetScrollPosition(), QPoint(0, 3 * f.win.lineStepY()));
        QCOMPARE(vertical->value(), 3 * f.win.lineStepY());

        f.SetDocPixels(2000, 100); // only a horizontal range: the wheel goes sideways
        QVERIFY(f.H() && !f.V());
        notch(horizontal, -120);
        QCOMPARE(f.win.GetScrollPosition(), QPoint(3 * f.win.lineStepX(), 0));
    }

    void keys() {
        Fixture f(QSize(300, 200));
        f.SetDocPixels(300, 1000);
        f.win.setFocus();
        QTest::keyClick(&f.win, Qt::Key_PageDown);
        QCOMPARE(f.win.GetScrollPosition().y(), f.win.pageStepY());
        QTest::keyClick(&f.win, Qt::Key_End);
        QCOMPARE(f.win.GetScrollPosition().y(), f.win.Limit(Qt::Vertical));
        QTest::qWait(20);
        int paints = f.win.paints;
        QTest::keyClick(&f.win, Qt::Key_PageDown); // at the end: nothing moves or repaints
        QTest::qWait(20);
        QCOMPARE(f.win.GetScrollPosition().y(), f.win.Limit(Qt::Vertical));
        QCOMPARE(f.win.paints, paints);
        QTest::keyClick(&f.win, Qt::Key_PageUp);
        QCOMPARE(f.win.GetScrollPosition().y(), f.win.Limit(Qt::Vertical) - f.win.pageStepY());
        QTest::keyClick(&f.win, Qt::Key_Home);
        QCOMPARE(f.win.GetScrollPosition().y(), 0);
        QTest::qWait(20);
        paints = f.win.paints;
        QTest::keyClick(&f.win, Qt::Key_Home); // at the top: nothing
        QTest::keyClick(&f.win, Qt::Key_Down); // arrows are not handled
        QTest::qWait(20);
        QCOMPARE(f.win.GetScrollPosition(), QPoint(0, 0));
        QCOMPARE(f.win.paints, paints);
    }
};

QTEST_MAIN(ScrollWinTest)
#include "ScrollWin_test.moc"
