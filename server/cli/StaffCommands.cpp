#include "cli/StaffCommands.h"
#include "common/UtcText.h"

#include "web/MarkerPassword.h"

#include <termios.h>
#include <unistd.h>

#include <ctime>
#include <iomanip>
#include <iostream>
#include <map>
#include <ostream>

namespace tallyport::server {
namespace {

// One line of standard input without its line end; none at the end of input.
std::optional<std::string> ReadSecretLine() {
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// Asks on the terminal with echo off; the echo comes back whatever happens.
std::optional<std::string> AskWithoutEcho(const std::string& prompt, std::ostream& err) {
    termios saved{};
    const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    err << prompt << std::flush;
    auto line = ReadSecretLine();
    if (terminal)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    err << '\n';
    return line;
}

} // namespace

int SetMarkerPassword(Store& store, const std::string& id, std::ostream& out, std::ostream& err) {
    if (!store.FindMarker(id)) {
        err << "tallyport-server: no marker " << id << " (add one with: marker add)\n";
        return 1;
    }
    std::optional<std::string> password;
    if (isatty(STDIN_FILENO)) {
        password = AskWithoutEcho("New password for " + id + ": ", err);
        const auto again = AskWithoutEcho("The same password again: ", err);
        if (password && again && *password != *again) {
            err << "tallyport-server: the two passwords differ; nothing was changed\n";
            return 1;
        }
    } else {
        password = ReadSecretLine();
    }
    if (!password || password->empty()) {
        err << "tallyport-server: no password given; nothing was changed\n";
        return 1;
    }
    if (const std::string problem = staff::MarkerPasswordProblem(*password); !problem.empty()) {
        err << "tallyport-server: " << problem << "; nothing was changed\n";
        return 1;
    }
    const auto hash = staff::HashMarkerPassword(*password);
    if (!hash || !store.SetMarkerPassword(id, *hash)) {
        err << "tallyport-server: the password could not be stored\n";
        return 1;
    }
    out << "password of marker " << id << " set\n";
    return 0;
}

void PrintMarkers(const Store& store, std::ostream& out) {
    out << "id                name                      admin  password  courses\n";
    for (const auto& [marker, hasPassword] : store.ListMarkers()) {
        std::string courses;
        for (const int32_t course : marker.courses)
            courses += (courses.empty() ? "" : ",") + std::to_string(course);
        out << std::left << std::setw(18) << marker.id << std::setw(26) << marker.name
            << std::setw(7) << (marker.admin ? "yes" : "no") << std::setw(10)
            << (hasPassword ? "set" : "none") << (courses.empty() ? "-" : courses) << '\n';
    }
}

int RemoveMarker(Store& store, const std::string& id, std::ostream& out, std::ostream& err) {
    if (!store.FindMarker(id)) {
        err << "tallyport-server: no marker " << id << '\n';
        return 1;
    }
    if (!store.RemoveMarker(id)) {
        err << "tallyport-server: the marker could not be removed\n";
        return 1;
    }
    out << "marker " << id << " removed; its staff sessions are refused from now on\n";
    return 0;
}

void PrintAudit(const Store& store, std::optional<int32_t> course, std::ostream& out) {
    auto number = [](const std::optional<int32_t>& value) {
        return value ? std::to_string(*value) : std::string("-");
    };
    std::map<std::pair<int32_t, int32_t>, std::string> keys; // (course, entry id) -> key
    for (const auto& definition : store.Courses()) {
        for (const auto& entry : definition.entries)
            keys[{definition.number, entry.id}] = entry.key;
        for (const auto& entry : store.ArchivedEntries(definition.number))
            keys[{definition.number, entry.id}] = entry.key;
    }
    out << "time                  marker        action             course  entry         serial  "
           "old  new  student    version  subject\n";
    for (const auto& r : store.Audit(course)) {
        const auto key = keys.find({r.course, r.entry});
        const std::string entry = r.entry == kWholeCourse ? "-"
                                  : key != keys.end()     ? key->second
                                                          : "#" + std::to_string(r.entry);
        out << std::left << std::setw(22) << UtcText(r.time) << std::setw(14) << r.actor
            << std::setw(19) << r.action << std::setw(8) << r.course << std::setw(14) << entry
            << std::setw(8) << number(r.serial) << std::setw(5) << number(r.oldMark) << std::setw(5)
            << number(r.newMark) << std::setw(11) << number(r.student) << std::setw(9)
            << (r.version ? std::to_string(*r.version) : std::string("-"))
            << r.subject.value_or("-") << '\n';
    }
}

} // namespace tallyport::server
