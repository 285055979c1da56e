#include "web/MarkingJson.h"

#include "marking/Markup.h"
#include "marking/TextBlock.h"
#include "student/MarkedPackage.h"
#include "web/FlatJson.h"
#include "web/JsonText.h"
#include "web/Windows1252.h"

#include <algorithm>
#include <climits>
#include <semaphore>
#include <set>

namespace tallyport::server::staff {
namespace {

using nlohmann::json;

// Nesting depth of JSON text, strings skipped; counted before parsing so that no deep value is
// ever built.
std::size_t NestingDepth(std::string_view text) {
    std::size_t depth = 0, deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

struct Failure {
    std::string why;
    bool overLimit = false;
};

Failure OverLimit(std::string why) {
    return Failure{std::move(why), true};
}

using Value = FlatJson::Value;

// Every key of `object` must be one of `known`; of several unknown ones, the first in order is
// named.
void OnlyKnownFields(const Value& object, std::initializer_list<std::string_view> known,
                     std::string_view what) {
    if (!object.is_object())
        throw Failure{std::string(what) + " must be an object"};
    std::optional<std::string_view> unknown;
    for (Value key = object.First(); key; key = key.Next().Next())
        if (std::find(known.begin(), known.end(), key.string()) == known.end() &&
            (!unknown || key.string() < *unknown))
            unknown = key.string();
    if (unknown)
        throw Failure{std::string(what) + " has an unknown field \"" + std::string(*unknown) +
                      "\""};
}

Value Required(const Value& object, const char* field, std::string_view what) {
    const Value found = object.Find(field);
    if (!found)
        throw Failure{std::string(what) + " needs \"" + field + "\""};
    return found;
}

// What a message names: a field of `what`, or `what` itself. Built only for a refusal, so that a
// body taken whole costs no text per value.
std::string Name(std::string_view what, std::string_view field) {
    std::string name(what);
    if (!field.empty())
        name.append(" ").append(field);
    return name;
}

int64_t Integer(const Value& value, std::string_view what, int64_t low, int64_t high,
                std::string_view field = {}) {
    if (!value.is_integer())
        throw Failure{Name(what, field) + " must be a whole number"};
    const int64_t number =
        value.is_unsigned()
            ? int64_t(std::min<uint64_t>(value.unsigned_integer(), uint64_t(INT64_MAX)))
            : value.integer();
    if (number < low || number > high)
        throw Failure{Name(what, field) + " must be between " + std::to_string(low) + " and " +
                      std::to_string(high)};
    return number;
}

// A position or offset in page units, within kMaxCoordinate of the page's corner.
int32_t Coordinate(const Value& value, std::string_view what, std::string_view field) {
    const int64_t number = Integer(value, what, INT64_MIN, INT64_MAX, field);
    if (number < -kMaxCoordinate || number > kMaxCoordinate)
        throw OverLimit(Name(what, field) + " must be between " + std::to_string(-kMaxCoordinate) +
                        " and " + std::to_string(kMaxCoordinate));
    return int32_t(number);
}

int32_t Coordinate(const Value& object, const char* field, std::string_view what) {
    return Coordinate(Required(object, field, what), what, field);
}

std::string_view Text(const Value& value, std::string_view what, std::string_view field = {}) {
    if (!value.is_string())
        throw Failure{Name(what, field) + " must be a string"};
    return value.string();
}

// A comment text as the markup keeps it: Windows-1252, every line break ("\n", "\r\n" or a lone
// "\r") as CR BEL. Other control characters but the tab would not survive a markup line.
std::string CommentMarkupText(std::string_view utf8, std::string_view what,
                              std::string_view field) {
    std::string why;
    const auto bytes = Utf8ToWindows1252(utf8, &why);
    if (!bytes)
        throw Failure{Name(what, field) + ": " + why};
    std::string out;
    out.reserve(bytes->size());
    for (std::size_t i = 0; i < bytes->size(); ++i) {
        const char c = (*bytes)[i];
        if (c == '\r' || c == '\n') {
            out += "\r\a";
            if (c == '\r' && i + 1 < bytes->size() && (*bytes)[i + 1] == '\n')
                ++i;
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            char number[8];
            std::snprintf(number, sizeof number, "U+%04X", unsigned(c));
            throw Failure{Name(what, field) + ": the control character " + number +
                          " cannot be kept in a comment"};
        } else {
            out += c;
        }
    }
    return out;
}

// A stored comment text as the API shows it: CR BEL (or a lone BEL) as "\n", in UTF-8.
std::string CommentApiText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\a') {
            out += '\n';
            ++i;
        } else {
            out += text[i] == '\a' ? '\n' : text[i];
        }
    }
    return Windows1252ToUtf8(out);
}

