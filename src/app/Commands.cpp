#include "app/Commands.h"

#include "accounts/RegisterAccount.h"
#include "accounts/UpdateAccount.h"
#include "exam/DownloadExam.h"
#include "marking/ViewMarked.h"
#include "submission/Submit.h"

#include <memory>

namespace tallyport {

MainDlgCommands MakeCommands() {
    // Update Info keeps one dialog for the whole run of the program.
    auto update = std::make_shared<UpdateCommand>();
    return {
        .registerAccount = RegisterAccount,
        .updateAccount = [update](CommandContext& context,
                                  QWidget* parent) { (*update)(context, parent); },
        .submit = Submit,
        .viewMarked = ViewMarked,
        .downloadExam = DownloadExam,
    };
}

} // namespace tallyport
