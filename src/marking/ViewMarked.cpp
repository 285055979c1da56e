#include "marking/ViewMarked.h"

#include "marking/MarkedDownload.h"
#include "marking/ViewDlg.h"

namespace tallyport {

void ViewMarked(CommandContext& context, QWidget* parent) {
    std::optional<MarkedDownload> download = DownloadMarkedSubmission(context);
    if (!download)
        return;
    ViewDlg dialog(parent, context, std::move(download->submission), context.selection.entryIndex,
                   download->maxMark);
    download.reset();
    dialog.exec();
}

} // namespace tallyport
