// The dialog templates were measured for a narrower dialog font than most desktops use, so a
// label or button text can be wider than its rectangle. A dialog is widened (every control's
// place and width with it) by the least factor that shows every fixed text whole: in effect a
// wider horizontal dialog unit, so the template's layout is kept as it is.
#pragma once

class QWidget;

namespace tallyport {

// The width a control's text needs beyond the room it has, as a factor of the control's width
// (1 when the text fits). Labels and buttons (push buttons, check boxes) have fixed texts;
// other controls always give 1.
double TextWidening(const QWidget* control);

// Widens `dialog` and its child controls, which must be placed in DialogUnits::Of(dialog), by
// the largest TextWidening among them: every place is laid out again in the wider unit, which
// DialogUnits::Of(dialog) gives from then on. Returns the factor (1: nothing moved).
double FitFixedTexts(QWidget* dialog);

} // namespace tallyport
