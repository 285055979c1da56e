// The marked package sent for a View request: a header record line, a marking record line, then
// the latest submission's files in the package layout with the marker's markup lines between
// each file's text and its "EOF" line. Also the checks that make staff markup safe to put there.
#pragma once

#include "store/Store.h"

#include <optional>
#include <string>
#include <string_view>

namespace tallyport::server {

// The mark written while a submission is not marked.
inline constexpr int32_t kNotMarked = -2;

// Builds the package. The record lines read back with comma-separated fields: the header as
// serial, student, entry, submission time (UTC text), student name; the marking line as mark,
// marker id, detail. Texts are made safe for those fields (see RecordField).
std::string BuildMarkedPackage(const LatestSubmission& submission, std::string_view studentName);

// A text as one comma-separated field of a record line: commas become ';', line breaks and
// other control characters become blanks, and an empty text becomes "-" (the reader requires
// the field).
std::string RecordField(std::string_view text);

// Checks and normalises a file of markup lines from staff: every line is a comment
// "C,x,y,w,h,text", or a stroke "L,x,y,w,h" followed by "P,dx,dy" lines and "EOL"; blank lines
// are dropped. Line ends become CR LF. Inside a comment a line break is CR BEL; a lone BEL is
// taken as one. None (with the reason, naming the line) when a line would not read back.
std::optional<std::string> NormaliseMarkup(std::string_view text, std::string* why = nullptr);

} // namespace tallyport::server
