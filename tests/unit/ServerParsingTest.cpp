// The server's parsers of untrusted text: uploaded packages, staff markup, record fields, status
// letters and allow-lists.
#include "course/CourseDefinition.h"
#include "student/MarkedPackage.h"
#include "student/PackageParser.h"

#include <gtest/gtest.h>

namespace tallyport::server {
namespace {

const std::string kDashes(80, '-');

// The two-file example package: a three-line text of 17 bytes and two bytes of data.
const std::string kExample = "Number of Files: 2\r\n" + kDashes +
                             "\r\n"
                             "File #1: main.src,F,4,17\r\n"
                             "one\r\ntwo\r\nthree\r\n"
                             "EOF\r\n" +
                             kDashes +
                             "\r\n"
                             "File #2: data.bin,B,8,2\r\n"
                             "\x01\x02"
                             "EOF\r\n";

TEST(ServerPackageParser, ReadsTheExamplePackage) {
    const auto parsed = ParsePackage(kExample);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->files.size(), 2u);
    const auto& main = parsed->files[0];
    EXPECT_EQ(main.name, "main.src");
    EXPECT_EQ(main.kind, 'F');
    EXPECT_EQ(main.tabWidth, 4);
    EXPECT_EQ(main.length, 17);
    EXPECT_EQ(kExample.substr(std::size_t(main.offset), 17), "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(parsed->files[1].name, "data.bin");
    EXPECT_EQ(kExample.substr(std::size_t(parsed->files[1].offset), 2), "\x01\x02");
}

std::string OneFile(std::string_view head, std::string_view content,
                    std::string_view end = "EOF\r\n") {
    return "Number of Files: 1\r\n" + kDashes + "\r\n" + std::string(head) + "\r\n" +
           std::string(content) + std::string(end);
}

TEST(ServerPackageParser, AcceptsWhatTheFormatAllows) {
    const std::string accepted[] = {
        "Number of Files: 0\r\n",
        OneFile("File #1: empty.txt,A,8,0", ""),
        OneFile("File #1: eof.txt,A,8,10", "EOF\r\nEOF\r\n"), // the text may hold EOF lines
        OneFile("File #1: no line end.txt,A,8,3", "abc"),     // EOF right after the text
        OneFile("File #1: lib/list.src,F,2,1", "x"),
        OneFile("File #1: t.txt,A,-1,1", "x"),
    };
    for (const auto& bytes : accepted)
        EXPECT_TRUE(ParsePackage(bytes)) << bytes;

    std::string ten = "Number of Files: 10\r\n";
    for (int i = 1; i <= 10; ++i)
        ten += kDashes + "\r\nFile #" + std::to_string(i) + ": f" + std::to_string(i) +
               ".txt,A,8,1\r\nxEOF\r\n";
    const auto parsed = ParsePackage(ten);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->files[9].name, "f10.txt");
}

TEST(ServerPackageParser, RefusesAnythingElse) {
    std::string cut = kExample;
    cut.pop_back();
    const std::string refused[] = {
        "",
        "Number of Files: 1", // no line end, no file
        "Number of Files: -1\r\n",
        "Number of Files: 01\r\n",
        "Number of files: 0\r\n",
        "Number of Files: 2147483647\r\n", // more files than bytes
        "Number of Files: 1\r\n",          // announced, missing
        cut,                               // last EOF line cut short
        kExample + "x",                    // bytes after the last file
        "Number of Files: 1\r\n" + std::string(79, '-') + "\r\nFile #1: a,A,8,0\r\nEOF\r\n",
        OneFile("File #2: a.txt,A,8,1", "x"), // wrong number
        OneFile("File #1:a.txt,A,8,1", "x"),
        OneFile("File #1: ,A,8,1", "x"),         // empty name
        OneFile("File #1: a,b.txt,A,8,1", "x"),  // comma in the name
        OneFile("File #1: a\tb.txt,A,8,1", "x"), // control character in the name
        OneFile("File #1: a.txt,X,8,1", "x"),
        OneFile("File #1: a.txt,AB,8,1", "x"),
        OneFile("File #1: a.txt,A,,1", "x"),
        OneFile("File #1: a.txt,A,8,-1", "x"),
        OneFile("File #1: a.txt,A,8,+1", "x"),
        OneFile("File #1: a.txt,A,8,2", "x"), // length past the end of the text
        OneFile("File #1: a.txt,A,8,99999999999", "x"),
        OneFile("File #1: a.txt,A,8", "x"),
        OneFile("File #1: a.txt,A,8,1", "x", "EOF\n"),
        "Number of Files: 1\n" + kDashes + "\nFile #1: a.txt,A,8,1\nxEOF\n", // LF line ends
    };
    for (const auto& bytes : refused) {
        std::string why;
        EXPECT_FALSE(ParsePackage(bytes, &why)) << bytes;
        EXPECT_FALSE(why.empty());
    }
}

TEST(ServerMarkup, NormalisesWhatReadsBack) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"C,10,20,70,20,fix this, please\n", "C,10,20,70,20,fix this, please\r\n"},
        {"C,0,0,80,20,line one\r\atwo\r\n", "C,0,0,80,20,line one\r\atwo\r\n"},
        {"C,0,0,80,20,line one\atwo", "C,0,0,80,20,line one\r\atwo\r\n"},
        {"C,-5,0,0,0,\n", "C,-5,0,0,0,\r\n"},
        {"\r\n\nL,0,0,5,5\nP,1,1\nP,2,2\nEOL\n\n", "L,0,0,5,5\r\nP,1,1\r\nP,2,2\r\nEOL\r\n"},
        {"L,0,0,5,5\r\nEOL\r\nC,1,1,1,1,x\r\n", "L,0,0,5,5\r\nEOL\r\nC,1,1,1,1,x\r\n"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const auto out = NormaliseMarkup(c.in);
        ASSERT_TRUE(out) << c.in;
        EXPECT_EQ(*out, c.out);
    }
}

