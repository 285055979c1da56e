// Reading the marked package: record lines, file records, texts by length, annotation blocks,
// and every way the package can be short or malformed. Also the package's road through the
// temporary file, and requests 13 and 14 with their replies against bytes worked out by hand.
#include "marking/MarkedDownload.h"
#include "marking/MarkedPackageReader.h"
#include "marking/MarkedRequests.h"
#include "support/ScriptedPeer.h"
#include "support/ScriptedPrompts.h"
#include "support/ScriptedTransactionUi.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>

namespace tallyport {
namespace {

using test::TempDir;

const std::string kDashes(80, '-');

std::string Head(std::string header = "Marked: 1,2,3,first,second",
                 std::string marking = "Marking: 7,m042,looked at") {
    return header + "\r\n" + marking + "\r\n";
}

std::string FileRecord(int number, const std::string& fields, const std::string& text,
                       const std::string& block = "") {
    return kDashes + "\r\n" + "File #" + std::to_string(number) + ": " + fields + "\r\n" + text +
           block + "EOF\r\n";
}

struct Read {
    MarkedSubmission submission;
    bool complete = false;
};

Read ReadBytes(const std::string& bytes) {
    Read result;
    PackageInput input = PackageInput::FromMemory(bytes);
    result.complete = ReadMarkedPackage(input, result.submission);
    return result;
}

std::vector<std::string> CommentTexts(const MarkedFile& file) {
    std::vector<std::string> texts;
    for (const ObjectNode* n = file.annotations.get(); n; n = n->next.get())
        texts.push_back(n->GetText() ? std::string(*n->GetText()) : std::string("<stroke>"));
    return texts;
}

TEST(MarkedPackage, ReadsAWholePackage) {
    const std::string text = "one\r\ntwo\r\nEOF\r\nthree"; // "EOF" inside the text is text
    const std::string package =
        Head() + "Number of Files: 2\r\n" +
        FileRecord(1, "src/main.src,F,4," + std::to_string(text.size()), text,
                   "\r\nC,10,20,70,20,fix this, please\r\nL,0,0,5,5\r\nP,1,1\r\nP,2,2\r\nEOL\r\n") +
        FileRecord(2, "data.bin,B,8,3", std::string("\0\r\n", 3));
    const Read r = ReadBytes(package);
    ASSERT_TRUE(r.complete);
    const MarkedSubmission& s = r.submission;
    ASSERT_TRUE(s.header);
    EXPECT_EQ(s.header->value1, 1);
    EXPECT_EQ(s.header->value3, 3);
    EXPECT_EQ(s.header->text1, "first");
    EXPECT_EQ(s.header->text2, "second");
    ASSERT_TRUE(s.marking);
    EXPECT_EQ(s.marking->mark, 7);
    EXPECT_EQ(s.marking->markerId, "m042");
    EXPECT_EQ(s.marking->detail, "looked at");
    EXPECT_TRUE(s.IsMarked());
    EXPECT_EQ(s.fileCount, 2);
    ASSERT_EQ(s.files.size(), 2u);
    const MarkedFile& main = s.files[0];
    EXPECT_EQ(main.name, "src/main.src");
    EXPECT_EQ(main.kind, ContentKind::Normalised);
    EXPECT_EQ(main.tabWidth, 4);
    EXPECT_EQ(main.length, int32_t(text.size()));
    ASSERT_TRUE(main.text());
    EXPECT_EQ(*main.text(), text);
    EXPECT_EQ(CommentTexts(main), (std::vector<std::string>{"<stroke>", "fix this, please"}));
    EXPECT_EQ(s.files[1].kind, ContentKind::NonAscii);
    EXPECT_EQ(*s.files[1].text(), std::string("\0\r\n", 3));
    EXPECT_EQ(s.FileAt(1), &s.files[1]);
    EXPECT_EQ(s.FileAt(2), nullptr);
    EXPECT_EQ(s.FileAt(-1), nullptr);
}

TEST(MarkedPackage, HeadLinesWithOnlyLineFeedsAndEmptyFields) {
    const Read r = ReadBytes("H:,,4,5,6,,t1\nM: -2 ,id,d\nNumber of Files:1\n-\n"
                             "File #1: a.c,,A,4,0\nEOF");
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.submission.header->value1, 4);
    EXPECT_EQ(r.submission.header->text1, "t1");
    EXPECT_EQ(r.submission.header->text2, ""); // may be missing
    EXPECT_EQ(r.submission.marking->mark, kNotMarked);
    EXPECT_FALSE(r.submission.IsMarked());
    const MarkedFile& file = r.submission.files[0];
    EXPECT_EQ(file.name, "a.c"); // the empty field is skipped: the same as "a.c,A,4,0"
    EXPECT_EQ(file.kind, ContentKind::Ascii);
    EXPECT_EQ(file.tabWidth, 4);
    ASSERT_TRUE(file.text());
    EXPECT_EQ(*file.text(), "");
}

TEST(MarkedPackage, KindLetters) {
    const struct {
        const char* letter;
        ContentKind kind;
    } cases[] = {{"A", ContentKind::Ascii},      {"B", ContentKind::NonAscii},
                 {"F", ContentKind::Normalised}, {"x", ContentKind::Normalised},
                 {"Bin", ContentKind::NonAscii}, {"a", ContentKind::Normalised}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letter);
        const Read r = ReadBytes(Head() + "Number of Files: 1\r\n" +
                                 FileRecord(1, std::string("f,") + c.letter + ",8,1", "z"));
        ASSERT_TRUE(r.complete);
        EXPECT_EQ(r.submission.files[0].kind, c.kind);
    }
}

