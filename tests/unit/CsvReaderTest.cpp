// The CSV reader on its own, and class lists read from CSV: every fault refuses the whole text
// and names its line.
#include "common/CsvReader.h"
#include "course/ClassListCsv.h"

#include <gtest/gtest.h>

namespace tallyport::test {
namespace {

using server::CsvError;
using server::CsvRecord;
using server::ReadCsv;

using Fields = std::vector<std::string>;

struct ReadCase {
    const char* what;
    std::string_view text;
    std::vector<std::pair<std::size_t, Fields>> records; // line, fields
};

TEST(CsvReader, ReadsWhatSpreadsheetsWrite) {
    const ReadCase cases[] = {
        {"plain LF", "a,b,c\n1,2,3\n", {{1, {"a", "b", "c"}}, {2, {"1", "2", "3"}}}},
        {"CR LF and no final line end", "a,b\r\n1,2", {{1, {"a", "b"}}, {2, {"1", "2"}}}},
        {"byte order mark", "\xEF\xBB\xBFnumber,name\n", {{1, {"number", "name"}}}},
        {"empty fields", ",x,\n", {{1, {"", "x", ""}}}},
        {"comma and doubled quote in quotes",
         "\"Smith, Anne\",\"say \"\"hi\"\"\",\"\"\n",
         {{1, {"Smith, Anne", "say \"hi\"", ""}}}},
        {"line breaks inside quotes count as lines",
         "\"two\nlines\",\"crlf\r\ninside\"\r\nnext,row\n",
         {{1, {"two\nlines", "crlf\r\ninside"}}, {4, {"next", "row"}}}},
        {"empty lines are skipped but counted", "\n\r\na\n\nb\n", {{3, {"a"}}, {5, {"b"}}}},
        {"UTF-8 names",
         "1,Zoë O’Brien,zoe@example.org\n",
         {{1, {"1", "Zoë O’Brien", "zoe@example.org"}}}},
        {"blanks are kept", " a , b \n", {{1, {" a ", " b "}}}},
        {"nothing", "", {}},
    };
    for (const auto& c : cases) {
        CsvError error;
        const auto records = ReadCsv(c.text, error);
        ASSERT_TRUE(records) << c.what << ": line " << error.line << ": " << error.message;
        ASSERT_EQ(records->size(), c.records.size()) << c.what;
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            EXPECT_EQ((*records)[i].line, c.records[i].first) << c.what << " record " << i;
            EXPECT_EQ((*records)[i].fields, c.records[i].second) << c.what << " record " << i;
        }
    }
}

struct FaultCase {
    const char* what;
    std::string_view text;
    std::size_t line;
    const char* says;
};

TEST(CsvReader, RefusesMalformedTextNamingTheLine) {
    const FaultCase cases[] = {
        {"quote never closed (line where it opened)", "a\n\"open\nand on\n", 2, "never closed"},
        {"text after a closing quote", "a\nb\n\"x\"y,z\n", 3, "closing quote"},
        {"quote inside a bare field", "a,b\nab\"c,d\n", 2, "quote inside"},
        {"a lone carriage return", "a\rb\n", 1, "carriage return"},
        {"Latin-1 instead of UTF-8", "n,name\n1,Zo\xEB\n", 2, "not UTF-8"},
        {"a UTF-16 byte order mark", "\xFF\xFEn\0", 1, "not UTF-8"},
        {"line count goes on after quoted line breaks", "\"a\nb\",c\n\"d\"e\n", 3, "closing quote"},
    };
    for (const auto& c : cases) {
        CsvError error;
        EXPECT_FALSE(ReadCsv(c.text, error)) << c.what;
        EXPECT_EQ(error.line, c.line) << c.what;
        EXPECT_NE(error.message.find(c.says), std::string::npos) << c.what << ": " << error.message;
    }
}

TEST(ClassListCsv, ReadsStudentsNormalisedAndTidied) {
    std::string error;
    const auto list = server::ParseClassList("\xEF\xBB\xBFnumber,name,e-mail\r\n"
                                             "123456,\"Zoë  O’Brien\",zoe@example.org\r\n"
                                             " 100654321 ,\"Smith,\nAnne\", anne@example.org \r\n",
                                             error);
    ASSERT_TRUE(list) << error;
    const std::vector<server::ClassListEntry> expected = {
        {100123456, "Zoë O’Brien", "zoe@example.org"},
        {100654321, "Smith, Anne", "anne@example.org"}};
    EXPECT_EQ(*list, expected);
}

TEST(ClassListCsv, ABadRowRefusesTheWholeFileNamingItsLine) {
    const struct {
        const char* what;
        std::string_view text;
        const char* says;
    } cases[] = {
        {"not a number", "n,name,mail\n1,a,a@x\nabc,b,b@x\n", "line 3: \"abc\" is not"},
        {"a number with more after it", "n,name,mail\n12x,a,a@x\n", "line 2: \"12x\" is not"},
        {"negative", "n,name,mail\n-5,a,a@x\n", "line 2:"},
        {"too large", "n,name,mail\n99999999999,a,a@x\n", "line 2:"},
        {"the same number twice once normalised", "n,name,mail\n123456,a,a@x\n\n100123456,b,b@x\n",
         "line 4: student 100123456 is listed already on line 2"},
        {"too few columns", "n,name,mail\n1,a\n", "line 2: 2 columns"},
        {"too many columns", "n,name,mail\n1,a,a@x\n2,b,b@x,extra\n", "line 3: 4 columns"},
        {"no header", "1,a,a@x\n2,b,b@x\n", "line 1: the first row must be the header"},
        {"a CSV fault", "n,name,mail\n1,\"a,a@x\n", "line 2: a quoted field is never closed"},
        {"only a header", "number,name,e-mail\n", "lists no students"},
        {"empty", "", "empty"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(server::ParseClassList(c.text, error)) << c.what;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
    }
}

} // namespace
} // namespace tallyport::test
