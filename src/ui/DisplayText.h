// Text that may mix names from the student's disk (which this platform spells in UTF-8) with
// 8-bit text from the server, turned into what a message box or list shows.
#pragma once

#include <QString>

#include <string_view>

namespace tallyport {

// Every well-formed UTF-8 sequence becomes its character; every other byte is taken alone as
// its Windows-1252 character (the five bytes that stand for none show the replacement
// character), so no byte is lost and a name is shown as the file system spells it.
QString DisplayText(std::string_view bytes);

} // namespace tallyport
