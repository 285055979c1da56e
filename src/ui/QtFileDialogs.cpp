// The file-open and folder dialogs of QtPrompts.
#include "ui/QtPrompts.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>

#include <utility>
#include <vector>

namespace tallyport {
namespace {

// "Label|pattern|Label|pattern||" → its pairs, in order.
std::vector<std::pair<std::string_view, std::string_view>> FilterPairs(std::string_view filter) {
    std::vector<std::pair<std::string_view, std::string_view>> pairs;
    for (;;) {
        const std::size_t labelEnd = filter.find('|');
        if (labelEnd == std::string_view::npos || labelEnd == 0)
            break;
        const std::size_t patternEnd = filter.find('|', labelEnd + 1);
        if (patternEnd == std::string_view::npos)
            break;
        pairs.emplace_back(filter.substr(0, labelEnd),
                           filter.substr(labelEnd + 1, patternEnd - labelEnd - 1));
        filter.remove_prefix(patternEnd + 1);
    }
    return pairs;
}

// One name filter of the Qt dialog: the label as the student sees it, then the patterns in the
// parentheses that Qt reads them from (hidden from view). "*.*" means every file, as it does
// where these filters come from, so it becomes "*"; ";" separates patterns there, " " here.
QString NameFilter(std::string_view label, std::string_view pattern) {
    QStringList patterns;
    for (const QString& one : FromBytes(pattern).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = one.trimmed();
        patterns << (trimmed == QStringLiteral("*.*") ? QStringLiteral("*") : trimmed);
    }
    if (patterns.isEmpty())
        patterns << QStringLiteral("*");
    return FromBytes(label) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
           QLatin1Char(')');
}

QWidget* DialogParent(QWidget* parent) {
    return parent ? parent : QApplication::activeWindow();
}

} // namespace

std::optional<std::string> QtPrompts::OpenFile(const OpenFileRequest& request) {
    // Qt's own dialog rather than the desktop's: only it shows the filter labels exactly as given.
    // It has no read-only option to hide.
    QFileDialog dialog(DialogParent(parent_), FromBytes(request.title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile); // the file and its folder must exist
    QStringList filters;
    for (const auto& [label, pattern] : FilterPairs(request.filter))
        filters << NameFilter(label, pattern);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!request.defaultExtension.empty())
        dialog.setDefaultSuffix(FromBytes(request.defaultExtension));
    if (!request.initialName.empty())
        dialog.selectFile(FromBytes(request.initialName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
}

std::optional<std::string> QtPrompts::ChooseFolder(std::string_view title) {
    QFileDialog dialog(DialogParent(parent_), FromBytes(title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString folder = dialog.selectedFiles().constFirst();
    if (folder.isEmpty())
        return std::nullopt;
    return QFile::encodeName(folder).toStdString();
}

} // namespace tallyport
