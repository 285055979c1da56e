// The file-open and folder dialogs that the submit command and the submit dialog's Add use:
// filter labels as given with "All Files (*.*)" last and matching every file, the default
// extension, the initial name, the title, and what a choice or Cancel returns.
#include "submission/ChooseSubmitFile.h"
#include "support/TempDir.h"
#include "support/gui/ModalDriver.h"
#include "ui/QtPrompts.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

#include <filesystem>
#include <fstream>

using namespace tallyport;
using namespace tallyport::test;

namespace {

QStringList ComboTexts(QFileDialog* dialog) {
    QStringList texts;
    if (auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
        for (int i = 0; i < combo->count(); ++i)
            texts << combo->itemText(i);
    return texts;
}

struct Seen {
    QString title;
    QStringList labels;
    QStringList nameFilters;
    QString defaultSuffix;
    QString typedName;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
};

} // namespace

class SubmitDlgFileDialogTest : public QObject {
    Q_OBJECT
private slots:
    void openFileOffersTheFiltersAsGiven() {
        TempDir dir;
        std::ofstream(dir.path() / "main.src") << "x";
        const auto set =
            BuildRequiredFileSet("Source,src,A,4/Text,txt,T", "S,main.src", 0, "", 0, 0);
        QtPrompts prompts(QStringLiteral("tallyport-submit"));
        Seen seen;
        const QString folder = QString::fromStdString(dir.path().string());
        auto driven = WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            seen.title = dialog->windowTitle();
            seen.labels = ComboTexts(dialog);
            seen.nameFilters = dialog->nameFilters();
            seen.defaultSuffix = dialog->defaultSuffix();
            seen.mode = dialog->fileMode();
            if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                seen.typedName = edit->text();
            // The student types the name without its extension: the default one is added.
            dialog->setDirectory(folder);
            dialog->selectFile(QStringLiteral("main"));
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept, with its checks
        });
        const auto chosen = prompts.OpenFile(SubmitFileRequest(set, 0));
        QVERIFY(driven->found);
        QCOMPARE(seen.title, QStringLiteral("Select File To Submit (should be main.src)"));
        QCOMPARE(seen.labels, (QStringList{QStringLiteral("Source Files (*.src)"),
                                           QStringLiteral("All Files (*.*)")}));
        // Qt reads the patterns from the last parentheses; "*.*" stands for every file.
        QCOMPARE(seen.nameFilters.last(), QStringLiteral("All Files (*.*) (*)"));
        QCOMPARE(seen.nameFilters.first(), QStringLiteral("Source Files (*.src) (*.src)"));
        QCOMPARE(seen.defaultSuffix, QStringLiteral("src"));
        QCOMPARE(seen.typedName, QStringLiteral("main.src"));
        QCOMPARE(seen.mode, QFileDialog::ExistingFile);
        QVERIFY(chosen.has_value());
        QCOMPARE(QString::fromStdString(*chosen), folder + QStringLiteral("/main.src"));
    }

    void combinedFilterKeepsItsOrder() {
        const auto set =
            BuildRequiredFileSet("Source,src,A,4/Text,txt,T/Mixed,c;h", "M", 0, "", 0, 0);
        QtPrompts prompts(QStringLiteral("tallyport-submit"));
        Seen seen;
        auto driven = WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            seen.labels = ComboTexts(dialog);
            seen.nameFilters = dialog->nameFilters();
            seen.defaultSuffix = dialog->defaultSuffix();
            seen.title = dialog->windowTitle();
            dialog->reject();
        });
        QVERIFY(!prompts.OpenFile(SubmitFileRequest(set, 0)).has_value());
        QVERIFY(driven->found);
        QCOMPARE(seen.title, QStringLiteral("Select File To Submit"));
        QCOMPARE(seen.labels, (QStringList{QStringLiteral("Mixed Files (*.c;h)"),
                                           QStringLiteral("Text Files (*.txt)"),
                                           QStringLiteral("Source Files (*.src)"),
                                           QStringLiteral("All Files (*.*)")}));
        QCOMPARE(seen.nameFilters.first(), QStringLiteral("Mixed Files (*.c;h) (*.c h)"));
        QVERIFY(seen.defaultSuffix.isEmpty());
    }

    void folderDialogReturnsTheChosenFolder() {
        TempDir dir;
        std::filesystem::create_directory(dir.path() / "project");
        const QString folder = QString::fromStdString((dir.path() / "project").string());
        QtPrompts prompts(QStringLiteral("tallyport-submit"));
        QString title;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        auto driven = WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            title = dialog->windowTitle();
            mode = dialog->fileMode();
            dialog->setDirectory(folder);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept, with its checks
        });
        const auto chosen = prompts.ChooseFolder("Select the root folder of your project");
        QVERIFY(driven->found);
        QCOMPARE(title, QStringLiteral("Select the root folder of your project"));
        QCOMPARE(mode, QFileDialog::Directory);
        QVERIFY(chosen.has_value());
        QCOMPARE(QString::fromStdString(*chosen), folder);

        auto cancelled = WhenShown<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
        QVERIFY(!prompts.ChooseFolder("Select the root folder of your project").has_value());
        QVERIFY(cancelled->found);
    }
};

QTEST_MAIN(SubmitDlgFileDialogTest)
#include "SubmitDlgFileDialog_test.moc"
