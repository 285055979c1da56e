// What every command of the main dialog receives: the connection, the prompt seam, the main
// dialog's validated selection and the few things a command may do to the main dialog.
#pragma once

#include "command/CourseCatalogue.h"
#include "protocol/Transaction.h"
#include "ui/Prompts.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tallyport {

// The main dialog's state after the command preamble has run.
struct MainSelection {
    int32_t studentNumber = 0; // normalised: below 1000000 gets 100000000 added
    int32_t entryIndex = 0;
    int32_t componentIndex = -1;
    int32_t elementIndex = -1;
    int32_t sectionIndex = -1;
    std::string password; // plain, as typed; hashed only when sent
};

// The main dialog's fields that commands touch after a refusal or a success.
class MainDialogFields {
public:
    virtual ~MainDialogFields() = default;
    virtual void FocusStudentNumber() = 0; // focus with the whole text selected
    virtual void FocusPassword() = 0;
    virtual void SetPasswordText(std::string_view password) = 0;
};

struct CommandContext {
    Transactor& transactor;
    Prompts& prompts;
    MainDialogFields& fields;
    const Course* course = nullptr; // the current course (non-owning), none before a choice
    MainSelection selection;
    std::filesystem::path tempFolder;      // private temporary folder
    std::filesystem::path examFolder = {}; // where exam questions are kept for the student
};

} // namespace tallyport
