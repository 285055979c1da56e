#include "marking/Markup.h"

#include "marking/PageScale.h"

#include <algorithm>

namespace tallyport {
namespace {

bool IsScanSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// One %d at `at`: white space, an optional sign, at least one digit.
bool ScanInt(std::string_view line, std::size_t& at, int32_t& value) {
    while (at < line.size() && IsScanSpace(line[at]))
        ++at;
    bool negative = false;
    if (at < line.size() && (line[at] == '+' || line[at] == '-'))
        negative = line[at++] == '-';
    if (at >= line.size() || line[at] < '0' || line[at] > '9')
        return false;
    int64_t magnitude = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at)
        magnitude = std::min<int64_t>(magnitude * 10 + (line[at] - '0'), int64_t(1) << 32);
    value = ClampToInt32(negative ? -magnitude : magnitude);
    return true;
}

// Everything after the fifth comma; a comment line without one has an empty text.
std::string_view CommentText(std::string_view line) {
    std::size_t at = 0;
    for (int commas = 0; commas < 5; ++commas) {
        at = line.find(',', at);
        if (at == std::string_view::npos)
            return {};
        ++at;
    }
    return line.substr(at);
}

std::unique_ptr<ObjectNode> ReadComment(std::string_view line) {
    int32_t v[4];
    if (ScanTagged(line, 'C', v, 4) < 4)
        return nullptr;
    return std::make_unique<CommentNode>(v[0], v[1], v[2], v[3], CommentText(line));
}

std::unique_ptr<ObjectNode> ReadStroke(std::string_view line, LineSource& reader) {
    int32_t v[4];
    if (ScanTagged(line, 'L', v, 4) < 4)
        return nullptr;
    std::unique_ptr<PointNode> points; // each point goes to the head: the chain is reversed
    std::string next;
    while (reader.ReadLine(next) && !(next.size() > 0 && next[0] == 'E')) {
        int32_t p[2];
        if (ScanTagged(next, 'P', p, 2) == 2)
            points = std::make_unique<PointNode>(p[0], p[1], std::move(points));
    }
    return std::make_unique<LineNode>(v[0], v[1], v[2], v[3], std::move(points));
}

} // namespace

int ScanTagged(std::string_view line, char tag, int32_t* values, int count) {
    if (line.empty() || line[0] != tag)
        return 0;
    std::size_t at = 1;
    for (int taken = 0; taken < count; ++taken) {
        if (at >= line.size() || line[at] != ',')
            return taken;
        ++at;
        if (!ScanInt(line, at, values[taken]))
            return taken;
    }
    return count;
}

std::unique_ptr<ObjectNode> ReadAnnotation(std::string_view line, LineSource& reader) {
    if (line.empty())
        return nullptr;
    switch (line[0]) {
    case 'C':
        return ReadComment(line);
    case 'L':
        return ReadStroke(line, reader);
    default:
        return nullptr;
    }
}

} // namespace tallyport
