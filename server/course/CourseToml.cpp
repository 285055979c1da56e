#include "course/CourseToml.h"
#include "common/RelativePath.h"

#include <toml++/toml.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace tallyport::server {
namespace {

constexpr int64_t kMaxEntries = 10000;
constexpr int64_t kMaxExamFileSize = int64_t(64) << 20;

struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw Failure{where + ": " + what};
}

bool HasControl(std::string_view text, bool allowLineBreaks = false) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0 || (u < 0x20 && !(allowLineBreaks && (c == '\r' || c == '\n' || c == '\t'))))
            return true;
    }
    return false;
}

void CheckKeys(const toml::table& table, const std::set<std::string_view>& known,
               const std::string& where) {
    for (const auto& [key, value] : table)
        if (!known.contains(key.str()))
            Fail(where, "unknown key \"" + std::string(key.str()) + "\"");
}

std::string Text(const toml::node& node, const std::string& where) {
    const auto* text = node.as_string();
    if (!text)
        Fail(where, "must be a text");
    if (HasControl(text->get()))
        Fail(where, "must not hold control characters");
    return text->get();
}

int64_t Integer(const toml::node& node, const std::string& where, int64_t low, int64_t high) {
    const auto* value = node.as_integer();
    if (!value)
        Fail(where, "must be an integer");
    if (value->get() < low || value->get() > high)
        Fail(where, "must be from " + std::to_string(low) + " to " + std::to_string(high));
    return value->get();
}

bool Boolean(const toml::node& node, const std::string& where) {
    const auto* value = node.as_boolean();
    if (!value)
        Fail(where, "must be true or false");
    return value->get();
}

// A point in time: an offset date-time, a local date-time (taken in the server's time zone), or
// Unix seconds.
int64_t Time(const toml::node& node, const std::string& where) {
    if (const auto* seconds = node.as_integer())
        return seconds->get();
    const auto* moment = node.as_date_time();
    if (!moment)
        Fail(where, "must be a date and time (2025-03-01T23:59:00) or Unix seconds");
    const toml::date_time& dt = moment->get();
    std::tm parts{};
    parts.tm_year = dt.date.year - 1900;
    parts.tm_mon = dt.date.month - 1;
    parts.tm_mday = dt.date.day;
    parts.tm_hour = dt.time.hour;
    parts.tm_min = dt.time.minute;
    parts.tm_sec = dt.time.second;
    if (dt.offset) {
        return int64_t(timegm(&parts)) - int64_t(dt.offset->minutes) * 60;
    }
    parts.tm_isdst = -1;
    return int64_t(std::mktime(&parts));
}

std::vector<std::string> AllowList(const toml::node& node, const std::string& where) {
    const auto* array = node.as_array();
    if (!array)
        Fail(where, "must be a list of addresses or networks");
    std::vector<std::string> list;
    for (const auto& item : *array) {
        std::string pattern = Text(item, where);
        if (!IsValidAllowPattern(pattern))
            Fail(where, "\"" + pattern + "\" is not an IPv4 address or a.b.c.d/n network");
        list.push_back(std::move(pattern));
    }
    return list;
}

// A file name that stays inside the folder it is written to.
bool IsSafeRelativeName(std::string_view name) {
    if (name.empty() || name.front() == '/' || HasControl(name) ||
        name.find('\\') != std::string_view::npos || name.find(':') != std::string_view::npos)
        return false;
    return HasOnlyPlainSegments(name);
}

