// The Register command: a verification asks whether this student number may register, the
// registration dialog collects the account's details, and a registration request sends them.
#pragma once

#include "command/CommandContext.h"

class QWidget;

namespace tallyport {

// The handler of the main dialog's Register button (1000).
void RegisterAccount(CommandContext& context, QWidget* parent);

} // namespace tallyport
