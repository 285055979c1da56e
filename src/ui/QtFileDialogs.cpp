// The file-open and folder dialogs of QtPrompts.
#include "ui/QtPrompts.h"

#include <QFileDialog>

namespace tallyport {

std::optional<std::string> QtPrompts::OpenFile(const OpenFileRequest& request) {
    (void)request;
    return std::nullopt; // the real file dialog comes with the submit command
}

std::optional<std::string> QtPrompts::ChooseFolder(std::string_view title) {
    const QString folder = QFileDialog::getExistingDirectory(parent_, FromBytes(title), QString(),
                                                             QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return folder.toStdString();
}

} // namespace tallyport
