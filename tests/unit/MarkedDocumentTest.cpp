// The marked work's one document: where its sheets cut a page (whole lines, comments and
// strokes kept together, empty stretches left out), the name it gets beside the submitted files,
// and how saving writes it (marked work only, never over a submitted file, failures reported).
#include "marking/MarkedDocumentName.h"
#include "marking/PageBreaks.h"
#include "marking/SaveMarked.h"
#include "support/RecordingSurface.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

namespace tallyport {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;

std::string Lines(int count, bool finalLineEnd = true) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "line " + std::to_string(i) + (i + 1 < count || finalLineEnd ? "\r\n" : "");
    return text;
}

MarkedFile File(std::string name, std::string text, ContentKind kind = ContentKind::Ascii) {
    MarkedFile file;
    file.name = std::move(name);
    file.kind = kind;
    file.tabWidth = 4;
    file.length = int32_t(text.size());
    file.SetText(std::move(text));
    return file;
}

std::unique_ptr<ObjectNode> Comment(int32_t y, std::string text) {
    return std::make_unique<CommentNode>(100, y, 50, 10, text);
}

std::unique_ptr<ObjectNode> Stroke(int32_t y, std::initializer_list<int32_t> pointYs) {
    std::unique_ptr<PointNode> points;
    for (const int32_t py : pointYs)
        points = std::make_unique<PointNode>(0, py, std::move(points));
    return std::make_unique<LineNode>(0, y, 10, 10, std::move(points));
}

