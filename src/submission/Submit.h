// The main dialog's Submit command: the submit flow with the real submit dialog.
#pragma once

#include "command/CommandContext.h"

class QWidget;

namespace tallyport {

void Submit(CommandContext& context, QWidget* parent);

} // namespace tallyport
