// Choosing, checking and loading the first files of a submission.
#include "submission/ChooseSubmitFile.h"
#include "submission/LoadSubmissionFile.h"
#include "submission/SubmitCommand.h"

#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace tallyport {
namespace {

namespace fs = std::filesystem;
using test::ScriptedPrompts;

constexpr const char* kTypes = "Source,src,A,4/Text,txt,T/Data,bin,B,2";
const std::string kRename =
    "You specified a file with an incorrect name.\r\nDo you want to rename it as "
    "main.src when submitting?\r\nNOTE:  You probably don't want to do this!";

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(SubmitFileRequestTest, DialogSetUpByKind) {
    const struct {
        const char* requirement;
        int32_t slot;
        const char* title;
        const char* filter;
        const char* defaultExtension;
        const char* initialName;
    } cases[] = {
        {"S,main.src,lib/util.txt", 0, "Select File To Submit (should be main.src)",
         "Source Files (*.src)|*.src|All Files (*.*)|*.*||", "src", "main.src"},
        {"S,main.src,lib/util.txt", 1, "Select File To Submit (should be lib/util.txt)",
         "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||", "txt", "util.txt"},
        {"S,main.src,dir\\x.c", 1, "Select File To Submit (should be dir\\x.c)",
         "All Files (*.*)|*.*||", "c", "x.c"},
        // An extension listed beside the names does not shift the next slot's type.
        {"S,main.src,bin,util.txt", 1, "Select File To Submit (should be util.txt)",
         "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||", "txt", "util.txt"},
        // No name for the slot: no default extension, no initial name, every file.
        {"S", 0, "Select File To Submit", "All Files (*.*)|*.*||", "", ""},
        {"M,src,txt", 0, "Select File To Submit",
         "Data Files (*.bin)|*.bin|Text Files (*.txt)|*.txt|Source Files (*.src)|*.src|All Files "
         "(*.*)|*.*||",
         "", ""},
        {"1,txt,src", 0, "Select File To Submit", "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||",
         "txt", ""},
        {"1,doc", 0, "Select File To Submit", "All Files (*.*)|*.*||", "doc", ""},
        {"1", 0, "Select File To Submit", "All Files (*.*)|*.*||", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requirement);
        const auto set = BuildRequiredFileSet(kTypes, c.requirement, 0, "", 0, 0);
        const OpenFileRequest request = SubmitFileRequest(set, c.slot);
        EXPECT_EQ(request.title, c.title);
        EXPECT_EQ(request.filter, c.filter);
        EXPECT_EQ(request.defaultExtension, c.defaultExtension);
        EXPECT_EQ(request.initialName, c.initialName);
    }
}

class ChooseSubmitFileTest : public testing::Test {
protected:
    std::string Make(const std::string& name, const std::string& bytes = "text\n") {
        WriteFile(dir.path() / name, bytes);
        return (dir.path() / name).string();
    }
    test::TempDir dir;
    ScriptedPrompts prompts;
};

TEST_F(ChooseSubmitFileTest, CancelledDialogChoosesNothing) {
    const auto set = BuildRequiredFileSet(kTypes, "S,main.src", 0, "", 0, 0);
    EXPECT_EQ(ChooseSubmitFile(prompts, set, 0), std::nullopt);
    EXPECT_EQ(prompts.fileRequests.size(), 1u);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(ChooseSubmitFileTest, RequiredNameMatchesWithoutRegardToCase) {
    const auto set = BuildRequiredFileSet(kTypes, "S,main.src", 0, "", 0, 0);
    const std::string path = Make("MAIN.SRC");
    prompts.files = {path};
    EXPECT_EQ(ChooseSubmitFile(prompts, set, 0), path);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(ChooseSubmitFileTest, OtherNameAsksToRename) {
    const auto set = BuildRequiredFileSet(kTypes, "S,main.src", 0, "", 0, 0);
    const std::string path = Make("test.src");
    prompts.files = {path, path};
    prompts.answers = {Answer::Cancel, Answer::Ok};
    EXPECT_EQ(ChooseSubmitFile(prompts, set, 0), std::nullopt);
    EXPECT_EQ(ChooseSubmitFile(prompts, set, 0), path);
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[0].text, kRename);
    EXPECT_EQ(prompts.shown[0].buttons, Buttons::OkCancel);
    EXPECT_EQ(prompts.shown[1].text, kRename);
}

TEST_F(ChooseSubmitFileTest, FileThatCannotBeOpenedIsRefused) {
    const auto set = BuildRequiredFileSet(kTypes, "M", 0, "", 0, 0);
    const std::string pipe = (dir.path() / "pipe.src").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string missing = (dir.path() / "missing.src").string();
    prompts.files = {pipe, missing};
    EXPECT_EQ(ChooseSubmitFile(prompts, set, 0), std::nullopt);
    EXPECT_EQ(ChooseSubmitFile(prompts, set, 0), std::nullopt);
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[0].text, "Unable to open file " + pipe);
    EXPECT_EQ(prompts.shown[0].icon, Icon::Error);
    EXPECT_EQ(prompts.shown[0].buttons, Buttons::Ok);
    EXPECT_EQ(prompts.shown[1].text, "Unable to open file " + missing);
}

TEST_F(ChooseSubmitFileTest, ExtensionWithoutATypeIsRefused) {
    // Any type the table knows passes, listed among the permitted extensions or not.
    const auto set = BuildRequiredFileSet(kTypes, "M,src", 0, "", 0, 0);
    const std::string doc = Make("notes.doc");
    const std::string bare = Make("Makefile");
    const std::string text = Make("notes.TXT");
    prompts.files = {doc, bare, text};
    EXPECT_EQ(ChooseSubmitFile(prompts, set, 0), std::nullopt);
    EXPECT_EQ(ChooseSubmitFile(prompts, set, 0), std::nullopt);
    EXPECT_EQ(ChooseSubmitFile(prompts, set, 0), text);
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[0].text,
              "You are not permitted to submit files with the\nextension for file " + doc);
    EXPECT_EQ(prompts.shown[0].icon, Icon::Error);
    EXPECT_EQ(prompts.shown[1].text,
              "You are not permitted to submit files with the\nextension for file " + bare);
}

