// The "Transfer" box, template 106: its texts and ids, and Cancel that only raises a flag.
#include "support/gui/ModalDriver.h"
#include "ui/DialogUnits.h"
#include "ui/WaitDialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace tallyport;

class WaitDialogTest : public QObject {
    Q_OBJECT
private slots:
    void template106() {
        CNewWaitDialog box(QStringLiteral("Course List"));
        QCOMPARE(box.windowTitle(), QStringLiteral("Transfer"));
        QCOMPARE(box.size(), DialogUnits::Of(&box).size(176, 54));
        QCOMPARE(FindControl<QLabel>(&box, CNewWaitDialog::kTitleId)->text(),
                 QStringLiteral("Course List"));
        QCOMPARE(FindControl<QPushButton>(&box, CNewWaitDialog::kCancelId)->text(),
                 QStringLiteral("Cancel"));
        QStringList labels;
        for (QLabel* label : box.findChildren<QLabel*>())
            labels << label->text();
        QVERIFY(labels.contains(QStringLiteral("Please wait while files are transferred")));
        QVERIFY(labels.contains(QStringLiteral("File:")));
        for (QWidget* child : box.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (!child->isHidden())
                QVERIFY(QRect(QPoint(0, 0), box.size()).contains(child->geometry()));
    }

    void cancelRaisesTheFlagAndTheBoxStays() {
        CNewWaitDialog box(QStringLiteral("File List"));
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QVERIFY(!box.TakeCancelRequest());

        QTest::mouseClick(FindControl<QPushButton>(&box, CNewWaitDialog::kCancelId),
                          Qt::LeftButton);
        QVERIFY(box.isVisible());
        QVERIFY(box.TakeCancelRequest());
        QVERIFY(!box.TakeCancelRequest()); // taken once

        QTest::keyClick(&box, Qt::Key_Escape);
        QVERIFY(box.isVisible());
        QVERIFY(box.TakeCancelRequest());

        QVERIFY(!box.close()); // the close box
        QVERIFY(box.isVisible());
        QVERIFY(box.TakeCancelRequest());
    }

    void progressOnlyForLargeRequests() {
        CNewWaitDialog box(QStringLiteral("Submitted Program"));
        const QSize small = box.size();
        box.ShowProgress(12, 12);
        auto* bar = box.findChild<QProgressBar*>();
        QVERIFY(bar->isHidden());
        QCOMPARE(box.size(), small);

        box.ShowProgress(1 << 20, 4 << 20);
        QVERIFY(!bar->isHidden());
        QCOMPARE(bar->value(), bar->maximum() / 4);
        QVERIFY(box.height() > small.height());
        QVERIFY(bar->geometry().bottom() <
                FindControl<QWidget>(&box, CNewWaitDialog::kCancelId)->geometry().top());
        box.ShowProgress(4 << 20, 4 << 20);
        QCOMPARE(bar->value(), bar->maximum());
        box.ShowProgress(5 << 20, 4 << 20); // nonsense counts change nothing
        QCOMPARE(bar->value(), bar->maximum());
    }
};

QTEST_MAIN(WaitDialogTest)
#include "WaitDialog_test.moc"