std::vector<ExamFile> ExamFiles(const toml::node& node, const std::filesystem::path& base,
                                const std::string& where) {
    const auto* array = node.as_array();
    if (!array)
        Fail(where, "must be a list of { name = ..., text = ... } or { name = ..., path = ... }");
    std::vector<ExamFile> files;
    for (std::size_t i = 0; i < array->size(); ++i) {
        const std::string at = where + "[" + std::to_string(i) + "]";
        const auto* table = (*array)[i].as_table();
        if (!table)
            Fail(at, "must be a table");
        CheckKeys(*table, {"name", "text", "path"}, at);
        ExamFile file;
        if (!table->contains("name"))
            Fail(at, "needs a name");
        file.name = Text(*table->get("name"), at + ".name");
        if (!IsSafeRelativeName(file.name))
            Fail(at + ".name", "must be a relative name without \"..\"");
        if (table->contains("text") == table->contains("path"))
            Fail(at, "needs either text or path");
        if (const auto* text = table->get("text")) {
            const auto* value = text->as_string();
            if (!value)
                Fail(at + ".text", "must be a text");
            file.bytes = value->get();
        } else {
            const std::filesystem::path path = base / Text(*table->get("path"), at + ".path");
            std::error_code error;
            const auto size = std::filesystem::file_size(path, error);
            if (error || size > uint64_t(kMaxExamFileSize))
                Fail(at + ".path", "cannot read " + path.string());
            std::ifstream in(path, std::ios::binary);
            file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!in && !in.eof())
                Fail(at + ".path", "cannot read " + path.string());
        }
        files.push_back(std::move(file));
    }
    return files;
}

const std::set<std::string_view> kEntryKeys = {
    "label",   "kind",     "opens",       "deadline",     "late_until", "marks_released",
    "status",  "types",    "requirement", "size_limited", "max_mark",   "selector",
    "allow",   "exam_files"};

// Applies the entry keys present in `table` onto `entry` (component defaults, then the entry).
void ApplyEntryKeys(const toml::table& table, EntryDefinition& entry,
                    std::vector<ExamFile>* examFiles, bool* hasExam,
                    const std::filesystem::path& base, const std::string& where) {
    for (const auto& [keyName, value] : table) {
        const std::string_view key = keyName.str();
        const std::string at = where + "." + std::string(key);
        if (key == "label") {
            entry.label = Text(value, at);
        } else if (key == "kind") {
            const std::string kind = Text(value, at);
            if (kind.size() != 1)
                Fail(at, "must be one letter");
            entry.kind = kind[0];
        } else if (key == "opens") {
            entry.opens = Time(value, at);
        } else if (key == "deadline") {
            entry.deadline = Time(value, at);
        } else if (key == "late_until") {
            entry.lateUntil = Time(value, at);
        } else if (key == "key") {
            entry.key = Text(value, at);
            if (!IsValidEntryKey(entry.key))
                Fail(at, "must start with a letter and hold only letters, digits, '-' and '_' "
                         "(at most 40)");
        } else if (key == "marks_released") {
            entry.marksReleased = Boolean(value, at);
        } else if (key == "status") {
            const std::string status = Text(value, at);
            if (status.size() != 1 ||
                std::string_view("OCMU").find(status[0]) == std::string_view::npos)
                Fail(at, "must be one of O, C, M, U");
            entry.statusOverride = status[0];
        } else if (key == "types") {
            entry.typeTable = Text(value, at);
        } else if (key == "requirement") {
            entry.requirement = Text(value, at);
        } else if (key == "size_limited") {
            entry.sizeLimited = Boolean(value, at);
        } else if (key == "max_mark") {
            entry.maxMark = int32_t(Integer(value, at, INT32_MIN, INT32_MAX));
        } else if (key == "selector") {
            if (value.is_string()) {
                if (Text(value, at) != "student")
                    Fail(at, "must be an integer or \"student\"");
                entry.examSelector.reset();
            } else {
                entry.examSelector = int32_t(Integer(value, at, INT32_MIN, INT32_MAX));
            }
        } else if (key == "allow") {
            entry.allowList = AllowList(value, at);
        } else if (key == "exam_files") {
            *examFiles = ExamFiles(value, base, at);
            *hasExam = true;
        }
    }
}

