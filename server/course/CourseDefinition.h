// What staff define for one course: its components, and for every entry its status inputs, kind
// letter, label, File List reply, maximum mark, exam selector rule and allow-list. Loaded from a
// TOML file (CourseToml.h) and kept by the Store.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::server {

struct ComponentDefinition {
    std::string name;
    int32_t elements = 0;
    int32_t sections = 0;
};

// How the exam selector sent to a student is chosen: a fixed value for everybody, or (none) one
// derived from the student number so that neighbouring numbers get different halves.
using ExamSelectorRule = std::optional<int32_t>;

struct EntryDefinition {
    // What the store keeps the entry's work under: named in the course file (or derived from
    // the component, element and section when it names none), so that reordering or inserting
    // entries never moves a submission, a marking or a release to another entry.
    std::string key;
    int32_t id = -1;   // the store's own number for the entry (never reused); -1 until stored
    char kind = 'A';   // 'A' assignment, 'E' exam (all files), 'D' exam (one half by selector)
    std::string label; // shown for sections
    std::optional<int64_t> opens;    // Unix seconds; none = open from the start
    std::optional<int64_t> deadline; // Unix seconds; none = no deadline
    // Uploads after the deadline (a student's own, extension included) are taken until then,
    // and counted late; none = no late window.
    std::optional<int64_t> lateUntil;
    bool marksReleased = false;
    std::optional<char> statusOverride; // 'O', 'C', 'M' or 'U' in place of the computed letter
    std::string typeTable;              // File List reply: type table text
    std::string requirement;            // File List reply: requirement text
    bool sizeLimited = false;           // File List reply: size-limit flag
    int32_t maxMark = 10;
    ExamSelectorRule examSelector;
    std::vector<std::string> allowList; // addresses or a.b.c.d/n networks; empty = anywhere
};

struct CourseDefinition {
    int32_t number = 0;
    std::string name;
    std::vector<ComponentDefinition> components; // at most 3
    // Component-major, element by element, each element's sections in order: exactly
    // sum(elements x sections) entries.
    std::vector<EntryDefinition> entries;
    std::vector<std::string> allowList; // applies to every entry, as well as the entry's own

    // "name,elements,sections" joined by "/": the components text of the Course List.
    std::string ComponentSpecification() const;
    int32_t ExpectedEntryCount() const;
};

// The status letter of an entry at time `now` (Unix seconds): the override if set; else 'U'
// before it opens, 'M' once marks are released, 'C' after the deadline, otherwise 'O'.
char EntryStatus(const EntryDefinition& entry, int64_t now);

// Whether one student may upload to an entry at `now`, given their own deadline (an extension)
// if they have one. Released marks close nothing: only the dates (and an override letter) do.
enum class UploadTime { Open, Late, NotYetOpen, Closed };
UploadTime CheckUploadTime(const EntryDefinition& entry, std::optional<int64_t> extension,
                           int64_t now);
// The deadline that applies to one student: their extension, else the entry's.
std::optional<int64_t> OwnDeadline(const EntryDefinition& entry, std::optional<int64_t> extension);
// How many seconds after the student's own deadline `time` is (0 when on time).
int64_t SecondsLate(const EntryDefinition& entry, std::optional<int64_t> extension, int64_t time);

// The exam selector sent to one student: the entry's fixed one, else 2 (first half of a divided
// exam) for an even student number and 3 (second half) for an odd one.
int32_t ExamSelector(const EntryDefinition& entry, int32_t student);

// Where the entry at `index` sits in its course: its component's name, its element (from 1) and
// how many sections each element of the component has.
struct EntryPlace {
    std::string component;
    int32_t element = 0;
    int32_t sections = 1;
};
EntryPlace EntryPlaceOf(const CourseDefinition& course, int32_t index);

// A key as a course file may name it: a letter, then letters, digits, '-' or '_', at most 40
// characters (so a key is never taken for an entry's position).
bool IsValidEntryKey(std::string_view key);
// The keys of entries that name none, one per entry in course order: the component's name in
// lower case with the element number, and the section number where there are several
// ("assignment-2", "lab-3-1"). A name used twice gets the component's number added.
std::vector<std::string> DefaultEntryKeys(const std::vector<ComponentDefinition>& components);

// True when `address` (dotted IPv4 text) is in the list: an exact address or an a.b.c.d/n
// network. An empty list allows every address.
bool AddressAllowed(const std::vector<std::string>& allowList, std::string_view address);
// True for an exact dotted IPv4 address or an a.b.c.d/n network with n from 0 to 32.
bool IsValidAllowPattern(std::string_view pattern);

} // namespace tallyport::server
