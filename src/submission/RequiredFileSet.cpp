#include "submission/RequiredFileSet.h"

#include <algorithm>
#include <climits>
#include <iterator>

namespace tallyport {
namespace {

// Splits `text` at `separator`, skipping empty pieces, and hands each piece to `take` until it
// returns false.
template <typename Take> void ForEachPiece(std::string_view text, char separator, Take take) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start && !take(text.substr(start, end - start)))
            return;
        start = end + 1;
    }
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The decimal number at the start of a field, as atoi reads it (saturating, never overflowing).
int32_t LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return int32_t(negative ? -value : value);
}

ContentKind KindFromLetter(char letter) {
    switch (letter) {
    case 'A':
        return ContentKind::Ascii;
    case 'B':
        return ContentKind::NonAscii;
    default:
        return ContentKind::Normalised;
    }
}

FileType ParseTypeEntry(std::string_view entry) {
    std::string_view fields[4] = {"", "*", "A", "8"};
    int count = 0;
    ForEachPiece(entry, ',', [&](std::string_view field) {
        fields[count++] = field;
        return count < 4;
    });
    FileType type;
    type.description = std::string(fields[0]);
    type.extension = std::string(fields[1]);
    type.contentKind = KindFromLetter(fields[2].front());
    type.tabWidth = LeadingNumber(fields[3]);
    type.filterOne =
        type.description + " Files (*." + type.extension + ")|*." + type.extension + "|";
    type.filterFull = type.filterOne + std::string(kAllFilesFilter);
    return type;
}

} // namespace

char PackageLetter(ContentKind kind) {
    switch (kind) {
    case ContentKind::Ascii:
        return 'A';
    case ContentKind::NonAscii:
        return 'B';
    case ContentKind::Normalised:
        break;
    }
    return 'F';
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

std::string_view ExtensionOf(std::string_view name) {
    const std::size_t separator = name.find_last_of("/\\");
    if (separator != std::string_view::npos)
        name = name.substr(separator + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

std::vector<FileType> ParseTypeTable(std::string_view text) {
    std::vector<FileType> inTextOrder;
    ForEachPiece(text, '/', [&](std::string_view entry) {
        inTextOrder.push_back(ParseTypeEntry(entry));
        return true;
    });
    // Each entry went to the head of the list: the list runs last-first.
    return {std::make_move_iterator(inTextOrder.rbegin()),
            std::make_move_iterator(inTextOrder.rend())};
}

std::string CombinedFilter(const std::vector<FileType>& types) {
    std::string filter;
    for (const FileType& type : types)
        filter += type.filterOne;
    return filter + std::string(kAllFilesFilter);
}

void ParseRequirement(std::string_view text, RequiredFileSet& set) {
    set.names.clear();
    set.extensions.clear();
    const char letter = text.empty() ? '\0' : text.front();
    set.kind = letter == 'M'   ? RequirementKind::AnyFiles
               : letter == 'S' ? RequirementKind::NamedFiles
               : letter == 'D' ? RequirementKind::ProjectFolder
                               : RequirementKind::SingleFile;
    if (text.size() <= 2)
        return;
    // The second character (normally ",") is skipped unread.
    ForEachPiece(text.substr(2), ',', [&](std::string_view entry) {
        const std::size_t dot = entry.find('.');
        if (dot == std::string_view::npos) {
            set.extensions.emplace_back(entry);
        } else {
            set.names.emplace_back(entry);
            set.extensions.emplace_back(entry.substr(dot + 1));
        }
        return true;
    });
}

RequiredFileSet BuildRequiredFileSet(std::string_view typeTable, std::string_view requirement,
                                     int32_t sizeFlag, std::string password, int32_t studentNumber,
                                     int32_t entryIndex) {
    RequiredFileSet set;
    set.password = std::move(password);
    set.studentNumber = studentNumber;
    set.entryIndex = entryIndex;
    set.sizeLimited = sizeFlag != 0;
    ParseRequirement(requirement, set);
    set.types = ParseTypeTable(typeTable);
    set.combinedFilter = CombinedFilter(set.types);
    return set;
}

const FileType* RequiredFileSet::FindFileType(std::string_view extension) const {
    for (const FileType& type : types) {
        if (EqualsIgnoringCase(type.extension, extension))
            return &type;
    }
    return nullptr;
}

int32_t RequiredFileSet::TypeTabWidth(std::string_view extension) const {
    const FileType* type = FindFileType(extension);
    return type ? type->tabWidth : 8;
}

ContentKind RequiredFileSet::TypeContentKind(std::string_view extension) const {
    const FileType* type = FindFileType(extension);
    return type ? type->contentKind : ContentKind::Ascii;
}

std::string RequiredFileSet::TypeFilter(std::string_view extension) const {
    const FileType* type = FindFileType(extension);
    return type ? type->filterFull : std::string(kAllFilesFilter);
}

bool RequiredFileSet::IsExtensionPermitted(std::string_view extension) const {
    if (extensions.empty())
        return true;
    for (const std::string& permitted : extensions) {
        if (EqualsIgnoringCase(permitted, extension))
            return true;
    }
    return false;
}

} // namespace tallyport