LoadedCourse ParseTable(const toml::table& root, const std::filesystem::path& folder) {
    CheckKeys(root, {"number", "name", "allow", "component"}, "course");
    LoadedCourse loaded;
    CourseDefinition& course = loaded.course;
    if (!root.contains("number") || !root.contains("name"))
        Fail("course", "needs a number and a name");
    course.number = int32_t(Integer(*root.get("number"), "number", 1, INT32_MAX));
    course.name = Text(*root.get("name"), "name");
    if (const auto* allow = root.get("allow"))
        course.allowList = AllowList(*allow, "allow");

    const toml::array* components = nullptr;
    if (const auto* node = root.get("component")) {
        components = node->as_array();
        if (!components)
            Fail("component", "must be a list of [[component]] tables");
    }
    if (components && components->size() > 3)
        Fail("component", "a course has at most three components");

    int64_t total = 0;
    for (std::size_t c = 0; components && c < components->size(); ++c) {
        const std::string where = "component[" + std::to_string(c) + "]";
        const auto* table = (*components)[c].as_table();
        if (!table)
            Fail(where, "must be a table");
        std::set<std::string_view> known = kEntryKeys;
        known.insert({"name", "elements", "sections", "entry"});
        known.erase("label");
        CheckKeys(*table, known, where);
        if (!table->contains("name") || !table->contains("elements") ||
            !table->contains("sections"))
            Fail(where, "needs name, elements and sections");
        ComponentDefinition component;
        component.name = Text(*table->get("name"), where + ".name");
        if (component.name.empty() || component.name.find_first_of("/,") != std::string::npos)
            Fail(where + ".name", "must be non-empty, without '/' or ','");
        component.elements =
            int32_t(Integer(*table->get("elements"), where + ".elements", 0, kMaxEntries));
        component.sections =
            int32_t(Integer(*table->get("sections"), where + ".sections", 0, kMaxEntries));
        const int64_t count = int64_t(component.elements) * component.sections;
        total += count;
        if (total > kMaxEntries)
            Fail(where, "too many entries (at most " + std::to_string(kMaxEntries) + ")");

        // Component-level keys are the defaults of its entries.
        toml::table defaults;
        for (const auto& [key, value] : *table)
            if (kEntryKeys.contains(key.str()))
                defaults.insert(key, value);
        EntryDefinition base;
        std::vector<ExamFile> baseExam;
        bool baseHasExam = false;
        ApplyEntryKeys(defaults, base, &baseExam, &baseHasExam, folder, where);

        const toml::array* entries = nullptr;
        if (const auto* node = table->get("entry")) {
            entries = node->as_array();
            if (!entries)
                Fail(where + ".entry", "must be a list of [[component.entry]] tables");
            if (int64_t(entries->size()) > count)
                Fail(where + ".entry",
                     "more entries than elements x sections (" + std::to_string(count) + ")");
        }
        for (int64_t i = 0; i < count; ++i) {
            EntryDefinition entry = base;
            const int32_t section = component.sections ? int32_t(i % component.sections) : 0;
            const int32_t element = component.sections ? int32_t(i / component.sections) : 0;
            entry.label = component.sections > 1
                              ? "Section " + std::to_string(section + 1)
                              : component.name + " " + std::to_string(element + 1);
            std::vector<ExamFile> exam = baseExam;
            bool hasExam = baseHasExam;
            if (entries && i < int64_t(entries->size())) {
                const std::string at = where + ".entry[" + std::to_string(i) + "]";
                const auto* entryTable = (*entries)[std::size_t(i)].as_table();
                if (!entryTable)
                    Fail(at, "must be a table");
                std::set<std::string_view> known = kEntryKeys;
                known.insert("key");
                CheckKeys(*entryTable, known, at);
                ApplyEntryKeys(*entryTable, entry, &exam, &hasExam, folder, at);
            }
            if (hasExam)
                loaded.examFiles.emplace_back(int32_t(course.entries.size()), std::move(exam));
            course.entries.push_back(std::move(entry));
        }
        course.components.push_back(std::move(component));
    }
    const auto defaults = DefaultEntryKeys(course.components);
    std::set<std::string> keys;
    for (std::size_t i = 0; i < course.entries.size(); ++i) {
        auto& entry = course.entries[i];
        if (entry.key.empty())
            entry.key = defaults[i];
        if (!keys.insert(entry.key).second)
            Fail("entry " + std::to_string(i), "the key \"" + entry.key +
                                                   "\" is given to two entries");
        if (entry.lateUntil && (!entry.deadline || *entry.lateUntil < *entry.deadline))
            Fail("entry " + entry.key, "late_until needs a deadline before it");
    }
    return loaded;
}

} // namespace

