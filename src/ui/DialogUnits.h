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

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const; // horizontal units → pixels
    int y(int units) const; // vertical units → pixels
    QRect rect(int x, int y, int width, int height) const;
    QSize size(int width, int height) const;

    int averageCharWidth() const { return baseX_; }
    int charHeight() const { return baseY_; }

private:
    int baseX_;
    int baseY_;
};

// The desktop's dialog font (what the templates' "MS Sans Serif 8" maps to).
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
