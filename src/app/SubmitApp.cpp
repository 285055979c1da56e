#include "app/SubmitApp.h"

#include "app/MainDlg.h"
#include "app/StartNetworking.h"
#include "protocol/Transaction.h"
#include "ui/QtTransactionUi.h"

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
    catalogue_ = LoadCourseCatalogue(transactor);
    if (!catalogue_)
        return 1; // the transaction has told the user why

    {
        MainDlg dialog({*catalogue_, ConfiguredCourseNumber(setup_.applicationName), transactor,
                        prompts_, setup_.commands, setup_.tempFolder, setup_.labMode});
        ui.SetOwner(&dialog);
        dialog.exec();
        ui.SetOwner(nullptr);
    }
    catalogue_.reset();
    return 0;
}

} // namespace tallyport