std::optional<LoadedCourse> ParseCourseToml(std::string_view text,
                                            const std::filesystem::path& baseFolder,
                                            std::string& error) {
    try {
        const toml::table root = toml::parse(text);
        return ParseTable(root, baseFolder);
    } catch (const toml::parse_error& parse) {
        error = "line " + std::to_string(parse.source().begin.line) + ": " +
                std::string(parse.description());
    } catch (const Failure& failure) {
        error = failure.message;
    }
    return std::nullopt;
}

std::optional<int64_t> ParseCourseTime(std::string_view text, std::string& error) {
    try {
        const toml::table root = toml::parse("t = " + std::string(text));
        return Time(*root.get("t"), "time");
    } catch (const toml::parse_error&) {
        error = "\"" + std::string(text) +
                "\" is not a date and time (2025-03-01T23:59:00Z) or Unix seconds";
    } catch (const Failure& failure) {
        error = failure.message;
    }
    return std::nullopt;
}

namespace {

toml::date_time UtcDateTime(int64_t seconds) {
    const time_t t = time_t(seconds);
    std::tm parts{};
    gmtime_r(&t, &parts);
    return toml::date_time{toml::date{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday},
                           toml::time{parts.tm_hour, parts.tm_min, parts.tm_sec},
                           toml::time_offset{}};
}

bool IsWritableText(std::string_view bytes) {
    if (HasControl(bytes, true))
        return false;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3
                                   : (c >> 3) == 30                ? 4
                                                                   : 0;
        if (length == 0 || i + length > bytes.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) >> 6) != 2)
                return false;
        i += length;
    }
    return true;
}

toml::array ListArray(const std::vector<std::string>& items) {
    toml::array array;
    for (const auto& item : items)
        array.push_back(item);
    return array;
}

} // namespace

std::string WriteCourseToml(const LoadedCourse& loaded, std::vector<std::string>* skipped) {
    const CourseDefinition& course = loaded.course;
    toml::table root{{"number", course.number}, {"name", course.name}};
    if (!course.allowList.empty())
        root.insert("allow", ListArray(course.allowList));
    toml::array components;
    std::size_t index = 0;
    for (const auto& component : course.components) {
        toml::table table{{"name", component.name},
                          {"elements", component.elements},
                          {"sections", component.sections}};
        toml::array entries;
        const std::size_t count = std::size_t(component.elements) * std::size_t(component.sections);
        for (std::size_t i = 0; i < count && index < course.entries.size(); ++i, ++index) {
            const auto& entry = course.entries[index];
            toml::table e{{"key", entry.key},
                          {"label", entry.label},
                          {"kind", std::string(1, entry.kind)},
                          {"marks_released", entry.marksReleased},
                          {"types", entry.typeTable},
                          {"requirement", entry.requirement},
                          {"size_limited", entry.sizeLimited},
                          {"max_mark", entry.maxMark}};
            if (entry.opens)
                e.insert("opens", UtcDateTime(*entry.opens));
            if (entry.deadline)
                e.insert("deadline", UtcDateTime(*entry.deadline));
            if (entry.lateUntil)
                e.insert("late_until", UtcDateTime(*entry.lateUntil));
            if (entry.statusOverride)
                e.insert("status", std::string(1, *entry.statusOverride));
            if (entry.examSelector)
                e.insert("selector", *entry.examSelector);
            else
                e.insert("selector", "student");
            if (!entry.allowList.empty())
                e.insert("allow", ListArray(entry.allowList));
            for (const auto& [position, files] : loaded.examFiles) {
                if (position != int32_t(index))
                    continue;
                toml::array exam;
                for (const auto& file : files) {
                    if (IsWritableText(file.bytes))
                        exam.push_back(toml::table{{"name", file.name}, {"text", file.bytes}});
                    else if (skipped)
                        skipped->push_back(entry.key + ": " + file.name);
                }
                e.insert("exam_files", std::move(exam));
            }
            entries.push_back(std::move(e));
        }
        table.insert("entry", std::move(entries));
        components.push_back(std::move(table));
    }
    root.insert("component", std::move(components));
    std::ostringstream out;
    out << toml::toml_formatter(root) << '\n';
    return out.str();
}

} // namespace tallyport::server