TEST(MarkedPackage, AnnotationBlockSkipsStrayLinesAndEndsAtEof) {
    const std::string package =
        Head() + "Number of Files: 2\r\n" +
        FileRecord(1, "a.c,A,4,2", "x\n", "\r\nstray text\r\nP,1,1\r\n") +
        FileRecord(2, "b.c,A,4,0", "", "C,0,0,0,0,first\r\nC,0,0,0,0,second\r\n");
    const Read r = ReadBytes(package);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.submission.files[0].annotations, nullptr);
    EXPECT_EQ(r.submission.files[1].name, "b.c");
    EXPECT_EQ(CommentTexts(r.submission.files[1]), (std::vector<std::string>{"second", "first"}));
}

TEST(MarkedPackage, PackageEndingAfterTheFirstFile) {
    const Read r = ReadBytes(Head() + "Number of Files: 3\r\n" + FileRecord(1, "a.c,A,4,3", "abc"));
    EXPECT_FALSE(r.complete);
    ASSERT_EQ(r.submission.shownFileCount(), 3);
    EXPECT_EQ(*r.submission.FileAt(0)->text(), "abc");
    for (int i : {1, 2}) {
        EXPECT_EQ(r.submission.FileAt(i)->name, "");
        EXPECT_FALSE(r.submission.FileAt(i)->text());
    }
    EXPECT_EQ(r.submission.FileAt(3), nullptr);
}

