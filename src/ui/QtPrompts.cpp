#include "ui/QtPrompts.h"

#include "ui/DisplayText.h"

#include <QApplication>
#include <QMessageBox>

namespace tallyport {

QString FromBytes(std::string_view text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

Answer QtPrompts::Message(std::string_view text, Buttons buttons, Icon icon) {
    // Without a fixed parent the box belongs to whatever window is active (the transfer box, a
    // dialog), so that it is centred over it.
    QMessageBox box(parent_ ? parent_ : QApplication::activeWindow());
    box.setWindowTitle(caption_);
    // Names in a message come from the disk or the server: "<b>x.c" is a name, not markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(DisplayText(text));
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::AbortRetryIgnore:
        box.setStandardButtons(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
        // Escape and the close box must not throw away what the student typed (Qt would make
        // them Abort, the one reject button): they answer Ignore, which keeps it.
        box.setEscapeButton(box.button(QMessageBox::Ignore));
        break;
    }
    switch (icon) {
    case Icon::None: // a plain OK or OK/Cancel box shows the exclamation icon
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Abort:
        return Answer::Abort;
    case QMessageBox::Retry:
        return Answer::Retry;
    case QMessageBox::Ignore:
        return Answer::Ignore;
    default: // Cancel, or Escape or the close box on an OK/Cancel box
        return buttons == Buttons::AbortRetryIgnore ? Answer::Ignore : Answer::Cancel;
    }
}

} // namespace tallyport
