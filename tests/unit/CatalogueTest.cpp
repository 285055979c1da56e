// The course catalogue: component descriptions, entry positions, the element status fold,
// entries outside the arrays, and reading (or refusing) a Course List reply.
#include "command/CourseCatalogue.h"

#include "protocol/Transaction.h"
#include "support/ScriptedPeer.h"
#include "support/ScriptedTransactionUi.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace tallyport;

namespace {

struct Slot {
    std::string name;
    int32_t elements;
    int32_t sections;
    bool operator==(const Slot&) const = default;
};

std::vector<Slot> Slots(const Course& course) {
    std::vector<Slot> slots;
    for (const auto& c : course.components)
        slots.push_back({c.name, c.elementCount, c.sectionCount});
    return slots;
}

// A course with the given components and one entry per letter of `statuses`; kinds are
// 'A' except where `kinds` says otherwise, labels "L<position>".
Course MakeCourse(std::string_view components, std::string_view statuses,
                  std::string_view kinds = {}) {
    Course course;
    course.number = 3101;
    ParseComponentSpecification(components, course);
    course.entryCount = int32_t(statuses.size());
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        course.status.push_back(statuses[i]);
        course.kind.push_back(i < kinds.size() ? kinds[i] : 'A');
        course.label.push_back("L" + std::to_string(i));
    }
    return course;
}

void AppendCourse(NetMessage& m, int32_t number, std::string_view name, std::string_view components,
                  std::string_view statuses, std::string_view kinds) {
    m.AppendInt(number);
    m.AppendString(name);
    m.AppendString(components);
    m.AppendInt(int32_t(statuses.size()));
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        m.AppendInt(statuses[i]);
        m.AppendInt(kinds[i]);
        m.AppendString("Section " + std::to_string(i + 1));
    }
}

NetMessage AsReply(const NetMessage& built) {
    return NetMessage::fromReply(built.bytes());
}

} // namespace

