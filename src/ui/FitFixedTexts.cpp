#include "ui/FitFixedTexts.h"

#include "ui/DialogUnits.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <cmath>

namespace tallyport {
namespace {

// The rectangle a button's style draws its text in.
QRect ButtonTextRoom(const QAbstractButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (const auto* push = qobject_cast<const QPushButton*>(button)) {
        if (push->autoDefault() || push->isDefault())
            option.features |= QStyleOptionButton::AutoDefaultButton;
        return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    }
    if (qobject_cast<const QCheckBox*>(button))
        return button->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, button);
    return button->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, button);
}

} // namespace

double TextWidening(const QWidget* control) {
    QString text;
    int room = 0;
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        if (label->textFormat() == Qt::RichText || label->wordWrap())
            return 1;
        text = label->text();
        room = label->contentsRect().width() - 2 * label->margin() - std::max(0, label->indent());
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
        text = button->text();
        room = ButtonTextRoom(button).width();
    }
    if (text.isEmpty() || control->width() <= 0)
        return 1;
    // What the text needs as it is drawn on this control's screen, '&' marks left out; one pixel
    // more so that rounding the widened places cannot take it away again.
    const QFontMetricsF metrics(control->font(), control);
    const double needed = std::ceil(metrics.size(Qt::TextShowMnemonic, text).width()) + 1;
    if (needed <= room)
        return 1;
    // The frame around the room stays as it is; only the room grows with the factor.
    const int frame = control->width() - room;
    return (needed + frame) / control->width();
}

double FitFixedTexts(QWidget* dialog) {
    const auto children = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    double total = 1;
    // Rounding the widened places can take a pixel back: measure again until all fit.
    for (int round = 0; round < 3; ++round) {
        double factor = 1;
        for (const QWidget* child : children)
            factor = std::max(factor, TextWidening(child));
        if (factor == 1)
            break;
        // Each place goes back to the template's units and out again in the wider unit, so
        // the dialog stays exactly what its template gives in that unit.
        const DialogUnits before = DialogUnits::Of(dialog);
        const DialogUnits after = before.Widened(factor);
        const auto widen = [&](int pixels) { return after.x(before.unitsOfX(pixels)); };
        for (QWidget* child : children) {
            if (child->isWindow())
                continue;
            const QRect place = child->geometry();
            child->setGeometry(widen(place.x()), place.y(), widen(place.width()), place.height());
        }
        if (dialog->minimumWidth() == dialog->maximumWidth())
            dialog->setFixedWidth(widen(dialog->width()));
        else
            dialog->resize(widen(dialog->width()), dialog->height());
        dialog->setProperty(kWideningProperty, after.widening());
        total *= factor;
    }
    return total;
}

} // namespace tallyport