TEST(ServerMarkup, RefusesLinesThatWouldNotReadBack) {
    const std::string refused[] = {
        "EOF\n", // would end the file early
        "E\n",
        "P,1,1\n",            // a point outside a stroke
        "L,0,0,5,5\nP,1,1\n", // no EOL: the reader would take the file's EOF line
        "L,0,0,5,5\nC,1,1,1,1,x\nEOL\n",
        "L,0,0,5\nEOL\n",
        "L,0,0,5,5,6\nEOL\n",
        "L,0,0,5,5\nP,1\nEOL\n",
        "C,1,2,3\n", // no text field
        "C,1,2,3,4\n",
        "C,a,2,3,4,x\n",
        "C, 1,2,3,4,x\n",
        "C,1,2,3,4,bad\rline\n", // a CR that is not a line break of the comment
        std::string("C,1,2,3,4,nul\0here\n", 20),
        "comment without a letter\n",
    };
    for (const auto& text : refused) {
        std::string why;
        EXPECT_FALSE(NormaliseMarkup(text, &why)) << text;
        EXPECT_TRUE(why.starts_with("line ")) << why;
    }
}

TEST(ServerMarkedPackage, RecordFieldsStayOneField) {
    EXPECT_EQ(RecordField("Smith, Jane"), "Smith; Jane");
    EXPECT_EQ(RecordField(""), "-");
    EXPECT_EQ(RecordField("two\r\nlines"), "two  lines");
    EXPECT_EQ(RecordField("plain"), "plain");
}

TEST(ServerMarkedPackage, DamagedOffsetsNeverReadOutsideThePackage) {
    LatestSubmission latest;
    latest.info.serial = 5;
    latest.package = "short";
    latest.files = {{"a.txt", 'A', 8, 1000, 3}, {"b.txt", 'A', 8, 2, 100}};
    latest.markup = {"", ""};
    const std::string out = BuildMarkedPackage(latest, "");
    EXPECT_NE(out.find("File #1: a.txt,A,8,3\r\nEOF\r\n"), std::string::npos);
    EXPECT_NE(out.find("File #2: b.txt,A,8,100\r\nortEOF\r\n"), std::string::npos);
}

TEST(ServerCourseDefinition, StatusLetters) {
    const int64_t now = 1'000'000;
    const struct {
        std::optional<int64_t> opens, deadline;
        bool released;
        std::optional<char> override;
        char expected;
    } cases[] = {
        {{}, {}, false, {}, 'O'},       {now + 1, {}, false, {}, 'U'},
        {now, now, false, {}, 'O'}, // open from its first second to its last
        {{}, now - 1, false, {}, 'C'},  {{}, now - 1, true, {}, 'M'},
        {{}, now + 100, true, {}, 'M'}, // released marks close the entry
        {now + 1, {}, true, {}, 'U'},   {{}, now - 1, false, 'O', 'O'},
        {{}, {}, false, 'U', 'U'},
    };
    for (const auto& c : cases) {
        EntryDefinition entry;
        entry.opens = c.opens;
        entry.deadline = c.deadline;
        entry.marksReleased = c.released;
        entry.statusOverride = c.override;
        EXPECT_EQ(EntryStatus(entry, now), c.expected);
    }
}

TEST(ServerCourseDefinition, AllowLists) {
    const std::vector<std::string> list = {"10.1.0.0/16", "192.168.1.7", "172.16.0.0/12"};
    EXPECT_TRUE(AddressAllowed({}, "8.8.8.8"));
    EXPECT_TRUE(AddressAllowed(list, "10.1.255.3"));
    EXPECT_FALSE(AddressAllowed(list, "10.2.0.1"));
    EXPECT_TRUE(AddressAllowed(list, "192.168.1.7"));
    EXPECT_FALSE(AddressAllowed(list, "192.168.1.70"));
    EXPECT_TRUE(AddressAllowed(list, "172.31.0.1"));
    EXPECT_FALSE(AddressAllowed(list, "172.32.0.1"));
    EXPECT_FALSE(AddressAllowed(list, "not an address"));
    EXPECT_FALSE(AddressAllowed(list, "10.1.0.1.5"));
    EXPECT_TRUE(AddressAllowed({"0.0.0.0/0"}, "1.2.3.4"));

    for (const char* good : {"1.2.3.4", "10.0.0.0/8", "0.0.0.0/0", "255.255.255.255/32"})
        EXPECT_TRUE(IsValidAllowPattern(good)) << good;
    for (const char* bad : {"", "1.2.3", "1.2.3.256", "10.0.0.0/33", "10.0.0.0/", "a.b.c.d",
                            "1.2.3.4/8x", "01234.1.1.1"})
        EXPECT_FALSE(IsValidAllowPattern(bad)) << bad;
}

TEST(ServerCourseDefinition, ComponentSpecification) {
    CourseDefinition course;
    EXPECT_EQ(course.ComponentSpecification(), "");
    course.components = {{"Assignment", 5, 1}, {"Quiz", 3, 2}};
    EXPECT_EQ(course.ComponentSpecification(), "Assignment,5,1/Quiz,3,2");
    EXPECT_EQ(course.ExpectedEntryCount(), 11);
}

} // namespace
} // namespace tallyport::server
