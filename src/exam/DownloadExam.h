// The handler of the main dialog's Exam button: one "Exam Question" request for the selected
// entry, then the student's share of the files written into the exam folder.
#pragma once

#include "command/CommandContext.h"

class QWidget;

namespace tallyport {

void DownloadExam(CommandContext& context, QWidget* parent);

} // namespace tallyport
