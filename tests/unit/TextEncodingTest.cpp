// 8-bit text: the Windows-1252 table both ways, strict UTF-8, and the rule that picks one of them
// for text of unknown origin.
#include "protocol/EightBitText.h"
#include "protocol/Utf8.h"
#include "protocol/Windows1252.h"

#include <gtest/gtest.h>

#include <set>

namespace tallyport {
namespace {

constexpr uint8_t kUndefined[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

TEST(Windows1252, KnownBytesAndTheFiveUndefinedOnes) {
    const struct {
        uint8_t byte;
        char32_t character;
    } known[] = {{0x00, 0x0000}, {0x41, 0x0041}, {0x7F, 0x007F}, {0x80, 0x20AC}, {0x82, 0x201A},
                 {0x85, 0x2026}, {0x8A, 0x0160}, {0x91, 0x2018}, {0x92, 0x2019}, {0x93, 0x201C},
                 {0x94, 0x201D}, {0x96, 0x2013}, {0x97, 0x2014}, {0x99, 0x2122}, {0x9F, 0x0178},
                 {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF}};
    for (const auto& k : known) {
        SCOPED_TRACE(int(k.byte));
        EXPECT_EQ(Windows1252ToUnicode(k.byte), k.character);
        EXPECT_EQ(UnicodeToWindows1252(k.character), k.byte);
    }
    for (const uint8_t byte : kUndefined)
        EXPECT_EQ(Windows1252ToUnicode(byte), std::nullopt) << int(byte);
}

// Both directions agree over every byte and every code point: the 251 characters map back to
// their bytes and nothing else maps at all (not the C1 controls, not the replacement character).
TEST(Windows1252, BothDirectionsAgreeEverywhere) {
    std::set<char32_t> held;
    for (int byte = 0; byte < 256; ++byte) {
        const auto character = Windows1252ToUnicode(uint8_t(byte));
        if (!character)
            continue;
        EXPECT_TRUE(held.insert(*character).second) << byte;
        EXPECT_EQ(UnicodeToWindows1252(*character), uint8_t(byte)) << byte;
    }
    EXPECT_EQ(held.size(), 251u);
    int mapped = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        const auto byte = UnicodeToWindows1252(c);
        if (byte) {
            ++mapped;
            EXPECT_EQ(Windows1252ToUnicode(*byte), c);
        }
    }
    EXPECT_EQ(mapped, 251);
    for (const char32_t refused : {char32_t(0x81), char32_t(0x9D), char32_t(0x100),
                                   kReplacementCharacter, char32_t(0x1F600)})
        EXPECT_EQ(UnicodeToWindows1252(refused), std::nullopt) << uint32_t(refused);
}

TEST(Windows1252, WholeTexts) {
    EXPECT_EQ(Windows1252ToUtf8("\x93ok\x94 \x80"
                                "5 caf\xE9"),
              "\u201Cok\u201D \u20AC"
              "5 caf\u00E9");
    EXPECT_EQ(Windows1252ToUtf8(std::string_view("a\x81\0b", 4)), std::string("a\uFFFD\0b", 6));
    EXPECT_EQ(Windows1252ToUtf8(""), "");
    EXPECT_EQ(Utf8ToWindows1252("\u201Cok\u201D \u20AC"
                                "5 caf\u00E9"),
              "\x93ok\x94 \x80"
              "5 caf\xE9");
    EXPECT_EQ(Utf8ToWindows1252(""), "");
    EXPECT_EQ(Utf8ToWindows1252("arrow \u2192"), std::nullopt);  // not in the set
    EXPECT_EQ(Utf8ToWindows1252("half \xE2\x82"), std::nullopt); // cut short
    EXPECT_EQ(Utf8ToWindows1252("latin-1 \xE9"), std::nullopt);  // not UTF-8
    EXPECT_EQ(Utf8ToWindows1252("\uFFFD"), std::nullopt);
}

TEST(Utf8, DecodesOnlyTheShortestValidForms) {
    const struct {
        std::string_view bytes;
        std::optional<char32_t> character; // of the first character
        std::size_t length;
    } cases[] = {
        {"A", U'A', 1},
        {"\xC3\xA9!", U'\u00E9', 2},
        {"\xE2\x82\xAC", U'\u20AC', 3},
        {"\xF0\x9F\x98\x80", U'\U0001F600', 4},
        {"\xF4\x8F\xBF\xBF", char32_t(0x10FFFF), 4},
        {"\xEF\xBF\xBF", char32_t(0xFFFF), 3},
        {"\xC0\xAF", std::nullopt, 0},         // overlong "/"
        {"\xE0\x80\xAF", std::nullopt, 0},     // overlong again
        {"\xF0\x82\x82\xAC", std::nullopt, 0}, // overlong euro
        {"\xED\xA0\x80", std::nullopt, 0},     // a surrogate
        {"\xF4\x90\x80\x80", std::nullopt, 0}, // above U+10FFFF
        {"\xF8\x88\x80\x80\x80", std::nullopt, 0},
        {"\x80", std::nullopt, 0}, // a stray continuation byte
        {"\xC3", std::nullopt, 0}, // cut short
        {"\xE2\x82", std::nullopt, 0},
        {"\xC3(", std::nullopt, 0}, // no continuation
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
        const auto decoded = DecodeUtf8(c.bytes);
        ASSERT_EQ(decoded.has_value(), c.character.has_value());
        if (decoded) {
            EXPECT_EQ(decoded->codePoint, *c.character);
            EXPECT_EQ(decoded->length, c.length);
            std::string encoded;
            AppendUtf8(encoded, *c.character);
            EXPECT_EQ(encoded, c.bytes.substr(0, c.length));
        }
    }
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain \u00E9\u20AC\U0001F600"));
    EXPECT_FALSE(IsValidUtf8("plain \xE9"));
    EXPECT_FALSE(IsValidUtf8("cut \xF0\x9F\x98"));
    EXPECT_EQ(CountUtf8Characters("a\u00E9\u20AC\U0001F600"), 4u);
    EXPECT_EQ(Utf8ToUtf16("a\u00E9\U0001F600"), u"a\u00E9\U0001F600");
    std::string replaced;
    AppendUtf8(replaced, char32_t(0xD800));
    EXPECT_EQ(replaced, "\uFFFD");
}

TEST(EightBitText, Utf8WhenValidBeyondAsciiElseWindows1252) {
    const struct {
        std::string_view bytes;
        TextEncoding encoding;
        std::string utf8;
    } cases[] = {
        {"plain", TextEncoding::Windows1252, "plain"},
        {"", TextEncoding::Windows1252, ""},
        {"caf\xC3\xA9", TextEncoding::Utf8, "caf\u00E9"},
        {"caf\xE9", TextEncoding::Windows1252, "caf\u00E9"},
        {"\x93q\x94", TextEncoding::Windows1252, "\u201Cq\u201D"},
        {"\xC3\xA9 and \xE9", TextEncoding::Windows1252, "\u00C3\u00A9 and \u00E9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.bytes));
        EXPECT_EQ(EncodingOf(c.bytes), c.encoding);
        EXPECT_EQ(EightBitTextToUtf8(c.bytes), c.utf8);
    }
    // A message may mix a name from the disk (UTF-8) with 8-bit text from the server: each
    // well-formed sequence is taken as UTF-8, each other byte as Windows-1252.
    EXPECT_EQ(MixedTextToUtf8("\xC3\x9C"
                              "bung by Ren\xE9"
                              "e \x93\x81\x94"),
              "\u00DC"
              "bung by Ren\u00E9"
              "e \u201C\uFFFD\u201D");
}

} // namespace
} // namespace tallyport
