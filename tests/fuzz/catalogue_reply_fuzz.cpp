// Course List replies from the server: the reader must refuse what the bytes cannot hold without
// reading outside the reply or reserving by a count, and every entry accessor must stay inside
// the arrays whatever the component counts say.
#include "command/CourseCatalogue.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <span>

using namespace tallyport;

namespace {

// v + d without overflowing: counts come from the reply and may sit at the 32-bit limits.
int32_t Near(int32_t v, int d) {
    return int32_t(std::clamp<int64_t>(int64_t(v) + d, INT32_MIN, INT32_MAX));
}

bool KnownOrRead(char letter, const Course& course, bool status) {
    for (std::size_t i = 0; i < course.status.size(); ++i)
        if (char(status ? course.status[i] : course.kind[i]) == letter)
            return true;
    return false;
}

void CheckCourse(const Course& course) {
    if (course.status.size() != std::size_t(course.entryCount) ||
        course.kind.size() != course.status.size() || course.label.size() != course.status.size())
        std::abort();
    if (course.componentCount < 0 || course.componentCount > 3)
        std::abort();
    for (int32_t c = -1; c <= 3; ++c) {
        const int32_t elements =
            c >= 0 && c < 3 ? course.components[std::size_t(c)].elementCount : 1;
        const int32_t sections =
            c >= 0 && c < 3 ? course.components[std::size_t(c)].sectionCount : 1;
        // A few elements and sections at each end of the claimed ranges, and past them.
        for (int32_t e : {-1, 0, 1, Near(elements, -1), elements, Near(elements, 1)}) {
            const char element = ElementStatus(course, c, e);
            if (element != 'U' && !KnownOrRead(element, course, true))
                std::abort();
            for (int32_t s : {-1, 0, Near(sections, -1), sections}) {
                const int32_t index = EntryIndex(course, c, e, s);
                const char status = EntryStatus(course, c, e, s);
                const char kind = EntryKind(course, c, e, s);
                const std::string_view label = EntryLabel(course, c, e, s);
                if (index < 0 || index >= course.entryCount) {
                    if (status != 'U' || kind != 'A' || !label.empty())
                        std::abort();
                } else if (status != EntryStatusAt(course, index) ||
                           kind != EntryKindAt(course, index) ||
                           label != EntryLabelAt(course, index)) {
                    std::abort();
                }
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NetMessage reply =
        NetMessage::fromReply(std::span(reinterpret_cast<const std::byte*>(data), size));
    const auto catalogue = ReadCourseCatalogue(reply);
    if (!catalogue)
        return 0;
    if (reply.malformed())
        std::abort(); // a reply read past its end must not be accepted
    for (const Course& course : catalogue->courses)
        CheckCourse(course);
    return 0;
}
