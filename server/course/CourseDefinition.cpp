#include "course/CourseDefinition.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

namespace tallyport::server {

std::string CourseDefinition::ComponentSpecification() const {
    std::string text;
    for (const auto& component : components) {
        if (!text.empty())
            text += '/';
        text += component.name + ',' + std::to_string(component.elements) + ',' +
                std::to_string(component.sections);
    }
    return text;
}

int32_t CourseDefinition::ExpectedEntryCount() const {
    int64_t count = 0;
    for (const auto& component : components)
        count += int64_t(component.elements) * component.sections;
    return count > INT32_MAX ? INT32_MAX : int32_t(count);
}

char EntryStatus(const EntryDefinition& entry, int64_t now) {
    if (entry.statusOverride)
        return *entry.statusOverride;
    if (entry.opens && now < *entry.opens)
        return 'U';
    if (entry.marksReleased)
        return 'M';
    if (entry.deadline && now > *entry.deadline)
        return 'C';
    return 'O';
}

UploadTime CheckUploadTime(const EntryDefinition& entry, std::optional<int64_t> extension,
                           int64_t now) {
    if (entry.statusOverride) {
        switch (*entry.statusOverride) {
        case 'U':
            return UploadTime::NotYetOpen;
        case 'O':
            return UploadTime::Open;
        default:
            return UploadTime::Closed;
        }
    }
    if (entry.opens && now < *entry.opens)
        return UploadTime::NotYetOpen;
    const auto deadline = OwnDeadline(entry, extension);
    if (!deadline || now <= *deadline)
        return UploadTime::Open;
    if (entry.lateUntil && now <= *entry.lateUntil)
        return UploadTime::Late;
    return UploadTime::Closed;
}

int32_t ExamSelector(const EntryDefinition& entry, int32_t student) {
    // Neighbouring numbers get different halves of a divided exam.
    constexpr int32_t kFirstHalf = 2;
    constexpr int32_t kSecondHalf = 3;
    return entry.examSelector.value_or(student % 2 == 0 ? kFirstHalf : kSecondHalf);
}

EntryPlace EntryPlaceOf(const CourseDefinition& course, int32_t index) {
    // Entries are component-major, element by element, sections in order.
    int32_t first = 0;
    for (const auto& c : course.components) {
        if (index < first + c.elements * c.sections) {
            const int32_t sections = std::max(c.sections, 1);
            return {c.name, (index - first) / sections + 1, sections};
        }
        first += c.elements * c.sections;
    }
    return {};
}

std::optional<int64_t> OwnDeadline(const EntryDefinition& entry, std::optional<int64_t> extension) {
    return extension ? extension : entry.deadline;
}

int64_t SecondsLate(const EntryDefinition& entry, std::optional<int64_t> extension, int64_t time) {
    const auto deadline = OwnDeadline(entry, extension);
    return deadline && time > *deadline ? time - *deadline : 0;
}

bool IsValidEntryKey(std::string_view key) {
    if (key.empty() || key.size() > 40 || !std::isalpha(static_cast<unsigned char>(key[0])))
        return false;
    return std::all_of(key.begin(), key.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

std::vector<std::string> DefaultEntryKeys(const std::vector<ComponentDefinition>& components) {
    std::vector<std::string> keys;
    std::set<std::string> stems;
    for (std::size_t c = 0; c < components.size(); ++c) {
        std::string stem;
        for (const char ch : components[c].name) {
            const auto u = static_cast<unsigned char>(ch);
            if (u < 0x80 && std::isalnum(u))
                stem += char(std::tolower(u));
            else if (!stem.empty() && stem.back() != '-')
                stem += '-';
        }
        while (!stem.empty() && stem.back() == '-')
            stem.pop_back();
        if (stem.empty() || !std::isalpha(static_cast<unsigned char>(stem[0])))
            stem = "c" + stem;
        stem = stem.substr(0, 24);
        if (!stems.insert(stem).second)
            stem += "-c" + std::to_string(c + 1);
        const auto& component = components[c];
        for (int32_t e = 0; e < component.elements; ++e)
            for (int32_t s = 0; s < component.sections; ++s)
                keys.push_back(stem + '-' + std::to_string(e + 1) +
                               (component.sections > 1 ? '-' + std::to_string(s + 1) : ""));
    }
    return keys;
}

namespace {

// Dotted-decimal IPv4 text to a 32-bit value; none unless exactly four numbers 0..255.
std::optional<uint32_t> ParseIpv4(std::string_view text) {
    uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.')
                return std::nullopt;
            text.remove_prefix(1);
        }
        unsigned octet = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), octet);
        if (error != std::errc() || end == text.data() || octet > 255 || end - text.data() > 3)
            return std::nullopt;
        text.remove_prefix(std::size_t(end - text.data()));
        value = (value << 8) | octet;
    }
    if (!text.empty())
        return std::nullopt;
    return value;
}

bool Matches(std::string_view pattern, uint32_t address) {
    int bits = 32;
    if (const auto slash = pattern.find('/'); slash != std::string_view::npos) {
        const std::string_view width = pattern.substr(slash + 1);
        const auto [end, error] = std::from_chars(width.data(), width.data() + width.size(), bits);
        if (error != std::errc() || end != width.data() + width.size() || bits < 0 || bits > 32)
            return false;
        pattern = pattern.substr(0, slash);
    }
    const auto network = ParseIpv4(pattern);
    if (!network)
        return false;
    const uint32_t mask = bits == 0 ? 0 : ~uint32_t(0) << (32 - bits);
    return (*network & mask) == (address & mask);
}

} // namespace

bool IsValidAllowPattern(std::string_view pattern) {
    // A pattern is valid when it matches at least its own network address.
    const auto slash = pattern.find('/');
    const auto network = ParseIpv4(pattern.substr(0, slash));
    return network && Matches(pattern, *network);
}

bool AddressAllowed(const std::vector<std::string>& allowList, std::string_view address) {
    if (allowList.empty())
        return true;
    const auto value = ParseIpv4(address);
    if (!value)
        return false;
    for (const auto& pattern : allowList)
        if (Matches(pattern, *value))
            return true;
    return false;
}

} // namespace tallyport::server
