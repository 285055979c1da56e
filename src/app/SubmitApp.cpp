#include "app/SubmitApp.h"

#include "app/MainDlg.h"
#include "app/StartNetworking.h"
#include "protocol/Transaction.h"
#include "ui/QtTransactionUi.h"
#include "ui/ReportStatus.h"

namespace tallyport {

SubmitApp::SubmitApp(SubmitAppSetup setup, Prompts& prompts)
    : setup_(std::move(setup)), prompts_(prompts) {
    if (!setup_.startNetworking)
        setup_.startNetworking = StartNetworking;
}

int SubmitApp::Run() {
    if (!setup_.startNetworking()) {
        prompts_.Message("Windows sockets initialization failed.", Buttons::Ok, Icon::None);
        return 1;
    }

    QtTransactionUi ui(prompts_);
    Transactor transactor(setup_.endpoint, ui);
    StatusCode status = status::kSuccess;
    catalogue_ = LoadCourseCatalogue(transactor, &status);
    if (!catalogue_) {
        // A failed transaction has told the student why; a reply cut short or unreadable has not,
        // and the program must not just vanish.
        if (status == status::kSuccess)
            ReportUnusableReply(prompts_);
        return 1;
    }

    {
        MainDlg dialog({*catalogue_, ConfiguredCourseNumber(setup_.applicationName), transactor,
                        prompts_, setup_.commands, setup_.tempFolder, setup_.labMode,
                        setup_.examFolder});
        ui.SetOwner(&dialog);
        dialog.exec();
        ui.SetOwner(nullptr);
    }
    catalogue_.reset();
    return 0;
}

} // namespace tallyport