TEST(Catalogue, ComponentSpecificationSplitting) {
    struct Case {
        std::string_view text;
        int32_t count;
        std::vector<Slot> slots;
    };
    const std::vector<Case> cases = {
        {"Assignment,5,1/Quiz,3,2", 2, {{"Assignment", 5, 1}, {"Quiz", 3, 2}, {"", 0, 0}}},
        {"", 0, {{"", 0, 0}, {"", 0, 0}, {"", 0, 0}}},
        {"A,2,1//B,1,1/", 2, {{"A", 2, 1}, {"B", 1, 1}, {"", 0, 0}}},
        {"A,1,1/B,1,1/C,1,1/D,1,1", 3, {{"A", 1, 1}, {"B", 1, 1}, {"C", 1, 1}}},
        {"Lab", 1, {{"Lab", 0, 0}, {"", 0, 0}, {"", 0, 0}}},
        {",,Quiz,,3,,2,", 1, {{"Quiz", 3, 2}, {"", 0, 0}, {"", 0, 0}}},
        {"Quiz,x,2/Lab,4", 2, {{"Quiz", 0, 2}, {"Lab", 4, 0}, {"", 0, 0}}},
        {"Odd,-3,2", 1, {{"Odd", -3, 2}, {"", 0, 0}, {"", 0, 0}}},
        {"///", 0, {{"", 0, 0}, {"", 0, 0}, {"", 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        Course course;
        course.components[2] = {"stale", 9, 9}; // a new components text replaces every slot
        ParseComponentSpecification(c.text, course);
        EXPECT_EQ(course.componentCount, c.count);
        EXPECT_EQ(Slots(course), c.slots);
    }
}

TEST(Catalogue, EntryIndexIsComponentMajor) {
    const Course course = MakeCourse("Assignment,5,1/Quiz,3,2", "OOOOOCCMMOOU");
    EXPECT_EQ(EntryIndex(course, 0, 0, 0), 0);
    EXPECT_EQ(EntryIndex(course, 0, 4, 0), 4);
    EXPECT_EQ(EntryIndex(course, 1, 0, 0), 5);
    EXPECT_EQ(EntryIndex(course, 1, 2, 1), 10); // 5 + 2 x 2 + 1
    EXPECT_EQ(EntryStatus(course, 1, 2, 1), 'O');
    EXPECT_EQ(EntryLabel(course, 1, 2, 1), "L10");
    EXPECT_EQ(EntryStatus(course, 1, 1, 1), 'M');
    EXPECT_EQ(EntryLabelAt(course, 7), "L7");
}

TEST(Catalogue, ElementStatusFoldsItsSections) {
    struct Case {
        std::string_view sections;
        char expected;
    };
    const std::vector<Case> cases = {
        {"MC", 'C'},  {"OM", 'O'}, {"UM", 'M'},  {"MU", 'M'},  {"UU", 'U'}, {"CO", 'O'},
        {"MO", 'O'},  {"CM", 'C'}, {"MMC", 'C'}, {"UCM", 'C'}, {"XO", 'X'}, // an unlisted first
        {"UXC", 'X'}, {"OX", 'O'}, {"MMM", 'M'},                            // letter stands
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sections));
        // Element 1 of a component with as many sections as letters; element 0 is all 'O'.
        const std::string components = "A,2," + std::to_string(c.sections.size());
        const std::string statuses = std::string(c.sections.size(), 'O') + std::string(c.sections);
        EXPECT_EQ(ElementStatus(MakeCourse(components, statuses), 0, 1), c.expected);
    }
    EXPECT_EQ(ElementStatus(MakeCourse("A,2,0", ""), 0, 1), 'U'); // no sections
}

TEST(Catalogue, EntriesOutsideTheArraysReadAsUnavailable) {
    // Claims 2 x 3 entries but carries 4; a second component slot beyond componentCount.
    const Course course = MakeCourse("A,2,3/Neg,-2,4", "OCMO", "BBBB");
    struct Case {
        const char* what;
        int32_t c, e, s;
    };
    const std::vector<Case> cases = {
        {"past the entry count", 0, 1, 1},
        {"negative section", 0, 0, -1},
        {"negative element", 0, -1, 0},
        {"negative element count before", 1, 0, 0}, // 6 + 0 = 6: past the end
        {"negative component", -1, 0, 0},
        {"component slot 3", 3, 0, 0},
        {"far past the end", 2, INT32_MAX, INT32_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(EntryStatus(course, c.c, c.e, c.s), 'U');
        EXPECT_EQ(EntryKind(course, c.c, c.e, c.s), 'A');
        EXPECT_EQ(EntryLabel(course, c.c, c.e, c.s), "");
    }
    for (int32_t index : {4, 5, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(EntryStatusAt(course, index), 'U');
        EXPECT_EQ(EntryKindAt(course, index), 'A');
        EXPECT_EQ(EntryLabelAt(course, index), "");
    }
    EXPECT_EQ(EntryKind(course, 0, 1, 0), 'B'); // the last real entry is still read
    EXPECT_EQ(EntryIndex(course, 3, 0, 0), -1);
    EXPECT_EQ(EntryIndex(course, -1, 0, 0), -1);
    // Counts whose positions no 32-bit index can name.
    const Course huge = MakeCourse("A,2000000000,2000000000/B,1,1", "O");
    EXPECT_EQ(EntryIndex(huge, 1, 0, 0), -1);
    EXPECT_EQ(EntryStatus(huge, 1, 0, 0), 'U');
    // A huge section count folds only over the entries that exist.
    EXPECT_EQ(ElementStatus(MakeCourse("A,1,2000000000", "CO"), 0, 0), 'O');
    EXPECT_EQ(ElementStatus(huge, 0, 1), 'U');
    // Element -1 of the second slot: positions 6 - 4 + s = 2..5, that is M, O, then past the end.
    EXPECT_EQ(ElementStatus(course, 1, -1), 'O');
    EXPECT_EQ(ElementStatus(course, 5, 0), 'U');
}

TEST(Catalogue, ReadsACourseListReply) {
    NetMessage built;
    built.AppendInt(2);
    AppendCourse(built, 3101, "CS 3101", "Assignment,2,1/Quiz,1,2", "OCMU", "AAEA");
    AppendCourse(built, 2200, "Other", "", "", "");
    NetMessage reply = AsReply(built);
    const auto catalogue = ReadCourseCatalogue(reply);

    ASSERT_TRUE(catalogue.has_value());
    ASSERT_EQ(catalogue->courses.size(), 2u);
    const Course& first = catalogue->courses[0];
    EXPECT_EQ(first.number, 3101);
    EXPECT_EQ(first.name, "CS 3101");
    EXPECT_EQ(first.componentCount, 2);
    EXPECT_EQ(Slots(first), (std::vector<Slot>{{"Assignment", 2, 1}, {"Quiz", 1, 2}, {"", 0, 0}}));
    EXPECT_EQ(first.entryCount, 4);
    EXPECT_EQ(first.status, (std::vector<int32_t>{'O', 'C', 'M', 'U'}));
    EXPECT_EQ(first.kind, (std::vector<int32_t>{'A', 'A', 'E', 'A'}));
    EXPECT_EQ(first.label,
              (std::vector<std::string>{"Section 1", "Section 2", "Section 3", "Section 4"}));
    EXPECT_EQ(EntryKind(first, 1, 0, 0), 'E');
    EXPECT_EQ(catalogue->courses[1].number, 2200);
    EXPECT_EQ(catalogue->courses[1].componentCount, 0);
    EXPECT_EQ(catalogue->courses[1].entryCount, 0);

    NetMessage none;
    none.AppendInt(0);
    NetMessage emptyReply = AsReply(none);
    const auto empty = ReadCourseCatalogue(emptyReply);
    ASSERT_TRUE(empty.has_value()); // empty, not none
    EXPECT_TRUE(empty->courses.empty());
}

TEST(Catalogue, UnreadableRepliesGiveNone) {
    struct Case {
        const char* what;
        std::function<void(NetMessage&)> build;
    };
    const std::vector<Case> cases = {
        {"empty reply", [](NetMessage&) {}},
        {"negative course count", [](NetMessage& m) { m.AppendInt(-1); }},
        {"course count the bytes cannot hold",
         [](NetMessage& m) {
             m.AppendInt(1000);
             AppendCourse(m, 1, "X", "A,1,1", "O", "A");
         }},
        {"huge course count", [](NetMessage& m) { m.AppendInt(INT32_MAX); }},
        {"second course missing",
         [](NetMessage& m) {
             m.AppendInt(2);
             AppendCourse(m, 1, "X", "A,1,1", "O", "A");
         }},
        {"name without its terminator",
         [](NetMessage& m) {
             m.AppendInt(1);
             m.AppendInt(3101);
             m.AppendBytes("CS 31", 5);
         }},
        {"entry count the bytes cannot hold",
         [](NetMessage& m) {
             m.AppendInt(1);
             m.AppendInt(3101);
             m.AppendString("CS");
             m.AppendString("A,2,1");
             m.AppendInt(INT32_MAX);
             for (int i = 0; i < 4; ++i)
                 m.AppendInt('O');
         }},
        {"negative entry count",
         [](NetMessage& m) {
             m.AppendInt(1);
             m.AppendInt(3101);
             m.AppendString("CS");
             m.AppendString("");
             m.AppendInt(-2);
         }},
        {"entry cut short",
         [](NetMessage& m) {
             m.AppendInt(1);
             m.AppendInt(3101);
             m.AppendString("CS");
             m.AppendString("A,2,1");
             m.AppendInt(2);
             m.AppendInt('O');
             m.AppendInt('A');
             m.AppendString("one");
             m.AppendInt('O');
             m.AppendInt('A');
             m.AppendInt(0x41424344); // label with no terminator
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NetMessage built(0);
        c.build(built);
        NetMessage reply = AsReply(built);
        EXPECT_FALSE(ReadCourseCatalogue(reply).has_value());
    }
}

TEST(Catalogue, LoadsThroughOneCourseListTransaction) {
    test::ScriptedPeer peer;
    NetMessage body;
    body.AppendInt(1);
    AppendCourse(body, 3101, "CS 3101", "Lab,1,1", "O", "L");
    peer.Push(test::PeerAction::Reply(status::kSuccess, body.CopyOut()));
    peer.Push(test::PeerAction::Reply(status::kServerError));
    test::ScriptedTransactionUi ui;
    Transactor transactor(peer.endpoint(), ui);

    const auto catalogue = LoadCourseCatalogue(transactor);
    ASSERT_TRUE(catalogue.has_value());
    ASSERT_EQ(catalogue->courses.size(), 1u);
    EXPECT_EQ(catalogue->courses[0].name, "CS 3101");
    EXPECT_EQ(ui.titles, std::vector<std::string>{"Course List"});
    ASSERT_EQ(peer.requests().size(), 1u);
    const std::vector<std::byte> expectedBody(
        {std::byte{0}, std::byte{0}, std::byte{0}, std::byte{1}, std::byte{0}, std::byte{0},
         std::byte{0}, std::byte{0}, std::byte{0}, std::byte{0}, std::byte{0}, std::byte{0}});
    EXPECT_EQ(peer.requests()[0].body, expectedBody);

    // A failed request (reported to the user inside the transaction) loads nothing.
    EXPECT_FALSE(LoadCourseCatalogue(transactor).has_value());
    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kServerError});
}