TEST(LoadSubmissionFileTest, NamedFilesAreNamedAndTypedAfterTheirSlot) {
    test::TempDir dir;
    WriteFile(dir.path() / "mine.src", "a\nb");
    const auto set = BuildRequiredFileSet(kTypes, "S,main.src,notes.txt", 0, "", 0, 0);
    const auto file = LoadSubmissionFile(dir.path().string(), "mine.src", set, 1);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->name, "notes.txt");
    EXPECT_EQ(file->contentKind, ContentKind::Normalised);
    EXPECT_EQ(file->content, "a\r\nb\r\n");
    EXPECT_EQ(file->length(), 6);
    EXPECT_EQ(file->tabWidth, 8);
}

TEST(LoadSubmissionFileTest, OtherKindsKeepTheRelativeName) {
    test::TempDir dir;
    WriteFile(dir.path() / "a,b.src", std::string("raw\n\x00tail", 9));
    WriteFile(dir.path() / "pic.bin", std::string("\x00\x01\r\n", 4));
    const auto set = BuildRequiredFileSet(kTypes, "M", 0, "", 0, 0);
    const auto source = LoadSubmissionFile(dir.path().string(), "a,b.src", set, 0);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->name, "a_b.src");
    EXPECT_EQ(source->contentKind, ContentKind::Ascii);
    EXPECT_EQ(source->content, std::string("raw\n\x00tail", 9)); // as read, zero byte and all
    EXPECT_EQ(source->tabWidth, 4);
    const auto data = LoadSubmissionFile(dir.path().string(), "pic.bin", set, 0);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->contentKind, ContentKind::NonAscii);
    EXPECT_EQ(data->content, std::string("\x00\x01\r\n", 4));
    EXPECT_EQ(data->tabWidth, 2);
    EXPECT_FALSE(LoadSubmissionFile(dir.path().string(), "missing.src", set, 0));
    EXPECT_FALSE(LoadSubmissionFile(dir.path().string(), ".", set, 0)); // a folder
}

TEST(LoadSubmissionFileTest, SubmittedNames) {
    EXPECT_EQ(SubmittedName("a,b,c.src"), "a_b_c.src");
    EXPECT_EQ(SubmittedName("dir\\sub\\x.src"), "dir/sub/x.src");
    EXPECT_EQ(SubmittedName("two words.src"), "two words.src");
    EXPECT_EQ(SubmittedName("cr\rlf\n.src"), "cr_lf_.src");
}

