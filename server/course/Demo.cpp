#include "course/Demo.h"

#include "course/CourseToml.h"
#include "student/MarkedPackage.h"
#include "student/PackageParser.h"
#include "store/Store.h"
#include "web/MarkerPassword.h"

#include <ctime>

namespace tallyport::server {
namespace {

// Components: Assignment (4 x 1), Lab (3 x 2 sections), Quiz (2 x 1): 12 entries, every status
// letter, kinds A, E and D, the four requirement kinds, one size-limited entry.
constexpr std::string_view kDemoToml = R"toml(
number = 3101
name = "Introduction to Programming"

[[component]]
name = "Assignment"
elements = 4
sections = 1
kind = "A"
max_mark = 10
types = "C Source,c,F,4/Header,h,F,4"

  [[component.entry]]   # 0: marked; one C file
  label = "Assignment 1"
  deadline = 2000-01-15T23:59:00Z
  marks_released = true
  requirement = "F,c"

  [[component.entry]]   # 1: deadline passed, not yet marked; three named files
  label = "Assignment 2"
  deadline = 2001-02-15T23:59:00Z
  requirement = "S,main.c,list.c,list.h"

  [[component.entry]]   # 2: open; any files of four types, size-limited
  label = "Assignment 3"
  deadline = 2099-12-31T23:59:00Z
  types = "C Source,c,F,4/Header,h,F,4/Text,txt,A,8/Data,dat,B,8"
  requirement = "M,c,h,txt,dat"
  size_limited = true

  [[component.entry]]   # 3: not yet open; a whole project folder
  label = "Assignment 4"
  opens = 2099-01-01T00:00:00Z
  types = "Java Source,java,T,2/Text,txt,A,8/Image,png,B,8"
  requirement = "D"

[[component]]
name = "Lab"
elements = 3
sections = 2
max_mark = 5
types = "Python,py,F,4/Text,txt,A,8"
requirement = "M,py,txt"
deadline = 2099-12-31T23:59:00Z

  [[component.entry]]   # 4: Lab 1 Monday: exam, every file
  label = "Monday"
  kind = "E"
  exam_files = [
    { name = "lab1/question.txt", text = "Lab 1\r\nWrite a program that prints the sum of the numbers in data.txt.\r\n" },
    { name = "lab1/starter.py", text = "import sys\r\n\r\ndef main():\r\n    pass\r\n" },
    { name = "lab1/data.txt", text = "3\r\n1\r\n4\r\n1\r\n5\r\n" },
  ]

  [[component.entry]]   # 5: Lab 1 Wednesday: exam, closed
  label = "Wednesday"
  kind = "E"
  deadline = 2001-03-01T12:00:00Z

  [[component.entry]]   # 6: Lab 2 Monday: divided exam, one half per student
  label = "Monday"
  kind = "D"
  exam_files = [
    { name = "q1.txt", text = "Question 1: reverse a list in place.\r\n" },
    { name = "q1.py", text = "def reverse(items):\r\n    pass\r\n" },
    { name = "q2.txt", text = "Question 2: count the words of a text.\r\n" },
    { name = "q2.py", text = "def count_words(text):\r\n    pass\r\n" },
  ]

  [[component.entry]]   # 7: Lab 2 Wednesday: not yet open
  label = "Wednesday"
  kind = "D"
  opens = 2099-01-01T00:00:00Z

  [[component.entry]]   # 8: Lab 3 Monday: an ordinary lab submission
  label = "Monday"

  [[component.entry]]   # 9: Lab 3 Wednesday: marked
  label = "Wednesday"
  deadline = 2000-03-01T12:00:00Z
  marks_released = true

[[component]]
name = "Quiz"
elements = 2
sections = 1
max_mark = 4
types = "Text,txt,A,8"
requirement = "F,txt"

  [[component.entry]]   # 10
  label = "Quiz 1"
  deadline = 2099-12-31T23:59:00Z

  [[component.entry]]   # 11
  label = "Quiz 2"
  opens = 2099-06-01T00:00:00Z
)toml";

constexpr std::string_view kQuestionnaireToml = R"toml(
number = 1606
name = "Software Design"

[[component]]
name = "Assignment"
elements = 2
sections = 1
types = "C++ Source,cpp,F,4/Header,h,F,4"
requirement = "M,cpp,h"
deadline = 2099-12-31T23:59:00Z
)toml";

struct DemoFile {
    std::string_view name;
    char kind;
    int tabWidth;
    std::string_view content;
};

// A package as the client writes one: count line; per file dashes, header line, bytes, "EOF".
std::string Package(std::initializer_list<DemoFile> files) {
    std::string out = "Number of Files: " + std::to_string(files.size()) + "\r\n";
    int number = 0;
    for (const auto& file : files) {
        out.append(80, '-');
        out += "\r\nFile #" + std::to_string(++number) + ": " + std::string(file.name) + ',' +
               file.kind + ',' + std::to_string(file.tabWidth) + ',' +
               std::to_string(file.content.size()) + "\r\n";
        out += file.content;
        out += "EOF\r\n";
    }
    return out;
}

