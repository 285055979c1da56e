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
    char kind = 'A';   // 'A' assignment, 'E' exam (all files), 'D' exam (one half by selector)
    std::string label; // shown for sections
    std::optional<int64_t> opens;    // Unix seconds; none = open from the start
    std::optional<int64_t> deadline; // Unix seconds; none = no deadline
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

// True when `address` (dotted IPv4 text) is in the list: an exact address or an a.b.c.d/n
// network. An empty list allows every address.
bool AddressAllowed(const std::vector<std::string>& allowList, std::string_view address);
// True for an exact dotted IPv4 address or an a.b.c.d/n network with n from 0 to 32.
bool IsValidAllowPattern(std::string_view pattern);

} // namespace tallyport::server