// A count larger than the package's records, even larger than its bytes could hold: the files
// that arrived whole are kept and the rest are listed as files that never arrived. Only a count
// past what any package may list is refused, before anything is made for it.
TEST(MarkedPackage, CountBeyondTheRecordsKeepsTheWholeFiles) {
    const std::string records = "-\nFile #1: a.c,A,4,2\nhi\nEOF\n-\nFile #2: b.c,A,4,0\nEOF\n";
    const Read r = ReadBytes(Head() + "Number of Files: 9\n" + records);
    EXPECT_FALSE(r.complete);
    const MarkedSubmission& s = r.submission;
    EXPECT_EQ(s.fileCount, 9);
    ASSERT_EQ(s.shownFileCount(), 9);
    EXPECT_EQ(s.FileAt(0)->name, "a.c");
    EXPECT_EQ(*s.FileAt(0)->text(), "hi");
    EXPECT_EQ(s.FileAt(1)->name, "b.c");
    EXPECT_EQ(*s.FileAt(1)->text(), "");
    for (int32_t i = 2; i < 9; ++i) {
        EXPECT_EQ(s.FileAt(i)->name, "") << i;
        EXPECT_FALSE(s.FileAt(i)->text()) << i; // drawn as the file-error page
    }
    EXPECT_EQ(s.FileAt(9), nullptr);
    EXPECT_LE(s.files.size(), 3u); // nothing is made for files that never arrived

    const Read most =
        ReadBytes(Head() + "Number of Files: " + std::to_string(kMaxMarkedFiles) + "\n" + records);
    EXPECT_EQ(most.submission.shownFileCount(), kMaxMarkedFiles);
    EXPECT_EQ(*most.submission.FileAt(1)->text(), "");
    for (const int64_t count : {int64_t(kMaxMarkedFiles) + 1, int64_t(INT32_MAX)}) {
        const Read refused =
            ReadBytes(Head() + "Number of Files: " + std::to_string(count) + "\n" + records);
        EXPECT_EQ(refused.submission.fileCount, -1) << count;
        EXPECT_TRUE(refused.submission.files.empty()) << count;
        EXPECT_EQ(refused.submission.shownFileCount(), 0) << count;
    }
}

