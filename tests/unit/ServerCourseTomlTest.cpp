// Course definitions from TOML: defaults, times, exam files, and the errors staff see.
#include "course/CourseToml.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tallyport::server {
namespace {

TEST(ServerCourseToml, ReadsAFullDefinition) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "files");
    std::ofstream(dir.path() / "files" / "q.pdf", std::ios::binary) << std::string("%PDF\0x", 6);

    std::string error;
    const auto loaded = ParseCourseToml(R"(
number = 3102
name = "Data Structures"
allow = ["10.0.0.0/8"]

[[component]]
name = "Assignment"
elements = 3
sections = 1
types = "Source,src,A,4"
requirement = "M,src"
max_mark = 20
deadline = 2030-05-01T12:00:00+02:00

  [[component.entry]]
  label = "First"
  opens = 1700000000
  size_limited = true
  requirement = "S,main.src"

  [[component.entry]]
  status = "C"
  marks_released = true

[[component]]
name = "Lab"
elements = 1
sections = 2
kind = "D"
selector = 147

  [[component.entry]]
  allow = ["127.0.0.1"]
  exam_files = [
    { name = "lab/q.txt", text = "Question" },
    { name = "q.pdf", path = "files/q.pdf" },
  ]

  [[component.entry]]
  selector = "student"
)",
                                        dir.path(), error);
    ASSERT_TRUE(loaded) << error;
    const CourseDefinition& c = loaded->course;
    EXPECT_EQ(c.number, 3102);
    EXPECT_EQ(c.name, "Data Structures");
    EXPECT_EQ(c.allowList, std::vector<std::string>{"10.0.0.0/8"});
    EXPECT_EQ(c.ComponentSpecification(), "Assignment,3,1/Lab,1,2");
    ASSERT_EQ(c.entries.size(), 5u);

    const auto& first = c.entries[0];
    EXPECT_EQ(first.label, "First");
    EXPECT_EQ(first.kind, 'A');
    EXPECT_EQ(first.opens, 1700000000);
    EXPECT_EQ(first.deadline, 1903860000) << "12:00 at +02:00 is 10:00 UTC";
    EXPECT_TRUE(first.sizeLimited);
    EXPECT_EQ(first.requirement, "S,main.src");
    EXPECT_EQ(first.typeTable, "Source,src,A,4");
    EXPECT_EQ(first.maxMark, 20);

    EXPECT_EQ(c.entries[1].statusOverride, 'C');
    EXPECT_TRUE(c.entries[1].marksReleased);
    EXPECT_EQ(c.entries[1].requirement, "M,src") << "the component's default";
    EXPECT_EQ(c.entries[2].label, "Assignment 3") << "entries not listed take the defaults";
    EXPECT_FALSE(c.entries[2].sizeLimited);

    EXPECT_EQ(c.entries[3].label, "Section 1");
    EXPECT_EQ(c.entries[3].kind, 'D');
    EXPECT_EQ(c.entries[3].examSelector, 147);
    EXPECT_EQ(c.entries[3].allowList, std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(c.entries[4].label, "Section 2");
    EXPECT_FALSE(c.entries[4].examSelector) << "\"student\": chosen by the student number";

    ASSERT_EQ(loaded->examFiles.size(), 1u);
    EXPECT_EQ(loaded->examFiles[0].first, 3);
    const auto& files = loaded->examFiles[0].second;
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "lab/q.txt");
    EXPECT_EQ(files[0].bytes, "Question");
    EXPECT_EQ(files[1].bytes, std::string("%PDF\0x", 6));
}

TEST(ServerCourseToml, LocalTimesAreTheServersZone) {
    std::string error;
    const auto loaded = ParseCourseToml("number = 1\nname = \"x\"\n[[component]]\nname = \"A\"\n"
                                        "elements = 1\nsections = 1\n"
                                        "deadline = 2030-01-02T03:04:05\n",
                                        ".", error);
    ASSERT_TRUE(loaded) << error;
    std::tm parts{};
    parts.tm_year = 130;
    parts.tm_mon = 0;
    parts.tm_mday = 2;
    parts.tm_hour = 3;
    parts.tm_min = 4;
    parts.tm_sec = 5;
    parts.tm_isdst = -1;
    EXPECT_EQ(loaded->course.entries[0].deadline, int64_t(std::mktime(&parts)));
}

TEST(ServerCourseToml, ErrorsNameWhatIsWrong) {
    const std::string head = "number = 1\nname = \"x\"\n";
    const std::string component = "[[component]]\nname = \"A\"\nelements = 2\nsections = 1\n";
    const struct {
        std::string toml;
        std::string mentions;
    } cases[] = {
        {"name = \"x\"\n", "number"},
        {head + "colour = 1\n", "colour"},
        {head + component + "[[component.entry]]\ndedline = 2030-01-01T00:00:00Z\n", "dedline"},
        {head + component + "[[component.entry]]\n[[component.entry]]\n[[component.entry]]\n",
         "more entries"},
        {head + component + component + component + component, "at most three"},
        {head + component + "status = \"X\"\n", "O, C, M, U"},
        {head + component + "kind = \"AB\"\n", "one letter"},
        {head + component + "deadline = \"tomorrow\"\n", "date"},
        {head + component + "allow = [\"300.1.1.1\"]\n", "300.1.1.1"},
        {head + "[[component]]\nname = \"A/B\"\nelements = 1\nsections = 1\n", "'/'"},
        {head + "[[component]]\nname = \"A\"\nelements = -1\nsections = 1\n", "elements"},
        {head + "[[component]]\nname = \"A\"\nelements = 1000\nsections = 1000\n", "too many"},
        {head + component + "exam_files = [{ name = \"../x\", text = \"\" }]\n", "relative"},
        {head + component + "exam_files = [{ name = \"/etc/x\", text = \"\" }]\n", "relative"},
        {head + component + "exam_files = [{ name = \"x\", text = \"\", path = \"y\" }]\n",
         "either"},
        {head + component + "exam_files = [{ name = \"x\", path = \"missing.pdf\" }]\n",
         "cannot read"},
        {head + "number = 2\n", "line 3"},
        {"number = \"3101\"\nname = \"x\"\n", "integer"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseCourseToml(c.toml, ".", error)) << c.toml;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    }
}

} // namespace
} // namespace tallyport::server