TEST(MarkedDocument, SheetsCutBetweenLinesAndKeepAnnotationsWhole) {
    test::ScopedPageScales scales; // 16 pixels a line
    // First sheet 8 lines (128 pixels, under its heading), every other sheet 10 lines.
    constexpr int64_t kFirst = 128, kOther = 160;
    using Bands = std::vector<PageBand>;
    const Bands plain{{0, 80}, {80, 180}, {180, 250}};
    const std::string twoLines = "spans\r\atwo lines";
    const struct {
        const char* what;
        std::function<MarkedFile()> make;
        Bands bands;
    } cases[] = {
        {"25 lines", [] { return File("a", Lines(25)); }, plain},
        {"25 lines, no final line end", [] { return File("a", Lines(25, false)); }, plain},
        {"a 26th, empty line is still printed",
         [] { return File("a", Lines(25) + "\r\n"); },
         {{0, 80}, {80, 180}, {180, 260}}},
        {"a two-line comment across the first cut",
         [&] {
             MarkedFile f = File("a", Lines(25));
             f.PushAnnotation(Comment(70, twoLines));
             return f;
         },
         {{0, 70}, {70, 170}, {170, 250}}},
        {"a comment off the line grid",
         [] {
             MarkedFile f = File("a", Lines(25));
             f.PushAnnotation(Comment(75, "one line"));
             return f;
         },
         {{0, 70}, {70, 170}, {170, 250}}},
        {"a stroke across the second cut",
         [] {
             MarkedFile f = File("a", Lines(25));
             f.PushAnnotation(Stroke(150, {15, 45}));
             return f;
         },
         {{0, 80}, {80, 160}, {160, 250}}},
        {"a comment taller than a sheet is cut between its lines",
         [] {
             MarkedFile f = File("a", Lines(25));
             std::string tall = "0";
             for (int i = 1; i < 15; ++i)
                 tall += "\r\a" + std::to_string(i);
             f.PushAnnotation(Comment(50, tall));
             return f;
         },
         plain},
        {"nothing printed for far-off stretches",
         [] {
             MarkedFile f = File("a", Lines(3));
             f.PushAnnotation(Comment(1'000'000, "far below"));
             f.PushAnnotation(Stroke(0, {5, 2'000'000'000}));
             f.PushAnnotation(Comment(-50, "above the page: not shown"));
             return f;
         },
         {{0, 30}, {1'000'000, 1'000'010}, {2'000'000'000, 2'000'000'010}}},
        {"a non-ASCII file is its notice alone",
         [] {
             MarkedFile f = File("a", Lines(40), ContentKind::NonAscii);
             f.PushAnnotation(Comment(300, "not drawn"));
             return f;
         },
         {{0, 10}}},
        {"a file whose text never arrived",
         [] {
             MarkedFile f;
             f.name = "late.c";
             return f;
         },
         {{0, 10}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PageBreaks(c.make(), kFirst, kOther), c.bands) << c.what;
}

TEST(MarkedDocument, NameNeverOneTheSaveWrites) {
    const struct {
        std::vector<std::string> files;
        const char* name;
    } cases[] = {
        {{"hello.c"}, "marked.pdf"},
        {{"marked.pdf"}, "marked-2.pdf"},
        {{"MARKED.PDF"}, "marked-2.pdf"},                   // a file system that ignores case
        {{"./marked.pdf", "marked-2.pdf"}, "marked-3.pdf"}, // as the save resolves the path
        {{"marked.pdf/notes.txt"}, "marked-2.pdf"},         // a folder of that name
        {{"marked.pdf\\notes.txt"}, "marked-2.pdf"},
        {{"marked"}, "marked.pdf"},        // its picture is marked.emf
        {{"../marked.pdf"}, "marked.pdf"}, // refused, so never written
    };
    for (const auto& c : cases) {
        MarkedSubmission s;
        for (const std::string& name : c.files)
            s.files.push_back(File(name, "x"));
        EXPECT_EQ(MarkedDocumentName(s), c.name) << c.files[0];
    }
}

TEST(MarkedDocument, SavedBesideTheFilesForMarkedWorkOnly) {
    test::ScopedPageScales scales;
    TempDir dir;
    std::vector<fs::path> written;
    const MarkedDocumentWriter writer = [&](const fs::path& path, const MarkedSubmission&) {
        written.push_back(path);
        test::WriteFile(path, "%PDF-");
        return std::optional<std::string>();
    };
    MarkedSubmission s;
    s.marking.emplace();
    s.marking->mark = 7;
    s.files.push_back(File("marked.pdf", "a submitted file of that name"));
    s.files.push_back(File("hello.c", "int x;\r\n"));
    const fs::path target = dir.path() / "assign02";

    SaveResult result = SaveMarkedSubmission(s, dir.path().string(), 2, writer);
    EXPECT_TRUE(result.problems.empty());
    EXPECT_EQ(written, std::vector<fs::path>{target / "marked-2.pdf"});
    EXPECT_EQ(ReadFile(target / "marked.pdf"), "a submitted file of that name");
    EXPECT_EQ(ReadFile(target / "marked-2.pdf"), "%PDF-");
    EXPECT_EQ(result.document, "marked-2.pdf");
    EXPECT_EQ(SaveResultMessage(result) + SavedDocumentNote(result),
              "Your submitted files have been saved in " + target.string() +
                  "\nThe marked work is also in one PDF file: marked-2.pdf");

    const MarkedDocumentWriter failing = [](const fs::path&, const MarkedSubmission&) {
        return std::optional<std::string>("No space left on device");
    };
    result = SaveMarkedSubmission(s, dir.path().string(), 2, failing);
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_EQ(result.problems[0].name, "marked-2.pdf");
    EXPECT_EQ(result.document, "");
    EXPECT_EQ(SavedDocumentNote(result), "");
    EXPECT_NE(SaveResultMessage(result).find("\nmarked-2.pdf: No space left on device"),
              std::string::npos);

    s.marking->mark = kNotMarked;
    written.clear();
    result = SaveMarkedSubmission(s, dir.path().string(), 5, writer);
    EXPECT_TRUE(written.empty());
    EXPECT_EQ(result.document, "");
    EXPECT_FALSE(fs::exists(dir.path() / "assign05/marked-2.pdf"));
}

} // namespace
} // namespace tallyport
