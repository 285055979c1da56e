// The name of the one document that holds a whole marked submission, beside its files in the
// save folder. The files' names come from the student and the server, so any fixed name could
// be one of them: the first of "marked.pdf", "marked-2.pdf", ... that no file, picture or folder
// the save writes can be is taken. Names are compared as the save would resolve them ('\\' as
// '/', "." and empty segments dropped) and without regard to ASCII case, for file systems that
// ignore it.
#pragma once

#include "marking/MarkedSubmission.h"

#include <string>

namespace tallyport {

std::string MarkedDocumentName(const MarkedSubmission& submission);

} // namespace tallyport