constexpr std::string_view kHelloC = "#include <stdio.h>\r\n"
                                     "\r\n"
                                     "int main(void)\r\n"
                                     "{\r\n"
                                     "\tint i;\r\n"
                                     "\tfor (i = 0; i <= 10; i++)\r\n"
                                     "\t\tprintf(\"%d\\n\", i * i);\r\n"
                                     "\treturn 0;\r\n"
                                     "}\r\n";

// Comments hold their line breaks as CR BEL; strokes are a head, point offsets and EOL.
constexpr std::string_view kHelloMarkup = "C,260,20,230,20,Good: the header you need.\r\n"
                                          "C,330,50,300,30,Off by one: the loop runs\r\a"
                                          "eleven times, not ten.\r\n"
                                          "L,150,60,180,10\r\n"
                                          "P,0,5\r\n"
                                          "P,90,5\r\n"
                                          "P,180,5\r\n"
                                          "EOL\r\n"
                                          "C,200,90,340,30,Nice use of a tab width of 4,\r\a"
                                          "but say why you print squares.\r\n"
                                          "L,0,40,150,20\r\n"
                                          "P,0,0\r\n"
                                          "P,150,0\r\n"
                                          "P,150,20\r\n"
                                          "P,0,20\r\n"
                                          "P,0,0\r\n"
                                          "EOL\r\n";

constexpr std::string_view kLab3Py = "def mean(values):\r\n"
                                     "    return sum(values) / len(values)\r\n";

bool Submit(Store& store, int32_t entry, const std::string& package, std::string& error) {
    auto parsed = ParsePackage(package, &error);
    if (!parsed)
        return false;
    NewSubmission submission;
    submission.course = kDemoCourse;
    submission.student = kDemoStudent;
    submission.entry = entry;
    submission.time = int64_t(std::time(nullptr));
    submission.package = package;
    submission.files = std::move(parsed->files);
    submission.peer = "127.0.0.1";
    if (!store.AddSubmission(submission)) {
        error = "cannot store a demo submission";
        return false;
    }
    return true;
}

bool Mark(Store& store, int32_t entry, int32_t mark, std::string_view file, std::string_view markup,
          std::string& error) {
    MarkRequest request;
    request.course = kDemoCourse;
    request.student = kDemoStudent;
    request.entry = entry;
    request.mark = mark;
    request.markerId = std::string(kDemoMarker);
    request.detail = "Marked on screen";
    const auto lines = NormaliseMarkup(markup, &error);
    if (!lines)
        return false;
    request.markup.push_back({std::string(file), *lines});
    if (store.MarkLatest(request) != MarkOutcome::Marked) {
        error = "cannot mark a demo submission";
        return false;
    }
    return true;
}

} // namespace

std::string_view DemoCourseToml() {
    return kDemoToml;
}
std::string_view QuestionnaireCourseToml() {
    return kQuestionnaireToml;
}

bool LoadDemo(Store& store, std::string& error) {
    for (const auto toml : {kDemoToml, kQuestionnaireToml}) {
        auto loaded = ParseCourseToml(toml, ".", error);
        if (!loaded || !store.PutCourse(loaded->course, loaded->examFiles, &error))
            return false;
    }
    const auto markerHash = staff::HashMarkerPassword(kDemoMarkerPassword);
    if (!markerHash ||
        !store.AddMarker({std::string(kDemoMarker),
                          "Terry Jones",
                          "Teaching assistant, Monday labs",
                          false,
                          {kDemoCourse}}) ||
        !store.SetMarkerPassword(kDemoMarker, *markerHash)) {
        error = "cannot store the demo marker";
        return false;
    }
    NewStudent student;
    student.course = kDemoCourse;
    student.number = kDemoStudent;
    student.password = std::string(kDemoPassword);
    student.name = "Demo Student";
    student.email = "demo@example.edu";
    const auto outcome = store.RegisterStudent(student);
    if (outcome != RegisterOutcome::Registered && outcome != RegisterOutcome::AlreadyExists) {
        error = "cannot register the demo student";
        return false;
    }
    return Submit(store, 0, Package({{"hello.c", 'F', 4, kHelloC}}), error) &&
           Mark(store, 0, 8, "hello.c", kHelloMarkup, error) &&
           Submit(store, 1,
                  Package({{"main.c", 'F', 4,
                            "#include \"list.h\"\r\n\r\nint main(void)\r\n{\r\n"
                            "\treturn list_demo();\r\n}\r\n"},
                           {"list.c", 'F', 4,
                            "#include \"list.h\"\r\n\r\nint list_demo(void)\r\n{\r\n"
                            "\treturn 0;\r\n}\r\n"},
                           {"list.h", 'F', 4, "int list_demo(void);\r\n"}}),
                  error) &&
           Submit(store, 9,
                  Package({{"mean.py", 'F', 4, kLab3Py},
                           {"notes.txt", 'A', 8, "Tested with 3 lists.\r\n"}}),
                  error) &&
           Mark(store, 9, 5, "mean.py", "C,360,10,260,20,Guard against an empty list.\r\n", error);
}

} // namespace tallyport::server
