// The Qt implementation of the prompt seam: real message boxes, file-open and folder dialogs.
#pragma once

#include "ui/Prompts.h"

#include <QString>

class QWidget;

namespace tallyport {

// Message texts are single-byte; bytes above 0x7F are taken as Latin-1 so nothing is lost.
QString FromBytes(std::string_view text);

class QtPrompts : public Prompts {
public:
    // `caption` is the application name shown on every box.
    QtPrompts(QString caption, QWidget* parent = nullptr) : caption_(std::move(caption)), parent_(parent) {}

    void SetParent(QWidget* parent) { parent_ = parent; }

    Answer Message(std::string_view text, Buttons buttons, Icon icon) override;
    std::optional<std::string> OpenFile(const OpenFileRequest& request) override;
    std::optional<std::string> ChooseFolder(std::string_view title) override;

private:
    QString caption_;
    QWidget* parent_;
};

} // namespace tallyport
