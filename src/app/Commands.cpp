#include "app/Commands.h"

namespace tallyport {

// Each command is wired here as its module lands; an empty hook makes its button run only the
// preamble.
MainDlgCommands MakeCommands() {
    return {};
}

} // namespace tallyport