void AppendNumbers(std::string& out, char tag, std::initializer_list<int64_t> values) {
    out += tag;
    for (const int64_t value : values) {
        out += ',';
        AppendJsonInteger(out, value);
    }
}

// The members an annotation's JSON ends with, after those that sort before "type" (the keys in
// the order nlohmann::json writes them, so that the answer is the read-back's bytes).
void AppendTypeAndPlace(std::string& answer, std::string_view type, int64_t width, int32_t x,
                        int32_t y) {
    answer.append(",\"type\":\"").append(type).append("\",\"width\":");
    AppendJsonInteger(answer, width);
    answer += ",\"x\":";
    AppendJsonInteger(answer, x);
    answer += ",\"y\":";
    AppendJsonInteger(answer, y);
    answer += '}';
}

// Each Append* adds the annotation's markup to `out`, and to `answer` its JSON as
// AnnotationsJson would read it back from that markup, so that a save can answer without
// reading it again.
void AppendComment(std::string& out, std::string& answer, const Value& item,
                   std::string_view what) {
    OnlyKnownFields(item, {"type", "x", "y", "width", "height", "text"}, what);
    const int32_t x = Coordinate(item, "x", what), y = Coordinate(item, "y", what);
    const std::string text =
        CommentMarkupText(Text(Required(item, "text", what), what, "text"), what, "text");
    const auto breaks = std::size_t(std::count(text.begin(), text.end(), '\a'));
    if (breaks + 1 > kMaxCommentLines || text.size() - 2 * breaks > kMaxCommentBytes)
        throw OverLimit(Name(what, "text") + " must be at most " +
                        std::to_string(kMaxCommentBytes) + " characters on at most " +
                        std::to_string(kMaxCommentLines) + " lines");
    const PageSize size = MeasureText(text, kCommentBreak, 1, kCommentTabWidth);
    AppendNumbers(out, 'C', {x, y, size.width, size.height});
    out.append(",").append(text).append("\r\n");
    answer += "{\"height\":";
    AppendJsonInteger(answer, size.height);
    answer += ",\"text\":";
    AppendJsonString(answer, CommentApiText(text));
    AppendTypeAndPlace(answer, "comment", size.width, x, y);
}

void AppendStroke(std::string& out, std::string& answer, const Value& item, std::string_view what) {
    OnlyKnownFields(item, {"type", "x", "y", "width", "height", "points"}, what);
    const int32_t x = Coordinate(item, "x", what), y = Coordinate(item, "y", what);
    const Value points = Required(item, "points", what);
    if (!points.is_array())
        throw Failure{Name(what, "points must be a list of [dx, dy] pairs")};
    if (points.size() > kMaxPointsPerStroke)
        throw OverLimit(Name(what, "must have at most ") + std::to_string(kMaxPointsPerStroke) +
                        " points");
    // The stroke's size is the extent of its points, whatever the page sent, as a comment's is
    // measured from its text.
    std::string pointLines, pointList;
    int64_t left = 0, right = 0, top = 0, bottom = 0;
    std::size_t i = 0;
    for (Value point = points.First(); point; point = point.Next(), ++i) {
        if (!point.is_array() || point.size() != 2)
            throw Failure{Name(what, "points must be [dx, dy] pairs")};
        const int64_t dx = Coordinate(point.First(), what, "dx");
        const int64_t dy = Coordinate(point.First().Next(), what, "dy");
        left = i == 0 ? dx : std::min(left, dx);
        right = i == 0 ? dx : std::max(right, dx);
        top = i == 0 ? dy : std::min(top, dy);
        bottom = i == 0 ? dy : std::max(bottom, dy);
        AppendNumbers(pointLines, 'P', {dx, dy});
        pointLines += "\r\n";
        pointList += i == 0 ? "[" : ",[";
        AppendJsonInteger(pointList, dx);
        pointList += ',';
        AppendJsonInteger(pointList, dy);
        pointList += ']';
    }
    AppendNumbers(out, 'L', {x, y, right - left, bottom - top});
    out.append("\r\n").append(pointLines).append("EOL\r\n");
    answer += "{\"height\":";
    AppendJsonInteger(answer, bottom - top);
    answer.append(",\"points\":[").append(pointList).append("]");
    AppendTypeAndPlace(answer, "stroke", right - left, x, y);
}

