#include "submission/RequiredFileSet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tallyport {
namespace {

TEST(RequiredFileSetTest, TypeTableRunsLastFirstAndLooksUpWithoutCase) {
    const auto set = BuildRequiredFileSet("Source,src,A,4/Text,txt,T", "M,src,txt", 0, "pw", 1, 2);
    ASSERT_EQ(set.types.size(), 2u);
    EXPECT_EQ(set.types[0].description, "Text");
    EXPECT_EQ(set.types[1].description, "Source");

    const FileType* source = set.FindFileType("SRC");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->description, "Source");
    EXPECT_EQ(set.TypeTabWidth("SRC"), 4);
    EXPECT_EQ(set.TypeContentKind("Src"), ContentKind::Ascii);
    EXPECT_EQ(set.TypeContentKind("txt"), ContentKind::Normalised);
    EXPECT_EQ(set.TypeTabWidth("txt"), 8);
    EXPECT_EQ(set.TypeFilter("src"), "Source Files (*.src)|*.src|All Files (*.*)|*.*||");
    EXPECT_EQ(set.combinedFilter,
              "Text Files (*.txt)|*.txt|Source Files (*.src)|*.src|All Files (*.*)|*.*||");

    // Unknown extensions take the defaults.
    EXPECT_EQ(set.FindFileType("c"), nullptr);
    EXPECT_EQ(set.TypeTabWidth("c"), 8);
    EXPECT_EQ(set.TypeContentKind("c"), ContentKind::Ascii);
    EXPECT_EQ(set.TypeFilter("c"), "All Files (*.*)|*.*||");
    EXPECT_EQ(set.TypeFilter(""), "All Files (*.*)|*.*||");
}

struct TypeCase {
    const char* table;
    std::string description;
    std::string extension;
    ContentKind kind;
    int32_t tabWidth;
    std::string filterOne;
};

TEST(RequiredFileSetTest, TypeEntriesSkipEmptyFieldsAndTakeDefaults) {
    const TypeCase cases[] = {
        // An empty field is skipped, so the next one takes its place.
        {"Source,,B,2", "Source", "B", ContentKind::Normalised, 8, "Source Files (*.B)|*.B|"},
        {"Doc", "Doc", "*", ContentKind::Ascii, 8, "Doc Files (*.*)|*.*|"},
        {",,,", "", "*", ContentKind::Ascii, 8, " Files (*.*)|*.*|"},
        {"Bin,bin,B", "Bin", "bin", ContentKind::NonAscii, 8, "Bin Files (*.bin)|*.bin|"},
        {"//Text,txt,,Free,3//", "Text", "txt", ContentKind::Normalised, 3,
         "Text Files (*.txt)|*.txt|"},
        // The letter counts by its first character; the tab width by its leading number.
        {"Ad,ad,Apple,12abc", "Ad", "ad", ContentKind::Ascii, 12, "Ad Files (*.ad)|*.ad|"},
        {"No,no,B,wide", "No", "no", ContentKind::NonAscii, 0, "No Files (*.no)|*.no|"},
        {"Neg,ng,A, -3", "Neg", "ng", ContentKind::Ascii, -3, "Neg Files (*.ng)|*.ng|"},
        {"Big,bg,A,99999999999", "Big", "bg", ContentKind::Ascii, 2147483647,
         "Big Files (*.bg)|*.bg|"},
        // Fields after the fourth are ignored; nothing is trimmed.
        {"Five,fv,A,4,junk", "Five", "fv", ContentKind::Ascii, 4, "Five Files (*.fv)|*.fv|"},
        {"Sp, src", "Sp", " src", ContentKind::Ascii, 8, "Sp Files (*. src)|*. src|"},
    };
    for (const TypeCase& c : cases) {
        SCOPED_TRACE(c.table);
        const std::vector<FileType> types = ParseTypeTable(c.table);
        ASSERT_EQ(types.size(), 1u);
        EXPECT_EQ(types[0].description, c.description);
        EXPECT_EQ(types[0].extension, c.extension);
        EXPECT_EQ(types[0].contentKind, c.kind);
        EXPECT_EQ(types[0].tabWidth, c.tabWidth);
        EXPECT_EQ(types[0].filterOne, c.filterOne);
        EXPECT_EQ(types[0].filterFull, c.filterOne + "All Files (*.*)|*.*||");
    }
}

TEST(RequiredFileSetTest, SpaceInATypeFieldDoesNotMatch) {
    const auto set = BuildRequiredFileSet("Source, src,A,4", "M", 0, "", 0, 0);
    EXPECT_EQ(set.FindFileType("src"), nullptr);
    EXPECT_NE(set.FindFileType(" SRC"), nullptr);
}

TEST(RequiredFileSetTest, LaterEntryWithTheSameExtensionWins) {
    const auto set = BuildRequiredFileSet("One,src,A,2/Two,SRC,B,5", "M", 0, "", 0, 0);
    const FileType* type = set.FindFileType("src");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->description, "Two");
    EXPECT_EQ(set.TypeContentKind("src"), ContentKind::NonAscii);
    EXPECT_EQ(set.combinedFilter,
              "Two Files (*.SRC)|*.SRC|One Files (*.src)|*.src|All Files (*.*)|*.*||");
}

