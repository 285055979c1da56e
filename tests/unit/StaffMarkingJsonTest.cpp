// The staff API's text and marking conversions: Unicode to Windows-1252 and back, and a JSON
// marking to the markup lines the student's client reads.
#include "marking/TextBlock.h"
#include "student/MarkedPackage.h"
#include "web/MarkingJson.h"
#include "web/Windows1252.h"

#include <gtest/gtest.h>

namespace tallyport::server::staff {
namespace {

using nlohmann::json;

TEST(StaffWindows1252, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all += char(byte);
    const auto back = Utf8ToWindows1252(Windows1252ToUtf8(all));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, all);
}

TEST(StaffWindows1252, TypographyMapsAndTheRestIsRefusedByName) {
    const struct {
        std::string utf8;
        std::optional<std::string> bytes;
        std::string why;
    } cases[] = {
        {"plain, text", "plain, text", ""},
        {"It\u2019s \u201Cfine\u201D \u2014 \u20AC5 \u2026 caf\u00E9",
         "It\x92s \x93"
         "fine\x94 \x97 \x80"
         "5 \x85 caf\xE9",
         ""},
        {"a \u2192 b", std::nullopt, "the character U+2192 (\u2192) has no Windows-1252 form"},
        {"\U0001F600", std::nullopt, "U+1F600"},
        {"\u0100", std::nullopt, "U+0100"},
        {"\xC3", std::nullopt, "not valid UTF-8"},         // cut short
        {"\xC0\xAF", std::nullopt, "not valid UTF-8"},     // overlong '/'
        {"\xED\xA0\x80", std::nullopt, "not valid UTF-8"}, // a surrogate
        {"\x92", std::nullopt, "not valid UTF-8"},         // already Windows-1252
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(Utf8ToWindows1252(c.utf8, &why), c.bytes) << c.utf8;
        if (!c.bytes)
            EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
}

// A PUT body with one file holding the given annotations.
std::string Body(const json& annotations, int mark = 5) {
    return json{{"version", 0},
                {"mark", mark},
                {"detail", "Good \u2014 mostly"},
                {"files", {{{"name", "a.c"}, {"annotations", annotations}}}}}
        .dump();
}

TEST(StaffMarkingJson, CommentsAreMeasuredAndStoredAsTheClientReadsThem) {
    const json annotations = {
        {{"type", "comment"}, {"x", 10}, {"y", 20}, {"text", "one\r\nthree\nlonger line"}},
        // Sent sizes are ignored: the server measures.
        {{"type", "comment"}, {"x", -5}, {"y", 0}, {"width", 1}, {"height", 1}, {"text", "\u2019"}},
        // So are a stroke's: its size is the extent of its points.
        {{"type", "stroke"},
         {"x", 100},
         {"y", 200},
         {"width", 3},
         {"height", 99999},
         {"points", {{0, 0}, {30, 40}, {-1, 2}}}},
    };
    std::string why;
    const auto update = ParseMarkingUpdate(Body(annotations), why);
    ASSERT_TRUE(update) << why;
    EXPECT_EQ(update->mark, 5);
    EXPECT_EQ(update->detail, "Good \x97 mostly");
    ASSERT_EQ(update->files.size(), 1u);
    const std::string expected = "C,10,20,110,30,one\r\athree\r\alonger line\r\n"
                                 "C,-5,0,10,10,\x92\r\n"
                                 "L,100,200,31,40\r\nP,0,0\r\nP,30,40\r\nP,-1,2\r\nEOL\r\n";
    EXPECT_EQ(update->files[0].markup, expected);
    EXPECT_EQ(MeasureText("one\r\athree\r\alonger line", kCommentBreak, 1, kCommentTabWidth),
              (PageSize{110, 30}));
    EXPECT_EQ(NormaliseMarkup(expected), expected);

    // Read back as the client reads it, the objects are those sent, with the measured sizes.
    json back = AnnotationsJson(update->files[0].markup);
    json sent = annotations;
    sent[0]["text"] = "one\nthree\nlonger line";
    sent[0]["width"] = 110;
    sent[0]["height"] = 30;
    sent[1]["width"] = 10;
    sent[1]["height"] = 10;
    sent[2]["width"] = 31;
    sent[2]["height"] = 40;
    EXPECT_EQ(back, sent);
    // A save answers with the annotations written as they were parsed: the read-back's very bytes.
    EXPECT_EQ(update->files[0].annotations, back.dump());
}

TEST(StaffMarkingJson, AnnotationsAnsweredMatchTheReadBackAtTheEdges) {
    const json annotations = {
        {{"type", "comment"}, {"x", 0}, {"y", 0}, {"text", ""}},
        {{"type", "comment"}, {"x", 1}, {"y", 1}, {"text", "\r\r\n\ttab, comma\n"}},
        // Every text that JSON escapes, and bytes beyond ASCII.
        {{"type", "comment"},
         {"x", 2},
         {"y", 2},
         {"text", "\"quoted\" back\\slash / caf\u00e9 \u2019 \u0081"}},
        {{"type", "stroke"}, {"x", -10000000}, {"y", 10000000}, {"points", json::array()}},
        {{"type", "stroke"}, {"x", 3}, {"y", 4}, {"points", {{10000000, -10000000}, {-10000000, 10000000}}}},
    };
    std::string why;
    const auto update = ParseMarkingUpdate(Body(annotations), why);
    ASSERT_TRUE(update) << why;
    ASSERT_EQ(update->files.size(), 1u);
    EXPECT_EQ(update->files[0].annotations, AnnotationsJson(update->files[0].markup).dump());
    EXPECT_EQ(json::parse(update->files[0].annotations).size(), 5u);
}

TEST(StaffMarkingJson, BadBodiesAreRefusedWithTheirReason) {
    const json comment = {{"type", "comment"}, {"x", 1}, {"y", 2}, {"text", "t"}};
    auto with = [&](const char* field, const json& value) {
        json item = comment;
        item[field] = value;
        return Body(json::array({item}));
    };
    const struct {
        std::string body;
        std::string why;
    } cases[] = {
        {"not json", "not JSON"},
        {"[1, 2]", "must be an object"},
        {std::string(40, '[') + std::string(40, ']'), "nests deeper"},
        {R"({"version": 0, "mark": 1, "files": [], "colour": "red"})", "unknown field \"colour\""},
        {R"({"mark": 1, "files": []})", "needs \"version\""},
        {R"({"version": -1, "mark": 1, "files": []})", "version must be between"},
        {R"({"version": 0, "mark": 1.5, "files": []})", "mark must be a whole number"},
        {R"({"version": 0, "mark": 1, "files": {}})", "files must be a list"},
        {R"({"version": 0, "mark": 1, "detail": "\u2192", "files": []})", "detail: the character"},
        {json{{"version", 0},
              {"mark", 1},
              {"files",
               {{{"name", "a"}, {"annotations", json::array()}},
                {{"name", "a"}, {"annotations", json::array()}}}}}
             .dump(),
         "twice"},
        {with("x", 4294967296LL), "x must be between"},
        {with("x", 1.5), "x must be a whole number"},
        {with("text", 7), "text must be a string"},
        {with("text", "tab\tok but bell \a not"), "control character U+0007"},
        {with("text", "\u2192"), "U+2192"},
        {with("type", "circle"), "\"comment\" or \"stroke\""},
        {with("points", json::array()), "unknown field \"points\""},
        {Body({{{"type", "stroke"}, {"x", 0}, {"y", 0}, {"width", 1}, {"height", 1}}}),
         "needs \"points\""},
        {Body({{{"type", "stroke"},
                {"x", 0},
                {"y", 0},
                {"width", 1},
                {"height", 1},
                {"points", {{1, 2, 3}}}}}),
         "[dx, dy] pairs"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_FALSE(ParseMarkingUpdate(c.body, why)) << c.body;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.body << " -> " << why;
    }
}

// Each limit of a marking: a body at the limit is taken, one beyond it is refused as over the
// limit (422), naming it.
TEST(StaffMarkingJson, MarkingsAreTakenUpToEachLimitAndRefusedBeyondIt) {
    auto comment = [](const std::string& text, int64_t x = 0) {
        return json{{"type", "comment"}, {"x", x}, {"y", 0}, {"text", text}};
    };
    auto stroke = [](std::size_t points) {
        json list = json::array();
        for (std::size_t i = 0; i < points; ++i)
            list.push_back({int(i % 7), int(i % 5)});
        return json{{"type", "stroke"}, {"x", 0}, {"y", 0}, {"points", list}};
    };
    auto lines = [](std::size_t count) {
        std::string text = "a";
        for (std::size_t i = 1; i < count; ++i)
            text += "\na";
        return text;
    };
    auto many = [&](std::size_t count) {
        return Body(json(std::vector<json>(count, comment("x"))));
    };
    auto detail = [](std::size_t length) {
        return json{{"version", 0},
                    {"mark", 1},
                    {"detail", std::string(length, 'd')},
                    {"files", json::array()}}
            .dump();
    };
    const struct {
        std::string atLimit, beyond, why;
    } cases[] = {
        {many(kMaxAnnotationsPerFile), many(kMaxAnnotationsPerFile + 1),
         "at most 1000 annotations"},
        {Body(json::array({stroke(kMaxPointsPerStroke)})),
         Body(json::array({stroke(kMaxPointsPerStroke + 1)})), "at most 5000 points"},
        {Body(json::array({comment(lines(kMaxCommentLines))})),
         Body(json::array({comment(lines(kMaxCommentLines + 1))})), "on at most 100 lines"},
        {Body(json::array({comment(std::string(kMaxCommentBytes, 'c'))})),
         Body(json::array({comment(std::string(kMaxCommentBytes + 1, 'c'))})),
         "at most 4000 characters"},
        {detail(kMaxDetailBytes), detail(kMaxDetailBytes + 1), "detail must be at most 10000"},
        {Body(json::array({comment("x", kMaxCoordinate)})),
         Body(json::array({comment("x", kMaxCoordinate + 1)})),
         "x must be between -10000000 and 10000000"},
    };
    for (const auto& c : cases) {
        std::string why;
        bool overLimit = true;
        EXPECT_TRUE(ParseMarkingUpdate(c.atLimit, why, &overLimit)) << c.why << ": " << why;
        EXPECT_FALSE(overLimit);
        EXPECT_FALSE(ParseMarkingUpdate(c.beyond, why, &overLimit)) << c.why;
        EXPECT_TRUE(overLimit) << c.why;
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
    // A malformed body is not over a limit.
    std::string why;
    bool overLimit = true;
    EXPECT_FALSE(ParseMarkingUpdate("not json", why, &overLimit));
    EXPECT_FALSE(overLimit);
}

} // namespace
} // namespace tallyport::server::staff
