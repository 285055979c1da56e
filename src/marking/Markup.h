// The one-line markup of annotations: "C,x,y,w,h,text", and "L,x,y,w,h" followed by
// "P,dx,dy" lines and "EOL". Reading turns a line (and, for a stroke, the lines after it) into
// an annotation; writing is ObjectNode::Write.
#pragma once

#include "marking/ObjectNode.h"

#include <memory>
#include <string>
#include <string_view>

namespace tallyport {

// Supplies the lines that follow, without their line ends.
class LineSource {
public:
    virtual ~LineSource() = default;
    // False at the end of the input.
    virtual bool ReadLine(std::string& line) = 0;
};

// A comment or a stroke from `line`, or nothing for a line that does not scan. `reader` is used
// only for strokes: their point lines up to and including the next line starting with 'E'.
std::unique_ptr<ObjectNode> ReadAnnotation(std::string_view line, LineSource& reader);

// Scans `line` like sscanf with the pattern "<tag>,%d,%d,..." and returns how many of `count`
// values were taken (sscanf's rules: %d skips white space, takes a sign and digits; a value out
// of range is clamped to 32 bits).
int ScanTagged(std::string_view line, char tag, int32_t* values, int count);

} // namespace tallyport
