// Dialog geometry in dialog units, converted from the dialog font's metrics as the templates
// expect: a horizontal unit is a quarter of the average character width, a vertical unit an
// eighth of the character height. Controls carry their numeric id as their object name.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

namespace tallyport {

// The dialog property that holds how much FitFixedTexts widened the horizontal unit.
inline constexpr char kWideningProperty[] = "dialogUnitWidening";

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    // The units `dialog` is laid out in: its font's, widened as FitFixedTexts widened it.
    static DialogUnits Of(const QWidget* dialog);

    int x(int units) const; // horizontal units → pixels
    int y(int units) const; // vertical units → pixels
    QRect rect(int x, int y, int width, int height) const;
    QSize size(int width, int height) const;

    int averageCharWidth() const { return baseX_; }
    int charHeight() const { return baseY_; }

    // The same units with the horizontal one `factor` times as wide (see FitFixedTexts).
    DialogUnits Widened(double factor) const;
    double widening() const { return widening_; }
    // The horizontal units a pixel distance made by x() stands for (exact while the unit is
    // wider than 4 pixels).
    int unitsOfX(int pixels) const;

private:
    int baseX_;
    int baseY_;
    double widening_ = 1;
};

// The desktop's dialog font, which takes the place of the templates' own.
QFont DialogFont();

// Numeric control ids: set as the object name, found again by tests and automation.
void SetControlId(QWidget* control, int id);
int ControlId(const QWidget* control); // 0 when it has none
template <typename T = QWidget> T* FindControl(const QWidget* dialog, int id);

QString ControlName(int id);

} // namespace tallyport

#include <QWidget>

template <typename T> T* tallyport::FindControl(const QWidget* dialog, int id) {
    return dialog->findChild<T*>(ControlName(id));
}