FileMarkupUpdate FileUpdate(const Value& file, std::size_t index) {
    const std::string what = "files[" + std::to_string(index) + "]";
    OnlyKnownFields(file, {"index", "name", "annotations"}, what);
    FileMarkupUpdate update;
    if (const Value index = file.Find("index"))
        update.index = std::size_t(Integer(index, what, 0, INT32_MAX, "index"));
    if (!update.index || file.Find("name"))
        update.name = Text(Required(file, "name", what), what, "name");
    const Value annotations = Required(file, "annotations", what);
    if (!annotations.is_array())
        throw Failure{what + " annotations must be a list"};
    if (annotations.size() > kMaxAnnotationsPerFile)
        throw OverLimit(what + " must have at most " + std::to_string(kMaxAnnotationsPerFile) +
                        " annotations");
    std::string markup;
    // About what a comment or a short stroke takes, so that the texts seldom grow again.
    markup.reserve(annotations.size() * 48);
    update.annotations.reserve(annotations.size() * 96);
    update.annotations = "[";
    std::string itemWhat = what + " annotation ";
    const std::size_t itemWhatStem = itemWhat.size();
    std::size_t i = 0;
    for (Value item = annotations.First(); item; item = item.Next(), ++i) {
        itemWhat.resize(itemWhatStem);
        itemWhat += std::to_string(i);
        if (!item.is_object())
            throw Failure{itemWhat + " must be an object"};
        if (i > 0)
            update.annotations += ',';
        const std::string_view type = Text(Required(item, "type", itemWhat), itemWhat, "type");
        if (type == "comment")
            AppendComment(markup, update.annotations, item, itemWhat);
        else if (type == "stroke")
            AppendStroke(markup, update.annotations, item, itemWhat);
        else
            throw Failure{itemWhat + " type must be \"comment\" or \"stroke\""};
    }
    update.annotations += ']';
    // The same check as markup given to `mark --annotations`.
    std::string why;
    auto normalised = NormaliseMarkup(markup, &why);
    if (!normalised)
        throw Failure{what + ": the annotations would not read back (" + why + ")"};
    update.markup = std::move(*normalised);
    return update;
}

// Lines of stored markup without their line ends, for the client's reader.
class MarkupLines : public LineSource {
public:
    explicit MarkupLines(std::string_view text) : text_(text) {}
    bool ReadLine(std::string& line) override {
        if (text_.empty())
            return false;
        const auto end = text_.find('\n');
        line = std::string(text_.substr(0, end));
        text_.remove_prefix(end == std::string_view::npos ? text_.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return true;
    }

private:
    std::string_view text_;
};

// A parsed body takes up to ten times its size: large ones are parsed a few at a time, so that
// sixteen bodies at the cap arriving at once cost two parses' memory, not sixteen.
class LargeParseSlot {
public:
    explicit LargeParseSlot(bool large) : large_(large) {
        if (large_)
            Slots().acquire();
    }
    ~LargeParseSlot() {
        if (large_)
            Slots().release();
    }
    LargeParseSlot(const LargeParseSlot&) = delete;
    LargeParseSlot& operator=(const LargeParseSlot&) = delete;

private:
    static constexpr std::ptrdiff_t kAtOnce = 2;
    static std::counting_semaphore<kAtOnce>& Slots() {
        static std::counting_semaphore<kAtOnce> slots(kAtOnce);
        return slots;
    }
    bool large_;
};

constexpr std::size_t kLargeJsonBody = 64 << 10;

// Builds the value as the library's own parse does, counting values as they come so that
// megabytes of tiny values are refused before they are all built. A plain handler: the parse with
// a per-value callback cost a quarter of a staff save's work.
class CountedJsonHandler : public nlohmann::detail::json_sax_dom_parser<json> {
public:
    explicit CountedJsonHandler(json& root) : json_sax_dom_parser(root) {}
    bool null() { return Count() && json_sax_dom_parser::null(); }
    bool boolean(bool value) { return Count() && json_sax_dom_parser::boolean(value); }
    bool number_integer(number_integer_t value) {
        return Count() && json_sax_dom_parser::number_integer(value);
    }
    bool number_unsigned(number_unsigned_t value) {
        return Count() && json_sax_dom_parser::number_unsigned(value);
    }
    bool number_float(number_float_t value, const string_t& text) {
        return Count() && json_sax_dom_parser::number_float(value, text);
    }
    bool string(string_t& value) { return Count() && json_sax_dom_parser::string(value); }
    bool binary(binary_t& value) { return Count() && json_sax_dom_parser::binary(value); }
    bool start_object(std::size_t size) {
        return Count() && json_sax_dom_parser::start_object(size);
    }
    bool start_array(std::size_t size) { return Count() && json_sax_dom_parser::start_array(size); }

private:
    bool Count() {
        if (++values_ > kMaxJsonValues)
            throw Failure{"the body holds more than " + std::to_string(kMaxJsonValues) + " values"};
        return true;
    }
    std::size_t values_ = 0;
};

} // namespace

