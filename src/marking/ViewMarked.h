// The main dialog's View command: the marked submission of the selected assignment in the view
// dialog.
#pragma once

#include "command/CommandContext.h"

class QWidget;

namespace tallyport {

void ViewMarked(CommandContext& context, QWidget* parent);

} // namespace tallyport
