// The real commands behind the main dialog's five buttons.
#pragma once

#include "app/MainDlgCommands.h"

namespace tallyport {

MainDlgCommands MakeCommands();

} // namespace tallyport