std::optional<json> ParseJsonBody(std::string_view body, std::string& why) {
    if (NestingDepth(body) > kMaxJsonDepth) {
        why = "the body nests deeper than " + std::to_string(kMaxJsonDepth) + " levels";
        return std::nullopt;
    }
    const LargeParseSlot slot(body.size() > kLargeJsonBody);
    try {
        json parsed;
        CountedJsonHandler handler(parsed);
        json::sax_parse(body, &handler);
        return parsed;
    } catch (const Failure& failure) {
        why = failure.why;
        return std::nullopt;
    } catch (const json::exception& error) {
        why = std::string("the body is not JSON: ") + error.what();
        return std::nullopt;
    }
}

std::optional<MarkingUpdate> ParseMarkingUpdate(std::string_view body, std::string& why,
                                                bool* overLimit) {
    if (overLimit)
        *overLimit = false;
    const LargeParseSlot slot(body.size() > kLargeJsonBody);
    const auto parsed = FlatJson::Parse(body, {kMaxJsonValues, kMaxJsonDepth}, why);
    if (!parsed)
        return std::nullopt;
    try {
        const Value top = parsed->root();
        OnlyKnownFields(top, {"version", "mark", "detail", "files"}, "the marking");
        MarkingUpdate update;
        update.version = Integer(Required(top, "version", "the marking"), "version", 0, INT64_MAX);
        update.mark =
            int32_t(Integer(Required(top, "mark", "the marking"), "mark", INT32_MIN, INT32_MAX));
        if (const Value detail = top.Find("detail")) {
            std::string detailWhy;
            auto bytes = Utf8ToWindows1252(Text(detail, "detail"), &detailWhy);
            if (!bytes)
                throw Failure{"detail: " + detailWhy};
            if (bytes->size() > kMaxDetailBytes)
                throw OverLimit("the detail must be at most " + std::to_string(kMaxDetailBytes) +
                                " characters");
            update.detail = std::move(*bytes);
        }
        const Value files = Required(top, "files", "the marking");
        if (!files.is_array())
            throw Failure{"files must be a list"};
        std::set<std::string> names;
        std::set<std::size_t> indexes;
        std::size_t i = 0;
        for (Value item = files.First(); item; item = item.Next(), ++i) {
            update.files.push_back(FileUpdate(item, i));
            const FileMarkupUpdate& file = update.files.back();
            if (file.index ? !indexes.insert(*file.index).second : !names.insert(file.name).second)
                throw Failure{file.index
                                  ? "files gives index " + std::to_string(*file.index) + " twice"
                                  : "files names " + file.name + " twice"};
        }
        return update;
    } catch (const Failure& failure) {
        why = failure.why;
        if (overLimit)
            *overLimit = failure.overLimit;
    }
    return std::nullopt;
}

json AnnotationsJson(std::string_view markup) {
    json list = json::array();
    MarkupLines lines(markup);
    std::string line;
    while (lines.ReadLine(line)) {
        if (line.empty() || (line[0] != 'C' && line[0] != 'L'))
            continue;
        const auto annotation = ReadAnnotation(line, lines);
        if (!annotation)
            continue;
        json item = {{"x", annotation->x},
                     {"y", annotation->y},
                     {"width", annotation->width},
                     {"height", annotation->height}};
        if (const auto text = annotation->GetText()) {
            item["type"] = "comment";
            item["text"] = CommentApiText(*text);
        } else if (const auto* stroke = dynamic_cast<const LineNode*>(annotation.get())) {
            item["type"] = "stroke";
            // The reader chains points newest first; the API keeps the order they were drawn.
            json points = json::array();
            for (const PointNode* p = stroke->points.get(); p; p = p->next.get())
                points.push_back({p->x, p->y});
            std::reverse(points.begin(), points.end());
            item["points"] = std::move(points);
        }
        list.push_back(std::move(item));
    }
    return list;
}

} // namespace tallyport::server::staff