TEST(GatherFirstFilesTest, NamedFilesAskFirstThenPickUpTheRestFromTheSameFolder) {
    test::TempDir dir;
    WriteFile(dir.path() / "main.src", "m");
    WriteFile(dir.path() / "util.src", "u");
    WriteFile(dir.path() / "secret.src", "s");
    WriteFile(dir.path() / "sub" / "inner.src", "i");
    WriteFile(dir.path() / "lib" / "deep" / "list.src", "l");
    const auto set = BuildRequiredFileSet(kTypes,
                                          "S,main.src,util.src,sub/inner.src,extra.src,../"
                                          "secret.src,lib\\deep\\list.src,..\\secret.src",
                                          0, "", 0, 0);
    ScriptedPrompts prompts;
    prompts.files = {(dir.path() / "main.src").string()};
    const auto entries = GatherFirstFiles(prompts, set);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 7u);
    EXPECT_EQ((*entries)[0]->content, "m");
    EXPECT_EQ((*entries)[1]->name, "util.src");
    EXPECT_EQ((*entries)[2]->name, "sub/inner.src");
    EXPECT_FALSE((*entries)[3]); // not there: left for the student to add
    EXPECT_FALSE((*entries)[4]); // outside the folder: never picked up
    ASSERT_TRUE((*entries)[5]);  // a backslash separates folders too
    EXPECT_EQ((*entries)[5]->name, "lib/deep/list.src");
    EXPECT_EQ((*entries)[5]->content, "l");
    EXPECT_FALSE((*entries)[6]); // outside the folder, written with backslashes
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text,
              "You must submit the following files:\n\tmain.src\n\tutil.src\n"
              "\tsub/inner.src\n\textra.src\n\t../secret.src\n\tlib\\deep\\list.src\n"
              "\t..\\secret.src\nYour files must already exist, with the file names exactly as "
              "specified.\n\nYou must select main.src first.");
    EXPECT_EQ(prompts.shown[0].buttons, Buttons::OkCancel);
    EXPECT_EQ(prompts.shown[0].icon, Icon::None); // shown with the exclamation icon
}

TEST(GatherFirstFilesTest, CancelledQuestionEndsBeforeAnyDialog) {
    const auto set = BuildRequiredFileSet(kTypes, "S,main.src", 0, "", 0, 0);
    ScriptedPrompts prompts;
    prompts.answers = {Answer::Cancel};
    EXPECT_FALSE(GatherFirstFiles(prompts, set));
    EXPECT_TRUE(prompts.fileRequests.empty());
}

TEST(GatherFirstFilesTest, SingleAndAnyFilesStartWithOneEntry) {
    test::TempDir dir;
    WriteFile(dir.path() / "x.txt", "x");
    for (const char* requirement : {"1,txt", "M,txt"}) {
        const auto set = BuildRequiredFileSet(kTypes, requirement, 0, "", 0, 0);
        ScriptedPrompts prompts;
        prompts.files = {(dir.path() / "x.txt").string()};
        const auto entries = GatherFirstFiles(prompts, set);
        ASSERT_TRUE(entries) << requirement;
        ASSERT_EQ(entries->size(), 1u);
        EXPECT_EQ((*entries)[0]->name, "x.txt");
        EXPECT_EQ((*entries)[0]->content, "x\r\n");
        EXPECT_TRUE(prompts.shown.empty());
    }
}

TEST(GatherFirstFilesTest, ProjectFolderReportsWhatItCouldNotUseOrFind) {
    test::TempDir dir;
    WriteFile(dir.path() / "p" / "a.src", "a");
    fs::create_symlink(dir.path() / "nothing", dir.path() / "p" / "broken.src");
    WriteFile(dir.path() / "empty" / "readme.doc", "d");
    const auto set = BuildRequiredFileSet(kTypes, "D", 0, "", 0, 0);

    ScriptedPrompts prompts;
    prompts.folders = {(dir.path() / "p").string(), (dir.path() / "empty").string()};
    const auto entries = GatherFirstFiles(prompts, set);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0]->name, "a.src");
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text,
              "These files could not be read and are left out of the submission:\n\tbroken.src\n");

    EXPECT_FALSE(GatherFirstFiles(prompts, set));
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[1].text, "No files of the correct type were found.");
    EXPECT_EQ(prompts.shown[1].buttons, Buttons::Ok);
    EXPECT_FALSE(GatherFirstFiles(prompts, set)); // folder dialog cancelled
    EXPECT_EQ(prompts.shown.size(), 2u);
}

TEST(GatherFirstFilesTest, PlainRelativeNames) {
    EXPECT_TRUE(IsPlainRelativeName("a.src"));
    EXPECT_TRUE(IsPlainRelativeName("lib/a.src"));
    EXPECT_TRUE(IsPlainRelativeName("..a.src"));
    EXPECT_FALSE(IsPlainRelativeName("/etc/passwd.src"));
    EXPECT_FALSE(IsPlainRelativeName("\\x.src"));
    EXPECT_FALSE(IsPlainRelativeName("../a.src"));
    EXPECT_FALSE(IsPlainRelativeName("lib/../../a.src"));
    EXPECT_FALSE(IsPlainRelativeName("lib\\..\\a.src"));
    EXPECT_FALSE(IsPlainRelativeName(""));
}

} // namespace
} // namespace tallyport
