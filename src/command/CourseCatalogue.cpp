#include "command/CourseCatalogue.h"

#include "protocol/LeadingDecimal.h"
#include "protocol/Transaction.h"

#include <algorithm>
#include <climits>
#include <optional>

namespace tallyport {
namespace {

// The smallest a course and an entry can be on the wire: number, name "", components "",
// entry count; status, kind, label "". Counts are checked against these before anything is
// reserved, so a count the reply cannot hold costs nothing.
constexpr int32_t kMinCourseBytes = 4 + 1 + 1 + 4;
constexpr int32_t kMinEntryBytes = 4 + 4 + 1;

// Calls `piece` for each non-empty piece of `text` between separators.
template <class Piece> void ForEachPiece(std::string_view text, char separator, Piece piece) {
    while (!text.empty()) {
        const auto end = text.find(separator);
        const auto token = text.substr(0, end);
        if (!token.empty())
            piece(token);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

// The position of (c, e, s) in the entry arrays, in 64 bits; none when c names no component
// slot or the arithmetic leaves 64 bits (counts from a server that is not consistent).
std::optional<int64_t> Position(const Course& course, int32_t c, int32_t e, int32_t s) {
    if (c < 0 || c >= int32_t(course.components.size()))
        return std::nullopt;
    int64_t position = s;
    for (int32_t k = 0; k <= c; ++k) {
        const auto& component = course.components[std::size_t(k)];
        const int64_t elements = k < c ? component.elementCount : e;
        int64_t product = 0;
        if (__builtin_mul_overflow(elements, int64_t(component.sectionCount), &product) ||
            __builtin_add_overflow(position, product, &position))
            return std::nullopt;
    }
    return position;
}

std::optional<std::size_t> ArrayIndex(const Course& course, int64_t position) {
    if (position < 0 || position >= int64_t(course.status.size()) ||
        position >= int64_t(course.kind.size()) || position >= int64_t(course.label.size()))
        return std::nullopt;
    return std::size_t(position);
}

} // namespace

void ParseComponentSpecification(std::string_view text, Course& course) {
    course.componentCount = 0;
    course.components = {};
    ForEachPiece(text, '/', [&](std::string_view description) {
        if (course.componentCount >= int32_t(course.components.size()))
            return; // descriptions after the third are ignored
        CourseComponent& component = course.components[std::size_t(course.componentCount++)];
        int piece = 0;
        ForEachPiece(description, ',', [&](std::string_view value) {
            if (piece == 0)
                component.name = std::string(value);
            else if (piece == 1)
                component.elementCount = LeadingDecimal(value);
            else if (piece == 2)
                component.sectionCount = LeadingDecimal(value);
            ++piece;
        });
    });
}

std::optional<CourseCatalogue> ReadCourseCatalogue(NetMessage& reply) {
    const int32_t courseCount = reply.ReadInt();
    if (reply.malformed() || courseCount < 0 || courseCount > reply.remaining() / kMinCourseBytes)
        return std::nullopt;
    CourseCatalogue catalogue;
    catalogue.courses.reserve(std::size_t(courseCount));
    for (int32_t i = 0; i < courseCount; ++i) {
        Course& course = catalogue.courses.emplace_back();
        course.number = reply.ReadInt();
        course.name = std::string(reply.ReadString());
        ParseComponentSpecification(reply.ReadString(), course);
        course.entryCount = reply.ReadInt();
        if (reply.malformed() || course.entryCount < 0 ||
            course.entryCount > reply.remaining() / kMinEntryBytes)
            return std::nullopt;
        course.status.reserve(std::size_t(course.entryCount));
        course.kind.reserve(std::size_t(course.entryCount));
        course.label.reserve(std::size_t(course.entryCount));
        for (int32_t j = 0; j < course.entryCount; ++j) {
            course.status.push_back(reply.ReadInt());
            course.kind.push_back(reply.ReadInt());
            course.label.emplace_back(reply.ReadString());
        }
        if (reply.malformed())
            return std::nullopt;
    }
    return catalogue;
}

NetMessage BuildCourseListRequest() {
    NetMessage request(NetMessage::kRequestCapacity);
    request.AppendInt(1);
    request.AppendInt(0);
    request.AppendInt(0);
    return request;
}

std::optional<CourseCatalogue> LoadCourseCatalogue(Transactor& transactor, StatusCode* status) {
    StatusCode final = status::kSuccess;
    auto reply = transactor.Transact(BuildCourseListRequest(), final, "Course List");
    if (status)
        *status = final;
    if (!reply)
        return std::nullopt;
    return ReadCourseCatalogue(*reply);
}

int32_t EntryIndex(const Course& course, int32_t c, int32_t e, int32_t s) {
    const auto position = Position(course, c, e, s);
    // A position no 32-bit index can name is outside every entry array: -1 says so.
    if (!position || *position < INT32_MIN || *position > INT32_MAX)
        return -1;
    return int32_t(*position);
}

char EntryStatusAt(const Course& course, int32_t index) {
    const auto at = ArrayIndex(course, index);
    return at ? char(course.status[*at]) : 'U';
}

char EntryKindAt(const Course& course, int32_t index) {
    const auto at = ArrayIndex(course, index);
    return at ? char(course.kind[*at]) : 'A';
}

std::string_view EntryLabelAt(const Course& course, int32_t index) {
    const auto at = ArrayIndex(course, index);
    return at ? std::string_view(course.label[*at]) : std::string_view();
}

char EntryStatus(const Course& course, int32_t c, int32_t e, int32_t s) {
    const auto position = Position(course, c, e, s);
    const auto at = position ? ArrayIndex(course, *position) : std::nullopt;
    return at ? char(course.status[*at]) : 'U';
}

char EntryKind(const Course& course, int32_t c, int32_t e, int32_t s) {
    const auto position = Position(course, c, e, s);
    const auto at = position ? ArrayIndex(course, *position) : std::nullopt;
    return at ? char(course.kind[*at]) : 'A';
}

std::string_view EntryLabel(const Course& course, int32_t c, int32_t e, int32_t s) {
    const auto position = Position(course, c, e, s);
    const auto at = position ? ArrayIndex(course, *position) : std::nullopt;
    return at ? std::string_view(course.label[*at]) : std::string_view();
}

char ElementStatus(const Course& course, int32_t c, int32_t e) {
    if (c < 0 || c >= int32_t(course.components.size()))
        return 'U';
    const int32_t sections = course.components[std::size_t(c)].sectionCount;
    const auto first = Position(course, c, e, 0);
    if (!first)
        return 'U';
    // Sections outside the entry arrays read as 'U', which never changes the fold; so only the
    // sections inside them are visited, however large the counts.
    const int64_t entries = int64_t(course.status.size());
    const int64_t from = std::max<int64_t>(0, -*first);
    const int64_t to = std::min<int64_t>(sections, entries - *first);
    char result = 'U';
    for (int64_t s = from; s < to; ++s) {
        const char v = EntryStatusAt(course, int32_t(*first + s));
        if (result == 'U')
            result = v;
        if (v == 'O' && (result == 'C' || result == 'M'))
            result = 'O';
        else if (v == 'C' && result == 'M')
            result = 'C';
    }
    return result;
}

} // namespace tallyport