TEST(MarkedPackage, FailuresKeepWhatWasReadBefore) {
    const struct {
        const char* why;
        std::string package;
        bool header, marking;
        int32_t fileCount;
    } cases[] = {
        {"empty", "", true, false, 0},
        {"header without ':'", "Marked 1,2,3,t\r\n", true, false, 0},
        {"header missing text1", "H: 1,2,3\r\nM: 1,a,b\r\n", true, false, 0},
        {"header missing a value", "H: 1,,2\r\nM: 1,a,b\r\n", true, false, 0},
        {"marking without detail", Head("H: 1,2,3,t", "M: 5,id") + "Number of Files: 0\r\n", true,
         true, 0},
        {"no count line", Head(), true, true, -1},
        {"empty count line", Head() + "\r\n", true, true, -1},
        {"count without ':'", Head() + "Number of Files 1\r\n", true, true, -1},
        {"negative count", Head() + "Number of Files: -1\r\n", true, true, -1},
        {"count no package may hold",
         Head() + "Number of Files: 2000000000\r\n" + std::string(100, '-'), true, true, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const Read r = ReadBytes(c.package);
        EXPECT_FALSE(r.complete);
        EXPECT_EQ(r.submission.header.has_value(), c.header);
        EXPECT_EQ(r.submission.marking.has_value(), c.marking);
        EXPECT_EQ(r.submission.fileCount, c.fileCount);
        EXPECT_TRUE(r.submission.files.empty());
    }
    const Read partial = ReadBytes(Head("H: 1,2,3,t", "M: 5,id") + "Number of Files: 0\r\n");
    EXPECT_EQ(partial.submission.marking->mark, 5); // fields read before the failure stay
    EXPECT_EQ(partial.submission.marking->markerId, "id");
    const Read zero = ReadBytes(Head() + "Number of Files: 0\r\n");
    EXPECT_TRUE(zero.complete);
    for (const int32_t count : {10, 11}) { // whether or not 100 bytes could hold the records
        const Read r = ReadBytes(Head() + "Number of Files: " + std::to_string(count) + "\r\n" +
                                 std::string(100, '\n'));
        EXPECT_EQ(r.submission.fileCount, count);
        EXPECT_EQ(r.submission.shownFileCount(), count); // listed, each never arrived
        EXPECT_EQ(r.submission.FileAt(count - 1)->name, "");
    }
}

TEST(MarkedPackage, FileHeadAndTextFailures) {
    const struct {
        const char* why;
        std::string record;
        const char* name;
    } cases[] = {
        {"head without ':'", kDashes + "\r\nFile #1 a.c,A,4,1\r\nx", ""},
        {"empty head", kDashes + "\r\n\r\n", ""},
        {"no head", kDashes, ""},
        {"missing length", kDashes + "\r\nFile #1: a.c,A,4\r\nx", "a.c"},
        {"negative length", kDashes + "\r\nFile #1: a.c,A,4,-1\r\nx", "a.c"},
        {"length beyond the package", kDashes + "\r\nFile #1: a.c,A,4,5\r\nabcd", "a.c"},
        {"length beyond 32 bits", kDashes + "\r\nFile #1: a.c,A,4,99999999999\r\nabcd", "a.c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const Read r = ReadBytes(Head() + "Number of Files: 1\r\n" + c.record);
        EXPECT_FALSE(r.complete);
        ASSERT_EQ(r.submission.files.size(), 1u);
        EXPECT_EQ(r.submission.files[0].name, c.name);
        EXPECT_FALSE(r.submission.files[0].text()); // shown with the file-error notice
    }
}

TEST(MarkedPackage, RecordFieldsAndIntegers) {
    const auto fields = RecordFields::Of("label: a,,b , ,c", 1);
    ASSERT_TRUE(fields);
    EXPECT_EQ((*fields)[0], " a");
    EXPECT_EQ((*fields)[1], "b ");
    EXPECT_EQ((*fields)[2], " ");
    EXPECT_EQ((*fields)[3], "c");
    EXPECT_EQ((*fields)[4], "");
    EXPECT_FALSE(RecordFields::Of("", 1));
    EXPECT_FALSE(RecordFields::Of("no colon", 1));
    EXPECT_EQ((*RecordFields::Of("x:", 2))[0], ""); // fields would start past the end

    const struct {
        const char* text;
        int32_t value;
    } ints[] = {{"42", 42},
                {"  -7x", -7},
                {"+3", 3},
                {"x1", 0},
                {"", 0},
                {"- 1", 0},
                {"\t\n12", 12},
                {"99999999999", INT32_MAX},
                {"-99999999999", INT32_MIN}};
    for (const auto& c : ints)
        EXPECT_EQ(ParseRecordInt(c.text), c.value) << c.text;
}

TEST(MarkedPackage, FileInputMatchesMemoryAcrossChunkBoundaries) {
    TempDir dir;
    std::string longLine(200'000, 'q');
    const std::string bigText(150'000, 't');
    const std::string package = Head("H: 1,2,3," + longLine) + "Number of Files: 1\r\n" +
                                FileRecord(1, "big.txt,A,8," + std::to_string(bigText.size()),
                                           bigText, "C,1,2,3,4," + longLine + "\r\n");
    const auto path = dir.path() / "package";
    std::ofstream(path, std::ios::binary) << package;
    auto fromFile = PackageInput::OpenFile(path);
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(fromFile->remaining(), package.size());
    MarkedSubmission viaFile;
    ASSERT_TRUE(ReadMarkedPackage(*fromFile, viaFile));
    EXPECT_EQ(fromFile->remaining(), 0u);
    EXPECT_EQ(viaFile.header->text1, longLine);
    EXPECT_EQ(*viaFile.files[0].text(), bigText);
    EXPECT_EQ(*viaFile.files[0].annotations->GetText(), longLine);
    EXPECT_FALSE(PackageInput::OpenFile(dir.path() / "missing"));
    EXPECT_FALSE(PackageInput::OpenFile(dir.path())); // a folder is not a package
}

TEST(MarkedPackage, LineReadingRules) {
    std::string line;
    PackageInput input = PackageInput::FromMemory("a\r\n\r\nb\r\r\nc\r");
    ASSERT_TRUE(input.ReadLine(line));
    EXPECT_EQ(line, "a");
    ASSERT_TRUE(input.ReadLine(line));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(input.ReadLine(line));
    EXPECT_EQ(line, "b\r"); // only one CR before the LF goes
    ASSERT_TRUE(input.ReadLine(line));
    EXPECT_EQ(line, "c\r"); // a last line without LF is returned as read
    EXPECT_FALSE(input.ReadLine(line));
    std::string bytes;
    EXPECT_FALSE(input.ReadExact(1, bytes));
    EXPECT_TRUE(input.ReadExact(0, bytes));
}

TEST(MarkedPackage, TemporaryFileIsRemovedAfterReading) {
    TempDir dir;
    const auto folder = dir.path() / "tmp";
    const std::string package =
        Head() + "Number of Files: 1\r\n" + FileRecord(1, "a.c,A,4,3", "abc");
    MarkedSubmission submission;
    const PackageReading reading = ReadPackageThroughTempFile(
        std::as_bytes(std::span(package.data(), package.size())), folder, submission);
    EXPECT_FALSE(reading.tempFileProblem);
    EXPECT_TRUE(reading.complete);
    EXPECT_EQ(*submission.files[0].text(), "abc");
    EXPECT_TRUE(std::filesystem::is_empty(folder));

    const auto notAFolder = dir.path() / "file";
    std::ofstream(notAFolder) << "x";
    MarkedSubmission none;
    const PackageReading failed = ReadPackageThroughTempFile(
        std::as_bytes(std::span(package.data(), package.size())), notAFolder, none);
    ASSERT_TRUE(failed.tempFileProblem);
    EXPECT_FALSE(none.header);
}

std::vector<uint8_t> Bytes(const NetMessage& message) {
    std::vector<uint8_t> out;
    for (const std::byte b : message.bytes())
        out.push_back(uint8_t(b));
    return out;
}

NetMessage Reply(std::vector<uint8_t> bytes) {
    std::vector<std::byte> raw;
    for (const uint8_t b : bytes)
        raw.push_back(std::byte(b));
    return NetMessage::fromReply(std::move(raw));
}

TEST(MarkedPackage, RequestsAgainstHandWorkedBytes) {
    // 13, course 3101 (0x0C1D), student 100123456 (0x05F7C340), crypt("demo123", "QZ"), entry 5.
    const std::vector<uint8_t> marked = {
        0x00, 0x00, 0x00, 0x0D, 0x00, 0x00, 0x0C, 0x1D, 0x05, 0xF7, 0xC3, 0x40, 'Q',  'Z',  'e',
        'A',  '4',  'r',  'c',  '9',  'f',  'f',  'z',  'j',  'c',  0x00, 0x00, 0x00, 0x00, 0x05};
    EXPECT_EQ(Bytes(BuildMarkedAssignmentRequest(3101, 100123456, "demo123", 5)), marked);
    const std::vector<uint8_t> marker = {0x00, 0x00, 0x00, 0x0E, 0x00, 0x00, 0x0C,
                                         0x1D, 'm',  '0',  '4',  '2',  0x00};
    EXPECT_EQ(Bytes(BuildMarkerNameRequest(3101, "m042")), marker);
}

TEST(MarkedPackage, MarkedReplies) {
    NetMessage good = Reply({0, 0, 0, 10, 0, 0, 0, 3, 'a', 'b', 'c', 'x'});
    const auto read = ReadMarkedReply(good);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->maxMark, 10);
    ASSERT_EQ(read->package.size(), 3u);
    EXPECT_EQ(char(read->package[2]), 'c');

    const std::vector<std::vector<uint8_t>> bad = {
        {0, 0, 0, 10, 0, 0, 0, 4, 'a', 'b', 'c'},   // one byte short
        {0, 0, 0, 10, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}, // negative length
        {0, 0, 0, 10, 0x7F, 0xFF, 0xFF, 0xFF},      // a length no reply holds
        {0, 0, 0, 10, 0, 0},                        // no length
        {},
    };
    for (const auto& bytes : bad) {
        NetMessage reply = Reply(bytes);
        EXPECT_FALSE(ReadMarkedReply(reply));
    }
    NetMessage empty = Reply({0, 0, 0, 1, 0, 0, 0, 0});
    ASSERT_TRUE(ReadMarkedReply(empty));
}

TEST(MarkedPackage, MarkerNameReplies) {
    NetMessage good = Reply({'A', 'n', 'n', 0, 'T', 'u', 't', 'o', 'r', 0});
    const auto name = ReadMarkerNameReply(good);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->name, "Ann");
    EXPECT_EQ(name->about, "Tutor");
    NetMessage half = Reply({'A', 'n', 'n', 0});
    EXPECT_FALSE(ReadMarkerNameReply(half));
    NetMessage unterminated = Reply({'A', 0, 'B'});
    EXPECT_FALSE(ReadMarkerNameReply(unterminated));
}

class NoFields : public MainDialogFields {
public:
    void FocusStudentNumber() override {}
    void FocusPassword() override {}
    void SetPasswordText(std::string_view) override {}
};

// The View command's download against a scripted peer: what each kind of reply leads to.
struct Download {
    test::ScriptedPeer peer;
    test::ScriptedTransactionUi ui;
    Transactor transactor{peer.endpoint(), ui};
    test::ScriptedPrompts prompts;
    NoFields fields;
    Course course;
    TempDir dir;

    std::optional<MarkedDownload> Run(test::PeerAction action) {
        peer.Push(std::move(action));
        course.number = 3101;
        MainSelection selection;
        selection.studentNumber = 100123456;
        selection.password = "demo123";
        selection.entryIndex = 5;
        CommandContext context{transactor, prompts, fields, &course, selection, dir.path() / "tmp"};
        return DownloadMarkedSubmission(context);
    }
};

std::vector<std::byte> MarkedBody(int32_t maxMark, const std::string& package, int32_t announced) {
    std::vector<std::byte> body;
    for (const int32_t value : {maxMark, announced})
        for (int shift = 24; shift >= 0; shift -= 8)
            body.push_back(std::byte((uint32_t(value) >> shift) & 0xFF));
    for (const char c : package)
        body.push_back(std::byte(c));
    return body;
}

TEST(MarkedPackage, DownloadReadsTheReplyAndRemovesItsTemporaryFile) {
    Download d;
    const std::string package =
        Head() + "Number of Files: 1\r\n" + FileRecord(1, "a.c,A,4,3", "abc");
    const auto download =
        d.Run(test::PeerAction::Reply(0, MarkedBody(10, package, int32_t(package.size()))));
    ASSERT_TRUE(download);
    EXPECT_EQ(download->maxMark, 10);
    EXPECT_EQ(download->submission.marking->mark, 7);
    EXPECT_EQ(*download->submission.files[0].text(), "abc");
    EXPECT_TRUE(d.prompts.shown.empty());
    EXPECT_EQ(d.ui.titles, std::vector<std::string>{"Marked Assignment"});
    EXPECT_TRUE(std::filesystem::is_empty(d.dir.path() / "tmp"));
    const auto requests = d.peer.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body.size(), 30u); // 13, course, student, the 13-character hash, entry
}

TEST(MarkedPackage, DownloadFailuresAreToldAndOpenNothing) {
    const std::string good = Head() + "Number of Files: 0\r\n";
    const struct {
        const char* why;
        test::PeerAction action;
        const char* message; // none when the transaction reports it
    } cases[] = {
        {"nothing submitted", test::PeerAction::Reply(-12),
         "You have not submitted anything for that assignment."},
        {"a refusal", test::PeerAction::Reply(-8), nullptr},
        {"a length beyond the reply",
         test::PeerAction::Reply(0, MarkedBody(10, good, int32_t(good.size()) + 1)),
         "The marked submission could not be read.  Please report this problem."},
        {"no header record", test::PeerAction::Reply(0, MarkedBody(10, "garbage", 7)),
         "The marked submission could not be read.  Please report this problem."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Download d;
        EXPECT_FALSE(d.Run(c.action));
        if (c.message) {
            ASSERT_EQ(d.prompts.shown.size(), 1u);
            EXPECT_EQ(d.prompts.shown[0].text, c.message);
            EXPECT_EQ(d.prompts.shown[0].buttons, Buttons::Ok);
            EXPECT_EQ(d.prompts.shown[0].icon, Icon::Exclamation);
        } else {
            EXPECT_TRUE(d.prompts.shown.empty());
            EXPECT_EQ(d.ui.reported, std::vector<StatusCode>{-8});
        }
    }
}

} // namespace
} // namespace tallyport
