#include "ui/DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>
#include <QVariant>
#include <QWidget>

#include <cmath>

namespace tallyport {
namespace {

// Rounded a * b / c, as the platform's MulDiv.
int MulDiv(int a, int b, int c) {
    return int((int64_t(a) * b + (c / 2) * (a < 0 ? -1 : 1)) / c);
}

} // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width over the 52 letters, rounded, as dialog templates measure it.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    baseY_ = metrics.height();
    if (baseX_ < 1)
        baseX_ = 1;
    if (baseY_ < 1)
        baseY_ = 1;
}

int DialogUnits::x(int units) const {
    if (widening_ == 1)
        return MulDiv(units, baseX_, 4);
    return int(std::lround(units * baseX_ * widening_ / 4));
}
int DialogUnits::y(int units) const {
    return MulDiv(units, baseY_, 8);
}

DialogUnits DialogUnits::Of(const QWidget* dialog) {
    const QVariant widening = dialog->property(kWideningProperty);
    return DialogUnits(dialog->font()).Widened(widening.isValid() ? widening.toDouble() : 1.0);
}

int DialogUnits::unitsOfX(int pixels) const {
    return int(std::lround(pixels * 4.0 / (baseX_ * widening_)));
}

DialogUnits DialogUnits::Widened(double factor) const {
    DialogUnits widened = *this;
    widened.widening_ = widening_ * factor;
    return widened;
}

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return {x(left), y(top), x(width), y(height)};
}

QSize DialogUnits::size(int width, int height) const {
    return {x(width), y(height)};
}

QFont DialogFont() {
    return QApplication::font("QDialog");
}

QString ControlName(int id) {
    return QString::number(id);
}

void SetControlId(QWidget* control, int id) {
    control->setObjectName(ControlName(id));
}

int ControlId(const QWidget* control) {
    bool ok = false;
    const int id = control->objectName().toInt(&ok);
    return ok ? id : 0;
}

} // namespace tallyport