TEST(RequiredFileSetTest, EmptyTypeTableGivesDefaultsEverywhere) {
    for (const char* table : {"", "/", "///"}) {
        SCOPED_TRACE(table);
        const auto set = BuildRequiredFileSet(table, "M", 0, "", 0, 0);
        EXPECT_TRUE(set.types.empty());
        EXPECT_EQ(set.combinedFilter, "All Files (*.*)|*.*||");
        EXPECT_EQ(set.TypeTabWidth("src"), 8);
        EXPECT_EQ(set.TypeContentKind("src"), ContentKind::Ascii);
    }
}

struct RequirementCase {
    const char* text;
    RequirementKind kind;
    std::vector<std::string> names;
    std::vector<std::string> extensions;
};

TEST(RequiredFileSetTest, RequirementTexts) {
    using K = RequirementKind;
    const RequirementCase cases[] = {
        {"", K::SingleFile, {}, {}},
        {"S", K::NamedFiles, {}, {}},
        {"S,", K::NamedFiles, {}, {}},
        {"M,", K::AnyFiles, {}, {}},
        {"D", K::ProjectFolder, {}, {}},
        {"D,src", K::ProjectFolder, {}, {"src"}},
        {"X,src", K::SingleFile, {}, {"src"}},
        {"s,a.src", K::SingleFile, {"a.src"}, {"src"}}, // the letter is case-sensitive
        {"M,src,txt", K::AnyFiles, {}, {"src", "txt"}},
        {"S,main.src,util.src", K::NamedFiles, {"main.src", "util.src"}, {"src", "src"}},
        {"S,main.src,,util.src", K::NamedFiles, {"main.src", "util.src"}, {"src", "src"}},
        {"S,main.src, util.src", K::NamedFiles, {"main.src", " util.src"}, {"src", "src"}},
        {"S,,main.src,", K::NamedFiles, {"main.src"}, {"src"}},
        {"S,a.b.c", K::NamedFiles, {"a.b.c"}, {"b.c"}},
        {"S,lib/list.src,txt", K::NamedFiles, {"lib/list.src"}, {"src", "txt"}},
        // The second character is skipped unread, whatever it is.
        {"S;main.src", K::NamedFiles, {"main.src"}, {"src"}},
        {"Mxsrc", K::AnyFiles, {}, {"src"}},
        {"Ma", K::AnyFiles, {}, {}},
    };
    for (const RequirementCase& c : cases) {
        SCOPED_TRACE(c.text);
        const auto set = BuildRequiredFileSet("", c.text, 0, "", 0, 0);
        EXPECT_EQ(set.kind, c.kind);
        EXPECT_EQ(set.names, c.names);
        EXPECT_EQ(set.extensions, c.extensions);
        EXPECT_EQ(set.nameCount(), int32_t(c.names.size()));
        EXPECT_EQ(set.extensionCount(), int32_t(c.extensions.size()));
    }
}

TEST(RequiredFileSetTest, PermittedExtensions) {
    const auto listed = BuildRequiredFileSet("", "M,src,txt", 0, "", 0, 0);
    EXPECT_TRUE(listed.IsExtensionPermitted("src"));
    EXPECT_TRUE(listed.IsExtensionPermitted("TXT"));
    EXPECT_FALSE(listed.IsExtensionPermitted("c"));
    EXPECT_FALSE(listed.IsExtensionPermitted(""));

    for (const char* open : {"D", "S", "M,"}) {
        const auto set = BuildRequiredFileSet("", open, 0, "", 0, 0);
        EXPECT_TRUE(set.IsExtensionPermitted("anything")) << open;
        EXPECT_TRUE(set.IsExtensionPermitted("")) << open;
    }
}

TEST(RequiredFileSetTest, ReplyFieldsAndSelectionAreKept) {
    const auto set = BuildRequiredFileSet("", "D", 7, "secret", 100123456, 5);
    EXPECT_TRUE(set.sizeLimited);
    EXPECT_EQ(set.password, "secret");
    EXPECT_EQ(set.studentNumber, 100123456);
    EXPECT_EQ(set.entryIndex, 5);
    EXPECT_FALSE(BuildRequiredFileSet("", "D", 0, "", 0, 0).sizeLimited);
    EXPECT_TRUE(BuildRequiredFileSet("", "D", -1, "", 0, 0).sizeLimited);
}

TEST(RequiredFileSetTest, ExtensionIsAfterTheLastDotOfTheLastComponent) {
    EXPECT_EQ(ExtensionOf("main.src"), "src");
    EXPECT_EQ(ExtensionOf("a.b.c"), "c");
    EXPECT_EQ(ExtensionOf("lib/list.src"), "src");
    EXPECT_EQ(ExtensionOf("Makefile"), "");
    EXPECT_EQ(ExtensionOf("lib.d/Makefile"), "");
    EXPECT_EQ(ExtensionOf("dir\\x.TXT"), "TXT");
    EXPECT_EQ(ExtensionOf("trailing."), "");
}

} // namespace
} // namespace tallyport
